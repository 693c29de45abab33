# Registry access across views (CrossRegistry, Win32).
target_sources(cm_win32 PRIVATE CrossRegistry/CrossRegistry.cpp)
target_link_libraries(cm_win32 PUBLIC advapi32)
