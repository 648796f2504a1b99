# cmake -DTEXT=<binary of .text> -DMAX=<bytes> -P checksize.cmake: fails the build when the
# bootloader's code does not fit its boot section (below the version word).
file(SIZE ${TEXT} size)
if(size GREATER MAX)
  message(FATAL_ERROR "Optiboot .text is ${size} bytes: does not fit the ${MAX} bytes below the version word")
endif()
message(STATUS "Optiboot .text: ${size} bytes of ${MAX}")
