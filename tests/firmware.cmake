# Firmware image preparation: HEX conversion, build-output finder, the firmware source, and the
# window's source slots.
quarnel_add_test(tst_hexconvert SOURCES tst_hexconvert.cpp stderrcapture.h testfiles.h LIBS quarnel_firmware)
foreach(program blink_uno blink_mega full_uno big_mega huge_mega)
  add_dependencies(tst_hexconvert avr_${program})
endforeach()
quarnel_add_test(tst_buildfinder SOURCES tst_buildfinder.cpp LIBS quarnel_firmware)
quarnel_add_test(tst_firmwaresource SOURCES tst_firmwaresource.cpp sandbox.h stderrcapture.h LIBS quarnel_firmware TIMEOUT 30)
quarnel_add_test(tst_sourceselection SOURCES tst_sourceselection.cpp windowharness.h sandbox.h LIBS quarnel_widget UDP3333)
quarnel_add_test(tst_buildchip SOURCES tst_buildchip.cpp testfiles.h LIBS quarnel_firmware TIMEOUT 30)
add_dependencies(tst_buildchip avr_blink_uno avr_blink_mega avr_serialecho)
