# EventLog: the event sink interface and the default sink. Needs no operating system, so it goes
# into cm_portable (in whichever build includes this file).
target_sources(cm_portable PRIVATE EventLog/EventLog.cpp)
