# Upload worker: STK500 drivers and the run frame against scripted modules.
add_library(tst_uploadpeer STATIC tst_uploadpeer.cpp tst_uploadpeer.h testfiles.h stderrcapture.h)
target_link_libraries(tst_uploadpeer PUBLIC quarnel_upload Qt5::Network Qt5::Test)
target_compile_options(tst_uploadpeer PRIVATE ${QUARNEL_WARNINGS})
target_compile_definitions(tst_uploadpeer PRIVATE QUARNEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")

quarnel_add_test(tst_stk500v1 SOURCES tst_stk500v1.cpp LIBS tst_uploadpeer)
quarnel_add_test(tst_stk500v2 SOURCES tst_stk500v2.cpp LIBS tst_uploadpeer)
quarnel_add_test(tst_thread SOURCES tst_thread.cpp LIBS tst_uploadpeer)

# End to end through the module simulator into the real bootloaders, with avrdude reading back.
quarnel_add_test(tst_uploadsim SOURCES tst_uploadsim.cpp simprocess.h avrdude.h LIBS tst_uploadpeer TIMEOUT 400)
add_dependencies(tst_uploadsim quarnel-sim avr_blink_uno avr_full_uno avr_blink_mega avr_big_mega avr_huge_mega)
