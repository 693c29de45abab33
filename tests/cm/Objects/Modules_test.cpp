#include <gtest/gtest.h>

#include <string>

#include "cm/Objects/Modules.h"
#include "support/MessageOf.h"

namespace cm {
namespace {

std::string Trace;
void InitA() { Trace += "+A"; }
void FiniA() { Trace += "-A"; }
void InitB() { Trace += "+B"; }
void FiniB() { Trace += "-B"; }
void InitFails() { throw Exception("no resources"); }

TEST(Modules, StartInOrderStopInReverse) {
    const TModuleEntry modules[] = {{"A", InitA, FiniA}, {"none", nullptr, nullptr}, {"B", InitB, FiniB}};
    Trace.clear();
    {
        TModuleRunner runner(modules);
        EXPECT_EQ(Trace, "+A+B");
    }
    EXPECT_EQ(Trace, "+A+B-B-A");
}

TEST(Modules, AFailedStartStopsTheStartedOnesAndNamesTheModule) {
    const TModuleEntry modules[] = {{"A", InitA, FiniA}, {"cm/Broken", InitFails, FiniB}, {"B", InitB, FiniB}};
    Trace.clear();
    EXPECT_EQ(test::MessageOf([&] { TModuleRunner runner(modules); }),
              "Failed to initialize module cm/Broken\r\nno resources");
    EXPECT_EQ(Trace, "+A-A");
}

}  // namespace
}  // namespace cm
