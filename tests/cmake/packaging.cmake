# The manual pages, the Debian package and `cmake --install`, checked by a
# script on the built tree (it needs groff, man-db and dpkg-dev).
add_test(NAME package_test
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../package_test.sh
    ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${PROJECT_VERSION}
    ${CMAKE_COMMAND} ${CMAKE_CPACK_COMMAND})
set_tests_properties(package_test PROPERTIES TIMEOUT 120)
