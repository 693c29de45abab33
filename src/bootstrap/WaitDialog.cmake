# The wait dialog runs on a TMethodThread: bootstrap_core needs the thread library.
target_sources(bootstrap_core PRIVATE WaitDialog.cpp)
target_link_libraries(bootstrap_core PUBLIC cm_threads comctl32 gdi32)
