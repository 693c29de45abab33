// The thread pool: worker threads (TSafeThread descendants) taking work items from a shared
// queue. Win32 only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "cm/ThreadPool/SafeThread.h"

namespace cm {

class TThreadPool;
class TThreadPoolThread;

// A unit of work of the pool. The pool does not own items.
class TWorkItem : public TObject {
public:
    virtual void Execute() = 0;

    TThreadPoolThread* Thread = nullptr;  // the worker that ran the item
    std::string ErrorMessage;             // the message of the error the item raised, if any
};

// A worker of the pool: takes and runs items until the pool is Stopping.
class TThreadPoolThread : public TSafeThread {
public:
    TThreadPoolThread(TThreadPool* pool, bool createSuspended);
    ~TThreadPoolThread() override;
    void Execute() override;

    TThreadPool* Pool;
    TWinEvent WakeEvent{nullptr, "", false, false};  // auto-reset
    std::atomic<bool> Woken{false};  // a wake-up was sent and not yet consumed
};

constexpr uint32_t ThreadPoolGuard = 0x195C05AF;
constexpr int ThreadPoolQueueCount = 5;

// The least pool the workers need: five FIFO queues (0 is taken first), an idle list of items run
// only when every queue is empty, and a completed list with an event. Items are not owned.
class TThreadPool : public TObject {
public:
    // Starts workerCount workers (suspended when asked; Resume them through Threads).
    TThreadPool(int workerCount, bool startSuspended = false);
    // Stops the workers (suspended ones included), waits for each, frees them and clears Guard.
    ~TThreadPool() override;
    TThreadPool(const TThreadPool&) = delete;
    TThreadPool& operator=(const TThreadPool&) = delete;

    // Appends the item to the queue (0..4; an assertion otherwise) and wakes workers as needed.
    void Add(TWorkItem* item, int queue);
    // Appends the item to the idle list and wakes workers as needed.
    void AddIdle(TWorkItem* item);
    // The next item to run (nullptr when there is none); called by the workers.
    TWorkItem* TakeNextItem();
    // Receives an item a worker has run; signals CompletedEvent.
    void ItemCompleted(TWorkItem* item);
    // Removes and returns the completed items, in order of completion.
    std::vector<TWorkItem*> TakeCompleted();
    // Number of items in the five queues together.
    int QueuedCount();

    uint32_t Guard = ThreadPoolGuard;
    std::vector<std::unique_ptr<TThreadPoolThread>> Threads;
    std::atomic<bool> Stopping{false};
    std::deque<TWorkItem*> IdleList;
    std::deque<TWorkItem*> Queues[ThreadPoolQueueCount];
    TFastMutex Lock;  // guards the queues, the idle list and the completed list
    std::vector<TWorkItem*> Completed;
    TWinEvent CompletedEvent{nullptr, "", false, false};  // auto-reset
};

// Wakes sleeping workers: all of them, or with onlyAsNeeded and an empty idle list at most as
// many as there are queued items. A worker whose wake-up is still pending is skipped.
// A pool whose Guard is wrong is an assertion failure (cm/ThreadPool).
void WakeWorkers(TThreadPool& pool, bool onlyAsNeeded);

// Stops all workers and blocks until each has ended (in list order). Returns at once when the
// pool is already Stopping. Guard as WakeWorkers.
void ShutdownPool(TThreadPool& pool);

}  // namespace cm
