#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cm/Objects/DateTime.h"

namespace cm {
namespace {

TEST(DateTime, TextAndFileTimeOfTheDayCount) {
    struct Case {
        double value;
        const char* text;
        int64_t fileTime;  // 0: no file time
    };
    const Case cases[] = {
        {0.0, "1899-12-30", 94353120000000000},
        {2.0, "1900-01-01", 94353120000000000 + 2 * 864000000000LL},
        {1.5, "1899-12-31 12:00:00", 94353120000000000 + 864000000000LL + 432000000000LL},
        // A negative value counts its fraction forwards from its day: -1.25 is 29 December, 6 am.
        {-1.25, "1899-12-29 06:00:00", 94353120000000000 - 864000000000LL + 216000000000LL},
        {41878.156644675924, "2014-08-27 03:45:34", 130535847341000000},
        // Rounding to the millisecond may carry into the next day.
        {0.99999999999, "1899-12-31", 94353120000000000 + 864000000000LL},
        {-109205.0, "1601-01-01", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateTimeToText(c.value), c.text) << c.value;
        int64_t fileTime = -1;
        EXPECT_TRUE(DateTimeToFileTime(c.value, fileTime));
        EXPECT_EQ(fileTime, c.fileTime) << c.value;
    }
    int64_t fileTime = 0;
    for (double bad : {-109206.0, 1e10, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(DateTimeToFileTime(bad, fileTime)) << bad;
    EXPECT_EQ(DateTimeToText(1e10), "10000000000");
}

}  // namespace
}  // namespace cm
