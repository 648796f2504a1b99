# Cross-building for Windows x86_64 with Debian's MinGW-w64 (posix thread model, which Qt's
# threads need). Pass the static Qt for MinGW as CMAKE_PREFIX_PATH; see scripts/build-windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARNEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARNEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARNEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARNEL_MINGW_TRIPLE}-windres)

# Libraries and packages come from the MinGW tree and from the Qt given as prefix, never from
# this machine's own; programs (moc, uic, rcc of that Qt) run here.
set(CMAKE_FIND_ROOT_PATH /usr/${QUARNEL_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, the C and C++ runtimes and winpthreads included: the programs need no
# DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
