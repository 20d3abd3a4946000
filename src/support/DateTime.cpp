#include "support/DateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace moirex {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Day 0 of a date-time value is 1899-12-30; the Unix epoch 1970-01-01 is day 25569.
constexpr int64_t kUnixEpochDay = 25569;

struct TBrokenDown {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Days of the calendar date since 1970-01-01 (proleptic Gregorian); months and days out of
// their range carry into the next month or year.
int64_t DaysFromCivil(int year, int month, int day) {
    using namespace std::chrono;
    int y = year + (month - 1 >= 0 ? (month - 1) / 12 : -((12 - month) / 12));
    int m = ((month - 1) % 12 + 12) % 12 + 1;
    const sys_days first = sys_days(std::chrono::year(y) / std::chrono::month(static_cast<unsigned>(m)) / 1);
    return first.time_since_epoch().count() + (day - 1);
}

// Splits a date-time value at whole milliseconds. The value is rounded to the nearest
// millisecond once and everything is derived from that count, so a time a hair before midnight
// becomes the next day's 00:00:00.000 and never "24:00". As with the mixer's other tools, the
// whole part of a negative value is the day and its fraction is the time of day.
TBrokenDown Decode(TDateTime value) {
    TBrokenDown b;
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return b;  // beyond year 10000
    const int64_t total = std::llround(std::fabs(value) * static_cast<double>(kMsPerDay));
    int64_t days = total / kMsPerDay;
    int64_t ms = total % kMsPerDay;
    if (value < 0) days = -days;
    const std::chrono::sys_days date{std::chrono::days(days - kUnixEpochDay)};
    const std::chrono::year_month_day ymd(date);
    b.year = static_cast<int>(ymd.year());
    b.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    b.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    b.hour = static_cast<int>(ms / 3600000);
    ms %= 3600000;
    b.minute = static_cast<int>(ms / 60000);
    ms %= 60000;
    b.second = static_cast<int>(ms / 1000);
    b.millisecond = static_cast<int>(ms % 1000);
    return b;
}

void AppendNumber(std::string& text, int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    text += buffer;
}

// Length of the run of `c` starting at `i` (case-insensitive letters).
size_t RunLength(std::string_view pattern, size_t i) {
    const char c = static_cast<char>(pattern[i] | 0x20);
    size_t n = 0;
    while (i + n < pattern.size() && static_cast<char>(pattern[i + n] | 0x20) == c) ++n;
    return n;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    const int64_t days = DaysFromCivil(year, month, day) + kUnixEpochDay;
    const int64_t ms = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    return static_cast<double>(days) + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

TDateTime FromSystemClock(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<microseconds>(t.time_since_epoch());
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto micros = sinceEpoch - secs;
    if (micros.count() < 0) {
        micros += seconds(1);
        secs -= seconds(1);
    }
    const std::time_t tt = static_cast<std::time_t>(secs.count());
    std::tm local{};
    if (localtime_r(&tt, &local) == nullptr) {
        return static_cast<double>(secs.count()) / 86400.0 + static_cast<double>(kUnixEpochDay);
    }
    const TDateTime whole = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                           local.tm_hour, local.tm_min, local.tm_sec);
    return whole + static_cast<double>(micros.count()) / (static_cast<double>(kMsPerDay) * 1000.0);
}

TDateTime Now() { return FromSystemClock(std::chrono::system_clock::now()); }

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
    const TBrokenDown b = Decode(value);
    std::string text;
    bool lastWasHour = false;  // "m" after an hour field means minutes
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = static_cast<char>(pattern[i] | 0x20);
        const bool letter = (pattern[i] >= 'a' && pattern[i] <= 'z') || (pattern[i] >= 'A' && pattern[i] <= 'Z');
        const size_t n = letter ? RunLength(pattern, i) : 1;
        switch (letter ? c : '\0') {
            case 'y':
                if (n >= 3) AppendNumber(text, b.year, 4);
                else AppendNumber(text, b.year % 100, 2);
                lastWasHour = false;
                break;
            case 'm':
                if (lastWasHour) AppendNumber(text, b.minute, n >= 2 ? 2 : 1);
                else AppendNumber(text, b.month, n >= 2 ? 2 : 1);
                lastWasHour = false;
                break;
            case 'n':
                AppendNumber(text, b.minute, n >= 2 ? 2 : 1);
                lastWasHour = false;
                break;
            case 'd':
                AppendNumber(text, b.day, n >= 2 ? 2 : 1);
                lastWasHour = false;
                break;
            case 'h':
                AppendNumber(text, b.hour, n >= 2 ? 2 : 1);
                lastWasHour = true;
                break;
            case 's':
                AppendNumber(text, b.second, n >= 2 ? 2 : 1);
                lastWasHour = false;
                break;
            case 'z':
                AppendNumber(text, b.millisecond, n >= 3 ? 3 : 1);
                lastWasHour = false;
                break;
            default:
                // ":" is the time separator (":" here); every other character is copied.
                text.append(pattern.substr(i, n));
                break;
        }
        i += n;
    }
    return text;
}

std::string Iso8601Local(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(t);
    const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(ms));
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    const int offset = static_cast<int>(std::clamp<long>(local.tm_gmtoff / 60, -1439, 1439));  // minutes east of UTC
    const int millis = static_cast<int>(((ms.time_since_epoch() % 1000ms).count() + 1000) % 1000);
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis,
                  offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
    return text;
}

std::string Iso8601Local(TDateTime value) {
    // The calendar text as the mixer shows it, the offset from the system's rules for that
    // local moment.
    const std::string local = FormatDateTime("yyyy-mm-dd", value) + "T" + FormatDateTime("hh:nn:ss.zzz", value);
    if (!std::isfinite(value) || value < -657434 || value > 2958466) return local;
    const double seconds = std::floor((value - 25569.0) * 86400.0 + 0.0005);
    const std::time_t asUtc = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!gmtime_r(&asUtc, &tm)) return local;
    tm.tm_isdst = -1;
    if (std::mktime(&tm) == static_cast<std::time_t>(-1)) return local;
    // Minutes east of UTC; real zones lie within a day.
    const int offset = static_cast<int>(std::clamp<long>(tm.tm_gmtoff / 60, -1439, 1439));
    char zone[32];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
    return local + zone;
}

}  // namespace moirex
