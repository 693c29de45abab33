# The processor-dependent seam (Architecture_x86.cpp / _x64.cpp), under Wine.
corvane_gtest(cm_architecture_test SOURCES Objects/Architecture_test.cpp LIBS cm_win32)
