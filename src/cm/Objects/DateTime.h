// Date-times: IEEE doubles counting days since 30 December 1899, the time of day as the fraction.
// Portable: no operating system.
#pragma once

#include <cstdint>
#include <string>

namespace cm {

struct TDateTimeParts {
    int32_t Year, Month, Day;                     // proleptic Gregorian calendar
    int32_t Hour, Minute, Second, Millisecond;
};

// Splits a date-time into calendar date and time of day, the time rounded to the millisecond
// (a negative value counts its fraction forwards from the day before, as the format defines).
// Returns false for values outside years 1..9999 or not finite.
bool DecodeDateTime(double value, TDateTimeParts& parts);
// The Windows file time (100 ns units since 1 January 1601) of the date-time's calendar time,
// without any time-zone adjustment. Returns false where DecodeDateTime does.
bool DateTimeToFileTime(double value, int64_t& fileTime);
// "yyyy-mm-dd hh:nn:ss", the time left out when the time of day is exactly zero; the general
// number form for values that are no date.
std::string DateTimeToText(double value);

}  // namespace cm
