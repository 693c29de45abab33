// Test support: the message of the failure an action raises.
#pragma once

#include <string>

#include "cm/Objects/Errors.h"

namespace cm::test {

// Runs the action and returns the message of the exception of kind E it raises, or
// "(no exception)" when it raises none. Other kinds pass through and fail the test.
template <class E = Exception, class F>
std::string MessageOf(F&& action) {
    try {
        action();
    } catch (const E& e) {
        return e.what();
    }
    return "(no exception)";
}

}  // namespace cm::test
