# The simulated AVR board (sim/avrboard): real bootloaders under libsimavr at real time.
quarnel_add_test(tst_avrboard SOURCES tst_avrboard.cpp LIBS quarnel_simboard TIMEOUT 300 LABELS sim)
target_include_directories(tst_avrboard PRIVATE ${PROJECT_SOURCE_DIR}/upload) # the protocol constants
add_dependencies(tst_avrboard avr_serialecho avr_serialflood avr_serialecho_mega avr_serialflood_mega)
