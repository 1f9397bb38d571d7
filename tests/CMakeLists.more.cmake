# Test folders registered by hand rather than by rk514_test_folder.
add_subdirectory(pe)
include(${CMAKE_CURRENT_SOURCE_DIR}/wine/suite.cmake)
include(${CMAKE_CURRENT_SOURCE_DIR}/sandbox/sandbox.cmake)
