quarnel_add_test(tst_widget SOURCES tst_widget.cpp LIBS quarnel_widget UDP3333)
quarnel_add_test(tst_startoptions SOURCES tst_startoptions.cpp LIBS quarnel_startoptions TIMEOUT 30)
quarnel_add_test(tst_modulework SOURCES tst_modulework.cpp LIBS quarnel_widget TIMEOUT 30)
