# Upload worker: STK500 drivers and the run frame against scripted modules.
add_library(quarnel_uploadpeer STATIC uploadpeer.cpp uploadpeer.h protocolbytes.h stderrcapture.h testfiles.h)
target_link_libraries(quarnel_uploadpeer PUBLIC quarnel_upload Qt5::Network Qt5::Test PRIVATE quarnel_warnings quarnel_test_paths)

quarnel_add_test(tst_stk500v1 SOURCES tst_stk500v1.cpp LIBS quarnel_uploadpeer)
quarnel_add_test(tst_stk500v2 SOURCES tst_stk500v2.cpp LIBS quarnel_uploadpeer)
quarnel_add_test(tst_thread SOURCES tst_thread.cpp LIBS quarnel_uploadpeer)
quarnel_add_test(tst_datapipe SOURCES tst_datapipe.cpp LIBS quarnel_uploadpeer TIMEOUT 30)
quarnel_add_test(tst_handover SOURCES tst_handover.cpp LIBS quarnel_upload)

# End to end through the module simulator into the real bootloaders, with avrdude reading back.
quarnel_add_test(tst_uploadsim SOURCES tst_uploadsim.cpp simprocess.h avrdude.h LIBS quarnel_uploadpeer TIMEOUT 400)
add_dependencies(tst_uploadsim quarnel-sim quarnel-cli avr_blink_uno avr_full_uno avr_blink_mega avr_big_mega avr_huge_mega
  avr_serialflood avr_serialflood_mega)

quarnel_add_test(tst_moduleboards SOURCES tst_moduleboards.cpp LIBS quarnel_upload TIMEOUT 30)
# The one upload queue and the choice of rows for it.
quarnel_add_test(tst_uploadbatch SOURCES tst_uploadbatch.cpp LIBS quarnel_upload TIMEOUT 60)
