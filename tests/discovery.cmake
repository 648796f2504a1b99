# Discovery: announcement reader, listener, presence.
quarnel_add_test(tst_announcement SOURCES tst_announcement.cpp LIBS quarnel_discovery Qt5::Script)
quarnel_add_test(tst_listener_rowindex SOURCES tst_listener_rowindex.cpp LIBS quarnel_discovery Qt5::Widgets)
quarnel_add_test(tst_listener SOURCES tst_listener.cpp announcer.h LIBS quarnel_widget UDP3333)
quarnel_add_test(tst_presence SOURCES tst_presence.cpp LIBS quarnel_discovery TIMEOUT 30)
quarnel_add_test(tst_listener_sim SOURCES tst_listener_sim.cpp simprocess.h LIBS quarnel_widget UDP3333 TIMEOUT 90)
add_dependencies(tst_listener_sim quarnel-sim)

if(QUARNEL_FUZZ)
  # The reader's sources are compiled with coverage instrumentation; the script engine that the
  # target compares against links as installed.
  add_executable(fuzz_announcement fuzz/fuzz_announcement.cpp
      ${PROJECT_SOURCE_DIR}/discovery/announcement.cpp ${PROJECT_SOURCE_DIR}/discovery/objectliteral.cpp)
  target_include_directories(fuzz_announcement PRIVATE ${PROJECT_SOURCE_DIR}/discovery)
  target_link_libraries(fuzz_announcement PRIVATE Qt5::Core Qt5::Script)
  target_compile_options(fuzz_announcement PRIVATE ${QUARNEL_WARNINGS} -fsanitize=fuzzer,address,undefined)
  target_link_options(fuzz_announcement PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(fuzz_announcement PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endif()
