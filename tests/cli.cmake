# Command-line tool (quarnel-cli): its logic directly, then the program itself against simulated
# modules with the real bootloaders.
quarnel_add_test(tst_clilogic SOURCES tst_clilogic.cpp LIBS quarnel_cli TIMEOUT 30)
