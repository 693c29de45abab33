# ThreadPool: thread classes, the guarded message loop and the pool's workers. They report what
# they catch through hooks that the log installs: this layer depends on no log.
add_library(cm_threads STATIC
  ThreadPool/SafeThread.cpp
  ThreadPool/MessageLoop.cpp
  ThreadPool/ThreadPool.cpp
)
target_link_libraries(cm_threads PUBLIC cm_win32)
