// Runs an action when the scope ends, however it ends (return or exception). Portable.
#pragma once

#include <utility>

namespace cm {

// The action must not raise: it runs in a destructor, possibly during unwinding.
template <class F>
class TScopeExit {
public:
    explicit TScopeExit(F action) : Action(std::move(action)) {}
    ~TScopeExit() { Action(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F Action;
};

}  // namespace cm
