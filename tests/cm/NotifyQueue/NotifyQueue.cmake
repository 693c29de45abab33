# Notify queues, clocks and hidden message windows, under Wine (the windows need a display). One
# test reads the real log file.
corvane_gtest(cm_notify_test SOURCES NotifyQueue/NotifyQueue_test.cpp LIBS cm_notify diagnostics packets_win32)
