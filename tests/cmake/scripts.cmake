# The busy-machine watcher scripts/stall-children, and the filters of the
# CTest steps in scripts/ (it needs root for the watcher's process events).
add_test(NAME stall_children_test
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../stall_children_test.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(stall_children_test PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
