#include "cm/Objects/DateTime.h"

#include <cmath>
#include <cstdio>

namespace cm {

namespace {

constexpr int64_t MillisecondsPerDay = 86400000;
// Day number of 30 December 1899 counted from 1 January 0001 (day 1).
constexpr int64_t DateDelta = 693594;
// Days from 1 January 1601 to 30 December 1899.
constexpr int64_t FileTimeDateDelta = 109205;
constexpr int64_t FileTimeUnitsPerMillisecond = 10000;

// Days since 1 January 0001 (day 1 = that date) to calendar date.
void DecodeDayNumber(int64_t dayNumber, TDateTimeParts& parts) {
    // Civil-from-days over the proleptic Gregorian calendar, days counted from 1 March 0000.
    int64_t z = dayNumber + 305;  // 0001-01-01 is day 306 from 0000-03-01
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    parts.Day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    parts.Month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    parts.Year = static_cast<int32_t>(yoe + era * 400 + (parts.Month <= 2 ? 1 : 0));
}

// The day (days since 30 December 1899) and the time of day in whole milliseconds; the fraction
// of a negative value counts forwards from its day, and a rounding to a whole day carries over.
bool SplitDateTime(double value, int64_t& day, int64_t& ms) {
    // 1 January 0001 is -693593, 31 December 9999 is 2958465.
    if (!std::isfinite(value) || value <= -693594.0 || value >= 2958466.0)
        return false;
    const double days = std::trunc(value);
    ms = std::llround(std::fabs(value - days) * MillisecondsPerDay);
    day = static_cast<int64_t>(days);
    if (ms >= MillisecondsPerDay) {
        ms -= MillisecondsPerDay;
        day += value < 0 ? -1 : 1;
    }
    return day + DateDelta >= 1 && day + DateDelta <= 3652059;
}

}  // namespace

bool DecodeDateTime(double value, TDateTimeParts& parts) {
    int64_t day, ms;
    if (!SplitDateTime(value, day, ms))
        return false;
    DecodeDayNumber(day + DateDelta, parts);
    parts.Hour = static_cast<int32_t>(ms / 3600000);
    parts.Minute = static_cast<int32_t>(ms / 60000 % 60);
    parts.Second = static_cast<int32_t>(ms / 1000 % 60);
    parts.Millisecond = static_cast<int32_t>(ms % 1000);
    return true;
}

bool DateTimeToFileTime(double value, int64_t& fileTime) {
    int64_t day, ms;
    if (!SplitDateTime(value, day, ms) || day + FileTimeDateDelta < 0)
        return false;
    fileTime = ((day + FileTimeDateDelta) * MillisecondsPerDay + ms) * FileTimeUnitsPerMillisecond;
    return true;
}

std::string DateTimeToText(double value) {
    TDateTimeParts p;
    char text[40];
    if (!DecodeDateTime(value, p)) {
        std::snprintf(text, sizeof text, "%.15G", value);
        return text;
    }
    if (p.Hour == 0 && p.Minute == 0 && p.Second == 0 && p.Millisecond == 0)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                      p.Second);
    return text;
}

}  // namespace cm
