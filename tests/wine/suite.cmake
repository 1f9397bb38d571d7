# The Wine suite. On the host: the checker (rk514_wine_check), which also runs each case on the
# simulated machine, and its own tests (label scenarios). Under Wine (label wine), once per Windows
# tree: the template prefixes, one test per case of cases.txt, the screenshots' test and the
# platform's own test program. wine.*: the shipped i686 build (build/win32) in 32-bit Wine;
# wine64.*: the x86_64 build (build/win64) in 64-bit Wine. The README's test command builds both
# trees before the tests. Where this machine runs no 32-bit programs, the wine.* tests say so and
# are reported as skipped (exit code 77); a 32-bit Wine that cannot be set up fails them.
set(wine_dir ${CMAKE_CURRENT_LIST_DIR})

add_library(rk514_wine_sim STATIC ${wine_dir}/sim_case.cpp)
rk514_hot_code(rk514_wine_sim)
target_include_directories(rk514_wine_sim PUBLIC ${wine_dir})
target_link_libraries(rk514_wine_sim PUBLIC rk514_machines rk514_app rk514_removal rk514_platform)

add_executable(rk514_wine_check ${wine_dir}/check.cpp)
target_link_libraries(rk514_wine_check PRIVATE rk514_wine_sim)

add_executable(wine_suite_tests ${wine_dir}/wine_suite_test.cpp)
target_link_libraries(wine_suite_tests PRIVATE rk514_wine_sim GTest::gtest GTest::gtest_main)
target_compile_definitions(wine_suite_tests PRIVATE RK514_WINE_DIR="${wine_dir}")
gtest_discover_tests(wine_suite_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS scenarios)

# The screenshot check itself, on pictures made from the kept ones (no Wine needed): faults of a
# dialog fail it, what differs from run to run does not.
add_test(NAME wine_screenshot_check
         COMMAND bash ${wine_dir}/check_shots_test.sh ${wine_dir}/check_shots.sh
                 ${CMAKE_SOURCE_DIR}/docs/dialogs ${CMAKE_BINARY_DIR}/wine_screenshot_check)
set_tests_properties(wine_screenshot_check PROPERTIES LABELS scenarios TIMEOUT 120)

set(RK514_WIN32_DIR "${CMAKE_SOURCE_DIR}/build/win32"
    CACHE PATH "The i686 Windows tree whose KB47UNIN.EXE and Wine tools run in 32-bit Wine")
set(RK514_WIN64_DIR "${CMAKE_SOURCE_DIR}/build/win64"
    CACHE PATH "The x86_64 Windows tree whose KB47UNIN.EXE and Wine tools run in 64-bit Wine")

# A case added to cases.txt is a new test: the file is read at configure time.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${wine_dir}/cases.txt)
file(STRINGS ${wine_dir}/cases.txt case_lines REGEX "^[a-z0-9]")

# The suite's tests for one tree: NAME.templates, NAME.case.CASE, NAME.screenshots, NAME.platform.
function(rk514_wine_suite name arch tree)
  set(out ${CMAKE_BINARY_DIR}/${name})
  set(env
      RK514_EXE=${tree}/app/KB47UNIN.EXE
      RK514_WINE_TOOLS=${tree}/tools/wine
      RK514_CHECK=$<TARGET_FILE:rk514_wine_check>
      RK514_TEMPLATES=${out}/templates
      RK514_WINE_ARCH=${arch})
  set(common LABELS wine SKIP_RETURN_CODE 77)

  add_test(NAME ${name}.templates COMMAND bash ${wine_dir}/prepare_templates.sh ${out}/templates ${arch})
  # Started first, even on a tree that has run no tests yet: every Wine test waits for it.
  set_tests_properties(${name}.templates PROPERTIES ${common} TIMEOUT 300 COST 1000
                       FIXTURES_SETUP ${name}_templates)

  foreach(line IN LISTS case_lines)
    string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
    list(GET fields 0 case)
    list(GET fields 1 scenario)
    list(GET fields 2 flow)
    list(GET fields 3 next)
    add_test(NAME ${name}.case.${case}
             COMMAND bash ${wine_dir}/run_case.sh ${case} ${wine_dir}/scenarios/${scenario} ${flow}
                     ${next} ${wine_dir}/expected ${out}/cases/${case})
    set_tests_properties(${name}.case.${case} PROPERTIES ${common} TIMEOUT 300
                         ENVIRONMENT "${env}" FIXTURES_REQUIRED ${name}_templates
                         FIXTURES_SETUP ${name}_cases)
  endforeach()

  # The screenshots are build outputs (build/.../NAME/cases/CASE/shots/*.png): each is a picture
  # of the screen with the window on it, the same as the one kept in docs/dialogs for its release
  # (scripts/wine_pictures.sh renews those). Both trees draw the same dialogs with the same Wine.
  add_test(NAME ${name}.screenshots
           COMMAND bash ${wine_dir}/check_shots.sh ${CMAKE_SOURCE_DIR}/docs/dialogs ${out}/cases
                   win98-ok-no:welcome,progress,restart win95-ok-no:welcome,progress,restart
                   win98-ok-yes:welcome,progress,restart win95-cancel:welcome,aborted)
  set_tests_properties(${name}.screenshots PROPERTIES ${common} TIMEOUT 60
                       ENVIRONMENT "RK514_WINE_ARCH=${arch}" FIXTURES_REQUIRED ${name}_cases)

  # The platform's own test program: the RegDeleteKeyA shim and the text-mode table.
  add_test(NAME ${name}.platform
           COMMAND bash ${wine_dir}/platform_run.sh ${tree}/platform/platform_test.exe ${arch}
                   ${out}/templates)
  set_tests_properties(${name}.platform PROPERTIES ${common} TIMEOUT 600
                       FIXTURES_REQUIRED ${name}_templates)
endfunction()

rk514_wine_suite(wine win32 ${RK514_WIN32_DIR})
rk514_wine_suite(wine64 win64 ${RK514_WIN64_DIR})
