// The firmware's calendar of the hibernation clock against the host C
// library's UTC calendar (timegm, gmtime_r), over the whole 32-bit count.
#include "board/rtc_calendar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace {

// Seconds from 1900-01-01 to 1970-01-01.
constexpr int64_t EPOCH_1900_TO_1970 = 2208988800;
constexpr int64_t ZONE = 21600;
constexpr int64_t COUNT_END = int64_t{1} << 32;

// Host reference: calendar time of `seconds` since 1900 (no zone).
struct tm reference(int64_t seconds_since_1900)
{
    time_t t = static_cast<time_t>(seconds_since_1900 - EPOCH_1900_TO_1970);
    struct tm out {};
    gmtime_r(&t, &out);
    return out;
}

// Host reference: seconds since 1900 of a calendar time (normalised).
int64_t reference_seconds(struct tm t)
{
    return static_cast<int64_t>(timegm(&t)) + EPOCH_1900_TO_1970;
}

struct tm local_fields(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

std::string text(const struct tm* t)
{
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", t);
    return buf;
}

std::string same_fields(const struct tm& got, const struct tm& want)
{
    if (got.tm_year != want.tm_year || got.tm_mon != want.tm_mon || got.tm_mday != want.tm_mday ||
        got.tm_hour != want.tm_hour || got.tm_min != want.tm_min || got.tm_sec != want.tm_sec ||
        got.tm_wday != want.tm_wday || got.tm_yday != want.tm_yday) {
        return text(&got) + " wday " + std::to_string(got.tm_wday) + " yday " + std::to_string(got.tm_yday) +
               ", expected " + text(&want) + " wday " + std::to_string(want.tm_wday) + " yday " +
               std::to_string(want.tm_yday);
    }
    return "";
}

// Checks every conversion of one clock count against the reference.
void check_count(int64_t count)
{
    ASSERT_GE(count, 0);
    ASSERT_LT(count, COUNT_END);
    auto c = static_cast<uint32_t>(count);
    struct tm want_local = reference(count - ZONE);
    struct tm got_local = *rtc_localtime(c);
    ASSERT_EQ(same_fields(got_local, want_local), "") << "local time of count " << count;
    struct tm want_utc = reference(count);
    ASSERT_EQ(same_fields(*rtc_gmtime(c), want_utc), "") << "clock time of count " << count;
    // Entering the local time shown gives the count back.
    struct tm entered = local_fields(want_local.tm_year + 1900, want_local.tm_mon + 1, want_local.tm_mday,
                                     want_local.tm_hour, want_local.tm_min, want_local.tm_sec);
    ASSERT_EQ(rtc_mktime(&entered), c) << "entering " << text(&want_local);
    ASSERT_EQ(same_fields(entered, want_local), "");
}

} // namespace

// Every day the clock can show, at the first and the last second of the local
// day (which the zone offset puts on different clock days), and so every first
// and last day of a month, every 29 February, 1900 (not a leap year) and 2000
// (a leap year).
TEST(Calendar, EveryLocalDayOfTheClockMatchesTheReference)
{
    int days = 0;
    for (int64_t midnight = 0; midnight - ZONE < COUNT_END; midnight += 86400) {
        // `midnight` is local midnight, in seconds since 1900, local.
        for (int64_t at : {midnight, midnight + 86399}) {
            int64_t count = at + ZONE;
            if (count < COUNT_END) {
                check_count(count);
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
        ++days;
    }
    EXPECT_EQ(days, 49711); // 1900-01-01 .. 2036-02-07
}

TEST(Calendar, EdgesOfTheCountAndOfTheZone)
{
    // The clock's first six hours show the last evening of 1899.
    for (int64_t count : {int64_t{0}, int64_t{1}, ZONE - 1, ZONE, COUNT_END - 1}) {
        check_count(count);
    }
    EXPECT_EQ(text(rtc_localtime(0)), "1899/12/31 18:00:00");
    EXPECT_EQ(text(rtc_localtime(static_cast<uint32_t>(COUNT_END - 1))), "2036/02/07 00:28:15");
    EXPECT_EQ(text(rtc_gmtime(static_cast<uint32_t>(COUNT_END - 1))), "2036/02/07 06:28:15");
}

TEST(Calendar, LeapYearRulesAsTheConsoleShowsThem)
{
    struct tm t = local_fields(1900, 2, 29, 0, 0, 0); // no such day: 1 March
    uint32_t c = rtc_mktime(&t);
    EXPECT_EQ(text(rtc_localtime(c)), "1900/03/01 00:00:00");
    t = local_fields(2000, 2, 29, 12, 0, 0);
    EXPECT_EQ(text(rtc_localtime(rtc_mktime(&t))), "2000/02/29 12:00:00");
    t = local_fields(2026, 3, 1, 0, 0, 0);
    char shown[32];
    std::strftime(shown, sizeof shown, "%m/%d/%y %H:%M:%S", rtc_localtime(rtc_mktime(&t)));
    EXPECT_STREQ(shown, "03/01/26 00:00:00");
    // Year ends: local midnight of New Year is 06:00 on the clock.
    t = local_fields(2025, 12, 31, 23, 59, 59);
    c = rtc_mktime(&t);
    EXPECT_EQ(text(rtc_localtime(c)), "2025/12/31 23:59:59");
    EXPECT_EQ(text(rtc_gmtime(c)), "2026/01/01 05:59:59");
    EXPECT_EQ(text(rtc_localtime(c + 1)), "2026/01/01 00:00:00");
    EXPECT_EQ(text(rtc_gmtime(c - ZONE + 1)), "2026/01/01 00:00:00");
    EXPECT_EQ(text(rtc_localtime(c - ZONE + 1)), "2025/12/31 18:00:00");
}

// Fields out of their ranges are normalised as the C library does it.
TEST(Calendar, EnteredTimesNormaliseLikeTheReference)
{
    const int odd[][6] = {
        {2024, 2, 30, 0, 0, 0},    {2023, 2, 29, 0, 0, 0},     {2024, 4, 31, 12, 0, 0},
        {2024, 12, 32, 0, 0, 0},   {2024, 1, 0, 0, 0, 0},      {2024, 3, 0, 0, 0, 0},
        {2025, 3, 0, 0, 0, 0},     {2024, 13, 1, 0, 0, 0},     {2024, 0, 15, 0, 0, 0},
        {2024, 6, 30, 23, 59, 60}, {2024, 12, 31, 23, 59, 61}, {2024, 6, 15, 24, 0, 0},
        {2024, 6, 15, 0, 60, 0},   {2000, 2, 28, 23, 59, 60},  {2099, 12, 31, 23, 59, 59},
        {2000, 1, 1, 0, 0, 0},
    };
    for (const auto& f : odd) {
        struct tm t = local_fields(f[0], f[1], f[2], f[3], f[4], f[5]);
        struct tm ref = t;
        int64_t want = reference_seconds(ref) + ZONE;
        struct tm want_fields = reference(want - ZONE);
        uint32_t got = rtc_mktime(&t);
        std::string what = std::to_string(f[0]) + "-" + std::to_string(f[1]) + "-" + std::to_string(f[2]) +
                           " " + std::to_string(f[3]) + ":" + std::to_string(f[4]) + ":" +
                           std::to_string(f[5]);
        // Counts beyond 2036 wrap; the fields are still the calendar's.
        EXPECT_EQ(got, static_cast<uint32_t>(want)) << what;
        EXPECT_EQ(same_fields(t, want_fields), "") << what;
    }
}
