# Tests of the file-system routines (FileSystem.cpp, Enumerate.cpp, SystemWrappers.cpp).
corvane_gtest(cm_objects_filesystem_test SOURCES Objects/FileSystem_test.cpp LIBS cm_win32)
