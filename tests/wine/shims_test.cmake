# The platform shims' test under Wine (label wine). The program comes from the x86_64 Windows
# tree, which the README's test command builds before it runs the tests.
set(RK514_SHIMS_TEST_EXE "${CMAKE_SOURCE_DIR}/build/win64/platform/shims_test.exe"
    CACHE FILEPATH "shims_test.exe from the x86_64 Windows tree")
add_test(NAME wine.shims
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/shims_run.sh ${RK514_SHIMS_TEST_EXE})
set_tests_properties(wine.shims PROPERTIES LABELS wine TIMEOUT 600)
