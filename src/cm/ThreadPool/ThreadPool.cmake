# ThreadPool: thread classes, the guarded message loop and the pool's workers. A library of its
# own because thread bodies log their errors: cm_win32 -> diagnostics -> cm_threads.
add_library(cm_threads STATIC
  ThreadPool/SafeThread.cpp
  ThreadPool/MessageLoop.cpp
  ThreadPool/ThreadPool.cpp
)
# src/diagnostics is added after src/cm: linked by name.
target_link_libraries(cm_threads PUBLIC cm_win32 diagnostics)
