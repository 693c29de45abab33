# TCrossRegistry against values written by the system registry tool in both views, under Wine.
corvane_gtest(cm_cross_registry_test SOURCES CrossRegistry/CrossRegistry_test.cpp LIBS cm_win32)
