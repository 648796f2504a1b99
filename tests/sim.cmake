# Module simulator (quarnel-sim): its parsers directly, the running program, and avrdude as an
# independent client through a simulated module to the real bootloaders.
quarnel_add_test(tst_simparsers SOURCES tst_simparsers.cpp LIBS quarnel_simmodule TIMEOUT 30)

quarnel_add_test(tst_simmodule SOURCES tst_simmodule.cpp simprocess.h LIBS Qt5::Network TIMEOUT 90)
add_dependencies(tst_simmodule quarnel-sim avr_blink_uno avr_serialflood)

quarnel_add_test(tst_simavrdude SOURCES tst_simavrdude.cpp simprocess.h avrdude.h LIBS Qt5::Network TIMEOUT 240)
add_dependencies(tst_simavrdude quarnel-sim avr_blink_uno avr_full_uno avr_blink_mega avr_big_mega avr_serialflood avr_serialflood_mega)
