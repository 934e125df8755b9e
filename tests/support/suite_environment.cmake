# Read by ctest after the discovered test list: gives every test the
# environment the suite relies on as one list (the PROPERTIES option of
# gtest_discover_tests would split it). The test program sets it too.
set_tests_properties(${ismgr_tests_TESTS} PROPERTIES ENVIRONMENT "TZ=UTC;RETRYTIME=0")
