# Discovery: announcement reader, listener, presence.
quarnel_add_test(tst_announcement SOURCES tst_announcement.cpp LIBS quarnel_discovery Qt5::Script)
quarnel_add_test(tst_listener_rowindex SOURCES tst_listener_rowindex.cpp LIBS quarnel_discovery Qt5::Widgets)
quarnel_add_test(tst_listener SOURCES tst_listener.cpp announcer.h LIBS quarnel_widget UDP3333)
quarnel_add_test(tst_presence SOURCES tst_presence.cpp LIBS quarnel_discovery TIMEOUT 30)
quarnel_add_test(tst_modulelistener SOURCES tst_modulelistener.cpp LIBS quarnel_discovery TIMEOUT 30)
quarnel_add_test(tst_listener_sim SOURCES tst_listener_sim.cpp simprocess.h LIBS quarnel_widget UDP3333 TIMEOUT 90)
add_dependencies(tst_listener_sim quarnel-sim)
