# ThreadPool: thread classes, the message loop and the pool's workers, under Wine (the message
# loop tests use message-only windows, which need no display). Reads the real log file.
corvane_gtest(cm_threadpool_test SOURCES ThreadPool/ThreadPool_test.cpp LIBS cm_threads diagnostics packets_win32)
