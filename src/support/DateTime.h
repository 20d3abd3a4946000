#pragma once
// Date-time values: days since 1899-12-30 in local time, as shown and recorded by the mixer
// (log lines, recipe files, graph points). Elapsed time is never measured with these: see Clock.h.

#include <chrono>
#include <string>
#include <string_view>

namespace moirex {

using TDateTime = double;  // days since 1899-12-30 00:00, local time; fraction = time of day

// Current local date-time.
TDateTime Now();
// Conversions between a local calendar moment and a date-time value. A month or day out of
// its range carries into the next month or year (month 13 is January of the next year).
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);
TDateTime FromSystemClock(std::chrono::system_clock::time_point t);

// Formats with the patterns the mixer uses: "dd-hh-mm-ss", "yyyy-mm-dd hh:mm:ss",
// "yyyy-mm-dd hh_mm_ss", "yyyy-mm-dd hh.mm.ss", "hh:nn:ss.zzz", "hh:mm:ss:zzz", "ss:zzz".
// "mm" right after "hh" means minutes, "nn" minutes, "zzz" milliseconds; ":" is the time
// separator, every other character is copied. The value is rounded to the nearest millisecond
// once, so 23:59:59.9996 shows as the next day's 00:00:00.000, never as "24:00". A negative
// value counts its whole part as the day and its fraction as the time of day; a value that is
// not a moment (not a number, beyond year 10000) shows as 1899-12-30 00:00:00.000.
std::string FormatDateTime(std::string_view pattern, TDateTime value);

// A moment as ISO 8601 local time with its UTC offset, to the millisecond:
// "2026-12-10T14:02:03.120+01:00". For records that other programs read.
std::string Iso8601Local(std::chrono::system_clock::time_point t);
// The same for a local date-time value; the offset is the one in force at that moment. A value
// that is no moment gives "1899-12-30T00:00:00.000" with no offset.
std::string Iso8601Local(TDateTime value);

}  // namespace moirex
