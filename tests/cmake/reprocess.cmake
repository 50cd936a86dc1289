# The archive-reprocessing commands of docs/user-guide.md, each run as it stands
# there on generated nights, ending with their index. It runs tarnfits with -j 1.
foreach(recipe xargs parallel ssh slurm)
add_test(NAME reprocess_${recipe}_test
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../reprocess_archive_test.sh
    ${PROJECT_SOURCE_DIR} $<TARGET_FILE:tarnfits> $<TARGET_FILE:mknight> $<TARGET_FILE:tarnlook> ${recipe} $<TARGET_FILE:tarnindex>)
set_tests_properties(reprocess_${recipe}_test PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endforeach()
