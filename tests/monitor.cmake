# Serial monitors: their logic without a window or module, then the monitor in the terminal, in
# the sketch build tools' protocol and in the window against a simulated board that prints and
# echoes.
quarnel_add_test(tst_monitorlogic SOURCES tst_monitorlogic.cpp LIBS quarnel_monitor TIMEOUT 30)

quarnel_add_test(tst_monitor SOURCES tst_monitor.cpp cliprocess.h simprocess.h LIBS Qt5::Network TIMEOUT 120)
add_dependencies(tst_monitor quarnel-cli quarnel-sim avr_serialecho avr_blink_uno avr_serialflood)

quarnel_add_test(tst_monitorwindow SOURCES tst_monitorwindow.cpp simprocess.h windowharness.h
    LIBS quarnel_widget UDP3333 TIMEOUT 180)
add_dependencies(tst_monitorwindow quarnel-sim avr_serialecho avr_serialflood)
