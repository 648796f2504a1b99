quarnel_add_test(tst_widget SOURCES tst_widget.cpp LIBS quarnel_widget UDP3333)
