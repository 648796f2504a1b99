# The whole tool in the real window against simulated modules with their real bootloaders.
quarnel_add_test(tst_uploadwindow SOURCES tst_uploadwindow.cpp simprocess.h windowharness.h
    LIBS quarnel_widget UDP3333 TIMEOUT 300)
add_dependencies(tst_uploadwindow quarnel-sim avr_blink_uno avr_blink_mega avr_full_uno avr_big_mega)
