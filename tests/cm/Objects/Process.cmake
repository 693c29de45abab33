# Tests of RunProcess and SetProcessExitCode (Process.cpp, ExitCode.cpp).
# The child program is started by the test from its own directory.
add_executable(cm_process_child Objects/ProcessChild.cpp)
target_link_libraries(cm_process_child PRIVATE cm_win32)
set_target_properties(cm_process_child PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

corvane_gtest(cm_process_test
  SOURCES Objects/Process_test.cpp
  LIBS cm_win32)
add_dependencies(cm_process_test cm_process_child)
