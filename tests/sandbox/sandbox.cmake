# The sandbox tool (tools/sandbox): its pieces in-process (the terminal picture and keys, the
# answer list, whole runs on the sample machines), the built rk514-sandbox itself (reports, errors
# and exit codes, the input image left alone), label sandbox; and a person at the terminal,
# played under tmux, label tui.
# The report's inventory is checked over the random machines of tests/safety.
find_package(nlohmann_json 3 REQUIRED)
set(sandbox_test_dir ${CMAKE_CURRENT_LIST_DIR})
add_executable(sandbox_tests
  ${sandbox_test_dir}/layout_test.cpp ${sandbox_test_dir}/answers_test.cpp ${sandbox_test_dir}/report_test.cpp
  ${sandbox_test_dir}/tool_test.cpp ${sandbox_test_dir}/inventory_test.cpp
  ${sandbox_test_dir}/../safety/machine_generator.cpp)
target_include_directories(sandbox_tests PRIVATE ${sandbox_test_dir}/../safety)
target_link_libraries(sandbox_tests PRIVATE rk514_sandbox rk514_machines rk514_test_support rapidcheck
                      nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main)
target_compile_definitions(sandbox_tests PRIVATE
  RK514_SANDBOX="$<TARGET_FILE:rk514-sandbox>" RK514_SAMPLES_DIR="${PROJECT_BINARY_DIR}/samples"
  RK514_DISKS_DIR="${PROJECT_BINARY_DIR}/disks" RK514_WIN32_EXE="${RK514_WIN32_EXE}")
add_dependencies(sandbox_tests rk514-sandbox)
gtest_discover_tests(sandbox_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sandbox FIXTURES_REQUIRED disks)

# The test disks (build/<preset>/disks): every sample and Wine scenario machine as a machine image
# and on two disks made with dosfstools and mtools, their registry in SYSTEM.DAT and USER.DAT
# written by the tests' own writer of the format and read back with libcreg; and the bad disks.
add_executable(rk514_make_test_disk ${sandbox_test_dir}/make_test_disk.cpp ${sandbox_test_dir}/creg_writer.cpp)
target_link_libraries(rk514_make_test_disk PRIVATE rk514_sandbox)
file(GLOB disk_scenarios CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/samples/*.scn ${PROJECT_SOURCE_DIR}/tests/wine/scenarios/*.scn)
add_test(NAME sandbox.disks
  COMMAND bash ${sandbox_test_dir}/make_disks.sh $<TARGET_FILE:rk514_make_image> $<TARGET_FILE:rk514_make_test_disk>
          ${PROJECT_BINARY_DIR}/disks ${disk_scenarios})
set_tests_properties(sandbox.disks PROPERTIES LABELS sandbox FIXTURES_SETUP disks TIMEOUT 300)
add_dependencies(sandbox_tests rk514_make_test_disk)

add_test(NAME sandbox.tui COMMAND bash ${sandbox_test_dir}/tui_test.sh $<TARGET_FILE:rk514-sandbox>)
set_tests_properties(sandbox.tui PROPERTIES LABELS tui TIMEOUT 180)

# The sandbox alone, as scripts/sandbox.sh builds it, configures without the test packages:
# GoogleTest and RapidCheck out of reach, as on a machine that has only the sandbox's list.
set(sandbox_alone ${PROJECT_BINARY_DIR}/sandbox-alone)
add_test(NAME sandbox.configuresWithoutTestPackages
  COMMAND bash -c "rm -rf '${sandbox_alone}' && '${CMAKE_COMMAND}' --preset sandbox -B '${sandbox_alone}' -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_rapidcheck=ON"
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
set_tests_properties(sandbox.configuresWithoutTestPackages PROPERTIES LABELS sandbox TIMEOUT 120)
