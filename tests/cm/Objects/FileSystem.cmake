# Tests of the file-system routines (FileSystem.cpp, Enumerate.cpp, SystemWrappers.cpp).
