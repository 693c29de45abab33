// The thread pool's workers, WakeWorkers and ShutdownPool, over the least pool they need.
#include "cm/ThreadPool/SafeThread.h"
#include "cm/ThreadPool/ThreadPool.h"

#include "cm/Objects/Errors.h"

namespace cm {

namespace {

constexpr const char* ThreadPoolUnit = "cm/ThreadPool";

void CheckGuard(const TThreadPool& pool, int line) {
    if (pool.Guard != ThreadPoolGuard)
        AssertionFailure(ThreadPoolUnit, line, "TThreadPool <- memory overwrite or call to dead object detected");
}

}  // namespace

TThreadPoolThread::TThreadPoolThread(TThreadPool* pool, bool createSuspended)
    : TSafeThread(createSuspended, false), Pool(pool) {}

TThreadPoolThread::~TThreadPoolThread() {
    // The pool is Stopping by now (its destructor shuts it down first): a signal lets a sleeping
    // worker see it.
    if (!Finished) {
        try {
            WakeEvent.Signal();
        } catch (...) {
        }
    }
    StopThread();
}

void TThreadPoolThread::Execute() {
    while (!Pool->Stopping) {
        if (TWorkItem* item = Pool->TakeNextItem()) {
            item->Thread = this;
            try {
                item->Execute();
            } catch (const std::exception& e) {
                item->ErrorMessage = e.what();
            }
            Pool->ItemCompleted(item);
            continue;
        }
        WakeEvent.Wait(WaitInfinite);
        Woken = false;
        if (Pool->Stopping) break;
    }
}

TThreadPool::TThreadPool(int workerCount, bool startSuspended) {
    CM_ASSERT(ThreadPoolUnit, workerCount > 0);
    Threads.reserve(static_cast<size_t>(workerCount));
    for (int i = 0; i < workerCount; ++i) Threads.push_back(MakeThread<TThreadPoolThread>(this, startSuspended));
}

TThreadPool::~TThreadPool() {
    // Not ShutdownPool, whose wait would never end for a worker still suspended: each worker's
    // destructor wakes it (resuming it when suspended) and waits for it to see Stopping.
    Stopping = true;
    Threads.clear();
    *static_cast<volatile uint32_t*>(&Guard) = 0;
}

void TThreadPool::Add(TWorkItem* item, int queue) {
    CheckGuard(*this, __LINE__);
    CM_ASSERT(ThreadPoolUnit, item != nullptr);
    CM_ASSERT(ThreadPoolUnit, queue >= 0 && queue < ThreadPoolQueueCount);
    {
        TFastMutexLock lock(Lock);
        Queues[queue].push_back(item);
    }
    WakeWorkers(*this, true);
}

void TThreadPool::AddIdle(TWorkItem* item) {
    CheckGuard(*this, __LINE__);
    CM_ASSERT(ThreadPoolUnit, item != nullptr);
    {
        TFastMutexLock lock(Lock);
        IdleList.push_back(item);
    }
    WakeWorkers(*this, true);
}

TWorkItem* TThreadPool::TakeNextItem() {
    TFastMutexLock lock(Lock);
    for (auto& queue : Queues) {
        if (!queue.empty()) {
            TWorkItem* item = queue.front();
            queue.pop_front();
            return item;
        }
    }
    if (!IdleList.empty()) {
        TWorkItem* item = IdleList.front();
        IdleList.pop_front();
        return item;
    }
    return nullptr;
}

void TThreadPool::ItemCompleted(TWorkItem* item) {
    {
        TFastMutexLock lock(Lock);
        Completed.push_back(item);
    }
    CompletedEvent.Signal();
}

std::vector<TWorkItem*> TThreadPool::TakeCompleted() {
    TFastMutexLock lock(Lock);
    return std::exchange(Completed, {});
}

int TThreadPool::QueuedCount() {
    TFastMutexLock lock(Lock);
    size_t count = 0;
    for (const auto& queue : Queues) count += queue.size();
    return static_cast<int>(count);
}

void WakeWorkers(TThreadPool& pool, bool onlyAsNeeded) {
    CheckGuard(pool, __LINE__);
    size_t toWake = pool.Threads.size();
    if (onlyAsNeeded) {
        bool idleEmpty;
        {
            TFastMutexLock lock(pool.Lock);
            idleEmpty = pool.IdleList.empty();
        }
        if (idleEmpty) toWake = std::min(toWake, static_cast<size_t>(pool.QueuedCount()));
    }
    for (size_t i = 0; i < toWake; ++i) {
        TThreadPoolThread& worker = *pool.Threads[i];
        bool expected = false;
        if (worker.Woken.compare_exchange_strong(expected, true)) worker.WakeEvent.Signal();
    }
}

void ShutdownPool(TThreadPool& pool) {
    CheckGuard(pool, __LINE__);
    if (pool.Stopping.exchange(true)) return;
    WakeWorkers(pool, false);
    for (auto& worker : pool.Threads) worker->WaitFor();
}

}  // namespace cm
