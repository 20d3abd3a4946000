#include "support/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace moirex {
namespace {

TEST(DateTime, CountsDaysFrom1899December30) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1, 0, 0, 0), 25569.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 3, 1, 12, 0, 0), 36586.5);  // after a century leap day
    EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 2, 29, 6, 0, 0), 45351.25);
    EXPECT_NEAR(EncodeDateTime(2024, 1, 1, 0, 0, 1, 500), 45292.0 + 1.5 / 86400.0, 1e-12);
}

TEST(DateTime, CarriesMonthsAndDaysOutOfRange) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(2023, 13, 1, 0, 0, 0), EncodeDateTime(2024, 1, 1, 0, 0, 0));
    EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 0, 1, 0, 0, 0), EncodeDateTime(2023, 12, 1, 0, 0, 0));
    EXPECT_DOUBLE_EQ(EncodeDateTime(2024, -11, 1, 0, 0, 0), EncodeDateTime(2023, 1, 1, 0, 0, 0));
    EXPECT_DOUBLE_EQ(EncodeDateTime(2023, 2, 29, 0, 0, 0), EncodeDateTime(2023, 3, 1, 0, 0, 0));
}

TEST(DateTime, FormatsThePatternsOfTheMixer) {
    const TDateTime t = EncodeDateTime(2024, 3, 5, 7, 8, 9, 45);
    const struct {
        const char* Pattern;
        const char* Text;
    } cases[] = {
        {"dd-hh-mm-ss", "05-07-08-09"},
        {"yyyy-mm-dd hh:mm:ss", "2024-03-05 07:08:09"},
        {"yyyy-mm-dd hh_mm_ss", "2024-03-05 07_08_09"},
        {"yyyy-mm-dd hh.mm.ss", "2024-03-05 07.08.09"},
        {"hh:nn:ss.zzz", "07:08:09.045"},
        {"hh:mm:ss:zzz", "07:08:09:045"},
        {"ss:zzz", "09:045"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.Pattern, t), c.Text) << c.Pattern;
}

TEST(DateTime, NeverShowsHour24AtAMillisecondBoundary) {
    const TDateTime beforeMidnight = EncodeDateTime(2024, 12, 31, 23, 59, 59, 999);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", beforeMidnight), "2024-12-31 23:59:59.999");
    // 0.6 ms later rounds to the next day's midnight, never to "24:00".
    const TDateTime half = beforeMidnight + 0.6 / 86400000.0;
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", half), "2025-01-01 00:00:00.000");
    // A moment computed in days lands on its millisecond, not one below it.
    EXPECT_EQ(FormatDateTime("hh:mm:ss:zzz", 10.0 / 24.0), "10:00:00:000");
    EXPECT_EQ(FormatDateTime("hh:mm:ss:zzz", 1.0 / 86400000.0 * 999), "00:00:00:999");
    EXPECT_EQ(FormatDateTime("ss:zzz", 59.9996 / 86400.0), "00:000");
}

TEST(DateTime, FormatsDurationsAsTimeOfDay) {
    // Spans held as date-time differences print through the same patterns.
    EXPECT_EQ(FormatDateTime("hh:mm:ss:zzz", 2.5 / 86400.0), "00:00:02:500");
    EXPECT_EQ(FormatDateTime("hh:mm:ss:zzz", 0.75 / 24.0), "00:45:00:000");
}

TEST(DateTime, FromSystemClockUsesLocalTime) {
    // A fixed moment, checked against the C library's local calendar.
    const std::time_t tt = 1700000000;  // 2023-11-14 22:13:20 UTC
    std::tm local{};
    ASSERT_NE(localtime_r(&tt, &local), nullptr);
    const auto tp = std::chrono::system_clock::from_time_t(tt) + std::chrono::milliseconds(250);
    const TDateTime expected = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                              local.tm_hour, local.tm_min, local.tm_sec, 250);
    EXPECT_NEAR(FromSystemClock(tp), expected, 1e-9);
    EXPECT_EQ(FormatDateTime("zzz", FromSystemClock(tp)), "250");
}

TEST(DateTime, NowIsCloseToTheSystemClock) {
    const TDateTime a = FromSystemClock(std::chrono::system_clock::now());
    const TDateTime n = Now();
    EXPECT_GE(n, a);
    EXPECT_LT(n - a, 5.0 / 86400.0);
}

TEST(DateTime, ValuesThatAreNoMomentsPrintTheOrigin) {
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:mm:ss", std::nan("")), "1899-12-30 00:00:00");
}

// ISO 8601 with the UTC offset in force at that moment, winter and summer time of one zone.
TEST(DateTime, Iso8601CarriesTheOffsetOfItsMoment) {
    const char* saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_EQ(Iso8601Local(EncodeDateTime(2026, 12, 10, 9, 15, 3, 250)), "2026-12-10T09:15:03.250+01:00");
    EXPECT_EQ(Iso8601Local(EncodeDateTime(2026, 7, 1, 23, 59, 59, 999)), "2026-07-01T23:59:59.999+02:00");
    // The system clock's moment: 2026-07-01 12:00:00.5 UTC.
    const auto t = std::chrono::system_clock::from_time_t(1782907200) + std::chrono::milliseconds(500);
    EXPECT_EQ(Iso8601Local(t), "2026-07-01T14:00:00.500+02:00");
    setenv("TZ", "America/St_Johns", 1);
    tzset();
    if (Iso8601Local(EncodeDateTime(2026, 1, 5, 8, 0, 0)).substr(23) == "-03:30") {  // where the zone data exists
        EXPECT_EQ(Iso8601Local(EncodeDateTime(2026, 1, 5, 8, 0, 0)), "2026-01-05T08:00:00.000-03:30");
    }
    if (saved) setenv("TZ", before.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    EXPECT_EQ(Iso8601Local(std::nan("")), "1899-12-30T00:00:00.000");
}

}  // namespace
}  // namespace moirex
