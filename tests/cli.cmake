# Command-line tool (quarnel-cli): its logic directly, then the program itself against simulated
# modules with the real bootloaders.
quarnel_add_test(tst_clilogic SOURCES tst_clilogic.cpp LIBS quarnel_cli quarnel_version TIMEOUT 30)

quarnel_add_test(tst_cli SOURCES tst_cli.cpp cliprocess.h simprocess.h LIBS Qt5::Network TIMEOUT 240)
add_dependencies(tst_cli quarnel-cli quarnel-sim avr_blink_uno avr_blink_mega avr_full_uno avr_big_mega avr_huge_mega)

# On the real discovery port 3333: simulated modules announce to 127.0.0.1:3333.
quarnel_add_test(tst_cliscan SOURCES tst_cliscan.cpp cliprocess.h simprocess.h LIBS Qt5::Network UDP3333 TIMEOUT 90)
add_dependencies(tst_cliscan quarnel-cli quarnel-sim avr_blink_uno)

# Debian's Arduino IDE with the boards ide-setup writes: its discovery and upload through quarnel-cli
# into simulated boards with the real bootloaders.
quarnel_add_test(tst_ideupload SOURCES tst_ideupload.cpp arduinoide.h simprocess.h LIBS Qt5::Network UDP3333 TIMEOUT 400)
add_dependencies(tst_ideupload quarnel-cli quarnel-sim avr_serialflood)

# quarnel-cli identify and upload without --board: simulated boards printing behind their bootloaders.
quarnel_add_test(tst_identify SOURCES tst_identify.cpp cliprocess.h simprocess.h LIBS Qt5::Network TIMEOUT 240)
add_dependencies(tst_identify quarnel-cli quarnel-sim avr_blink_uno avr_serialecho avr_serialecho_mega)
