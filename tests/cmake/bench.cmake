# The correctness check of the benchmark (scripts/bench --check): the
# benchmark's night at N=2, converted by the three programs of this build,
# every output compared byte for byte with a plain reference. The timings of
# the benchmark themselves are no test.
add_test(NAME bench_check
  COMMAND ${CMAKE_COMMAND} -E env
    TARNFITS_EXE=$<TARGET_FILE:tarnfits>
    TARNFITS4_EXE=$<TARGET_FILE:tarnfits4>
    TARNFITS4S_EXE=$<TARGET_FILE:tarnfits4s>
    MKNIGHT_EXE=$<TARGET_FILE:mknight>
    ${PROJECT_SOURCE_DIR}/scripts/bench --check 2)
set_tests_properties(bench_check PROPERTIES TIMEOUT 300)
