# Guarded waits and the synchronisation wrappers (Sync.cpp), under Wine.
corvane_gtest(cm_sync_test SOURCES Objects/Sync_test.cpp LIBS cm_win32)
