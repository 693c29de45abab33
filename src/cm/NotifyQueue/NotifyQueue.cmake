# NotifyQueue: notify queues, clocks and the hidden message windows they and the remote control
# use. It reports through hooks that the log installs: this layer depends on no log.
add_library(cm_notify STATIC
  NotifyQueue/NotifyQueue.cpp
  NotifyQueue/MessageWindow.cpp
)
target_link_libraries(cm_notify PUBLIC cm_threads user32)
