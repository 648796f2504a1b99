# The Debian package as a user gets it: built from this tree by cpack, unpacked into a temporary
# root, its programs run, its menu entry and manual pages checked (tests/package/check-package).
add_test(NAME package COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package/check-package ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
set_tests_properties(package PROPERTIES TIMEOUT 120 LABELS package)
