# The text-mode table's program for the emulated runs (text_mode_exe.cpp): an i686 GUI program on
# the platform's own C runtime, as KB47UNIN.EXE is. Included by the Windows trees; the i686 one
# builds it, into its platform folder, where the emu tests look for it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_executable(text_mode_emu WIN32 ${CMAKE_CURRENT_LIST_DIR}/text_mode_exe.cpp)
  target_link_libraries(text_mode_emu PRIVATE rk514_platform rk514_program_options)
  target_include_directories(text_mode_emu PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../support)
  set_target_properties(text_mode_emu PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/platform)
endif()
