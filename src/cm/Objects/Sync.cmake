# Synchronisation wrappers and guarded waits (cm/Objects, Win32).
target_sources(cm_win32 PRIVATE Objects/Sync.cpp)
target_link_libraries(cm_win32 PUBLIC advapi32)
