# Builds AVR programs with avr-gcc into ${CMAKE_BINARY_DIR}/avr/<name>.hex (and .elf, .bin).
find_program(AVR_GCC avr-gcc REQUIRED)
find_program(AVR_OBJCOPY avr-objcopy REQUIRED)
set(QUARNEL_AVR_DIR ${CMAKE_BINARY_DIR}/avr)
file(MAKE_DIRECTORY ${QUARNEL_AVR_DIR})

# quarnel_avr_program(NAME MCU mcu SOURCES ... [FLAGS ...] [DEPENDS ...])
function(quarnel_avr_program name)
  cmake_parse_arguments(A "" "MCU" "SOURCES;FLAGS;DEPENDS" ${ARGN})
  set(elf ${QUARNEL_AVR_DIR}/${name}.elf)
  set(hex ${QUARNEL_AVR_DIR}/${name}.hex)
  set(bin ${QUARNEL_AVR_DIR}/${name}.bin)
  set(sources)
  foreach(s ${A_SOURCES})
    list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/${s})
  endforeach()
  add_custom_command(OUTPUT ${elf} ${hex} ${bin}
    COMMAND ${AVR_GCC} -mmcu=${A_MCU} -DF_CPU=16000000UL -Os -Wall -Werror ${A_FLAGS} -o ${elf} ${sources}
    COMMAND ${AVR_OBJCOPY} -O ihex -R .eeprom ${elf} ${hex}
    COMMAND ${AVR_OBJCOPY} -I ihex -O binary ${hex} ${bin}
    DEPENDS ${sources} ${A_DEPENDS}
    COMMENT "avr-gcc ${name}"
    VERBATIM)
  add_custom_target(avr_${name} ALL DEPENDS ${hex})
endfunction()
