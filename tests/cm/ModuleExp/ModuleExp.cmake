# ModuleExp: PE parsing of images in memory (both builds); module handles and files under Wine.
corvane_gtest(cm_moduleexp_test SOURCES ModuleExp/ModuleExp_test.cpp ModuleExp/ResourceSection_test.cpp LIBS cm_portable)
if(CORVANE_WIN32)
  # A DLL with two named exports, loaded and read as a file by the tests.
  add_library(moduleexp_exports SHARED ModuleExp/ExportsDll.c)
  # GUI subsystem, as the setups the console bootstrap converts.
  target_link_options(moduleexp_exports PRIVATE -Wl,--subsystem,windows)
  set_target_properties(moduleexp_exports PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  corvane_gtest(cm_moduleexp_file_test SOURCES ModuleExp/ModuleExpFile_test.cpp LIBS cm_win32)
  add_dependencies(cm_moduleexp_file_test moduleexp_exports)
endif()
