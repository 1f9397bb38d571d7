# The Windows platform's own test program (a console program, whose output is its report), run
# under Wine by tests/wine/platform_run.sh. Included by the Windows trees; the executable stays
# in the platform's build folder, where the Wine suite looks for it.
add_executable(platform_test ${CMAKE_CURRENT_LIST_DIR}/platform_test.cpp)
target_include_directories(platform_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../support)
target_link_libraries(platform_test PRIVATE rk514_platform)
target_link_options(platform_test PRIVATE -static)
set_target_properties(platform_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/platform)
