# The archive-reprocessing command of docs/user-guide.md, run as it stands
# there on two generated nights. It runs tarnfits with -j 1.
add_test(NAME reprocess_archive_test
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../reprocess_archive_test.sh
    ${PROJECT_SOURCE_DIR} $<TARGET_FILE:tarnfits> $<TARGET_FILE:mknight>)
set_tests_properties(reprocess_archive_test PROPERTIES TIMEOUT 180)
