# EventLog: needs no operating system (runs in whichever build includes this file).
corvane_gtest(cm_eventlog_test SOURCES EventLog/EventLog_test.cpp LIBS cm_portable)
