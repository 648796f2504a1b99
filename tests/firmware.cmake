# Firmware image preparation: HEX conversion, build-output finder, the firmware source, and the
# window's source slots.
quarnel_add_test(tst_hexconvert SOURCES tst_hexconvert.cpp stderrcapture.h testfiles.h LIBS quarnel_firmware)
foreach(program blink_uno blink_mega full_uno big_mega huge_mega)
  add_dependencies(tst_hexconvert avr_${program})
endforeach()
quarnel_add_test(tst_buildfinder SOURCES tst_buildfinder.cpp LIBS quarnel_firmware)
quarnel_add_test(tst_firmwaresource SOURCES tst_firmwaresource.cpp sandbox.h stderrcapture.h LIBS quarnel_firmware TIMEOUT 30)
quarnel_add_test(tst_sourceselection SOURCES tst_sourceselection.cpp windowharness.h sandbox.h LIBS quarnel_widget UDP3333)

if(QUARNEL_FUZZ)
  # Each target compiles the code it feeds with coverage instrumentation; the rest links as built.
  set(fuzz_hex_sources ${PROJECT_SOURCE_DIR}/firmware/hexconvert.cpp)
  set(fuzz_listing_sources ${PROJECT_SOURCE_DIR}/firmware/buildfinder.cpp)
  foreach(target fuzz_hex fuzz_listing)
    add_executable(${target} fuzz/${target}.cpp ${${target}_sources})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/firmware)
    target_link_libraries(${target} PRIVATE quarnel_platform)
    target_compile_options(${target} PRIVATE ${QUARNEL_WARNINGS} -fsanitize=fuzzer,address,undefined
        -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endforeach()
endif()

# A short run of every fuzz target in a clang tree of its own (about a minute on two cores).
find_program(QUARNEL_CLANGXX clang++)
if(QUARNEL_CLANGXX AND NOT QUARNEL_FUZZ)
  add_test(NAME fuzz_smoke
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/fuzz --seconds 5 --build-dir ${CMAKE_BINARY_DIR}/fuzz-tree)
  set_tests_properties(fuzz_smoke PROPERTIES TIMEOUT 600 LABELS fuzz)
endif()
