# The whole tool in the real window against simulated modules with their real bootloaders.
quarnel_add_test(tst_uploadwindow SOURCES tst_uploadwindow.cpp simprocess.h windowharness.h
    LIBS quarnel_widget UDP3333 TIMEOUT 300)
add_dependencies(tst_uploadwindow quarnel-sim avr_blink_uno avr_blink_mega avr_full_uno avr_big_mega avr_serialflood_mega)

# Not a test: takes the README's screenshots under Xvfb (scripts/screenshots).
add_executable(quarnel-screenshots screenshots.cpp simprocess.h windowharness.h)
set_target_properties(quarnel-screenshots PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_include_directories(quarnel-screenshots PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quarnel-screenshots PRIVATE quarnel_widget Qt5::Test quarnel_test_paths)
target_link_libraries(quarnel-screenshots PRIVATE quarnel_warnings)
add_dependencies(quarnel-screenshots quarnel-sim avr_full_uno)
