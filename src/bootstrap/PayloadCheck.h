// The payload's integrity check (resource 1000 against its record 1003), started as the program
// starts. Hashing tens of megabytes takes longer than everything the program does before its
// first write, which waits for the result: on a thread of its own the hashing overlaps the
// start-up and the wait dialog's creation instead of following them.
#pragma once

#include <exception>
#include <memory>

#include "cm/ThreadPool/SafeThread.h"
#include "cm/Objects/WinApi.h"

namespace bootstrap {

class TPayloadCheck {
public:
    // Starts the check on a thread; when no thread can be made, Wait does the work itself.
    // Never raises.
    explicit TPayloadCheck(HMODULE module) noexcept;
    // Waits for the thread (a check of a large payload may still be running).
    ~TPayloadCheck();
    TPayloadCheck(const TPayloadCheck&) = delete;
    TPayloadCheck& operator=(const TPayloadCheck&) = delete;

    // Blocks until the check is done. Returns when the payload matches its record or carries no
    // record (payloads packed before the record existed run unchecked, as they always did).
    // Raises "Setup package is damaged: checksum mismatch.", the unknown-version error, or what
    // the hashing itself raised; the same each time it is called.
    void Wait();
    // How long the check itself took, in milliseconds; 0 before Wait returned or raised.
    double CheckMilliseconds() const { return Milliseconds; }

private:
    void Check() noexcept;

    HMODULE Module;
    std::unique_ptr<cm::TMethodThread> Thread;
    bool Done = false;
    std::exception_ptr Failure;
    double Milliseconds = 0;
};

}  // namespace bootstrap
