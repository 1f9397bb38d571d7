# The Wine suite. On the host: the checker (rk514_wine_check), which also runs each case on the
# simulated machine, and its own tests (label scenarios). Under Wine (label wine): the template
# prefixes, one test per case of cases.txt, and the screenshots' test. The Windows programs come
# from the x86_64 tree (build/win64), which the README's test command builds before the tests.
set(wine_dir ${CMAKE_CURRENT_LIST_DIR})

add_library(rk514_wine_sim STATIC ${wine_dir}/sim_case.cpp)
target_include_directories(rk514_wine_sim PUBLIC ${wine_dir})
target_link_libraries(rk514_wine_sim PUBLIC rk514_test_support rk514_app rk514_removal rk514_platform)

add_executable(rk514_wine_check ${wine_dir}/check.cpp)
target_link_libraries(rk514_wine_check PRIVATE rk514_wine_sim)

add_executable(wine_suite_tests ${wine_dir}/wine_suite_test.cpp)
target_link_libraries(wine_suite_tests PRIVATE rk514_wine_sim GTest::gtest GTest::gtest_main)
target_compile_definitions(wine_suite_tests PRIVATE RK514_WINE_DIR="${wine_dir}")
gtest_discover_tests(wine_suite_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS scenarios)

set(RK514_WIN64_DIR "${CMAKE_SOURCE_DIR}/build/win64"
    CACHE PATH "The x86_64 Windows tree whose KB47UNIN.EXE and Wine tools the Wine suite runs")
set(wine_out ${CMAKE_BINARY_DIR}/wine)
set(wine_env
    RK514_EXE=${RK514_WIN64_DIR}/app/KB47UNIN.EXE
    RK514_WINE_TOOLS=${RK514_WIN64_DIR}/tools/wine
    RK514_CHECK=$<TARGET_FILE:rk514_wine_check>
    RK514_TEMPLATES=${wine_out}/templates)

add_test(NAME wine.templates COMMAND bash ${wine_dir}/prepare_templates.sh ${wine_out}/templates)
set_tests_properties(wine.templates PROPERTIES LABELS wine TIMEOUT 300 FIXTURES_SETUP wine_templates)

# A case added to cases.txt is a new test: the file is read at configure time.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${wine_dir}/cases.txt)
file(STRINGS ${wine_dir}/cases.txt case_lines REGEX "^[a-z0-9]")
set(shot_cases)
foreach(line IN LISTS case_lines)
  string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
  list(GET fields 0 name)
  list(GET fields 1 scenario)
  list(GET fields 2 flow)
  list(GET fields 3 next)
  add_test(NAME wine.case.${name}
           COMMAND bash ${wine_dir}/run_case.sh ${name} ${wine_dir}/scenarios/${scenario} ${flow}
                   ${next} ${wine_dir}/expected ${wine_out}/cases/${name})
  set_tests_properties(wine.case.${name} PROPERTIES LABELS wine TIMEOUT 300
                       ENVIRONMENT "${wine_env}" FIXTURES_REQUIRED wine_templates
                       FIXTURES_SETUP wine_cases)
endforeach()

# The screenshots are build outputs (build/.../wine/cases/NAME/shots/*.png): each is a real
# picture of the screen with the window on it, not a blank or missing file.
add_test(NAME wine.screenshots
         COMMAND bash ${wine_dir}/check_shots.sh ${wine_out}/cases
                 win98-ok-no:welcome,progress,restart win95-ok-no:welcome,progress,restart
                 win98-ok-yes:welcome,progress,restart win95-cancel:welcome,aborted)
set_tests_properties(wine.screenshots PROPERTIES LABELS wine TIMEOUT 60 FIXTURES_REQUIRED wine_cases)
