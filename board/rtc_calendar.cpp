// Calendar conversion of the hibernation clock (seconds since 1900).
#include "board/rtc_calendar.h"

namespace {

struct tm g_tm;

bool is_leap(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

// Days from 1900-01-01 to the first of January of `year`.
int64_t days_before_year(int64_t year)
{
    auto days_from_year_1 = [](int64_t y) {
        int64_t before = y - 1;
        return before * 365 + floor_div(before, 4) - floor_div(before, 100) + floor_div(before, 400);
    };
    return days_from_year_1(year) - days_from_year_1(1900);
}

const int k_days_before_month[2][12] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

// Breaks down seconds since 1900, which may be negative (the local time of
// the clock's first six hours lies in 1899) or beyond the 32-bit count (a
// normalised entry).
void breakdown(int64_t seconds, struct tm* out)
{
    int64_t days = floor_div(seconds, 86400);
    int64_t rem = seconds - days * 86400;
    out->tm_hour = static_cast<int>(rem / 3600);
    out->tm_min = static_cast<int>(rem % 3600 / 60);
    out->tm_sec = static_cast<int>(rem % 60);
    out->tm_wday = static_cast<int>(days + 1 - floor_div(days + 1, 7) * 7); // 1900-01-01 was a Monday
    int64_t year = 1900 + floor_div(days, 366);
    while (days_before_year(year) > days) {
        --year;
    }
    while (days_before_year(year + 1) <= days) {
        ++year;
    }
    int64_t yday = days - days_before_year(year);
    int leap = is_leap(year) ? 1 : 0;
    int month = 11;
    while (month > 0 && k_days_before_month[leap][month] > yday) {
        --month;
    }
    out->tm_year = static_cast<int>(year - 1900);
    out->tm_mon = month;
    out->tm_mday = static_cast<int>(yday - k_days_before_month[leap][month] + 1);
    out->tm_yday = static_cast<int>(yday);
    out->tm_isdst = 0;
}

} // namespace

void rtc_breakdown(uint32_t seconds, struct tm* out)
{
    breakdown(seconds, out);
}

uint32_t rtc_mktime(struct tm* t)
{
    // Normalise months into years, then count days; seconds, minutes, hours
    // and days beyond their ranges simply add up.
    int64_t year = 1900 + static_cast<int64_t>(t->tm_year) + floor_div(t->tm_mon, 12);
    int64_t month = t->tm_mon - floor_div(t->tm_mon, 12) * 12;
    int64_t days =
        days_before_year(year) + k_days_before_month[is_leap(year) ? 1 : 0][month] + t->tm_mday - 1;
    int64_t seconds = days * 86400 + static_cast<int64_t>(t->tm_hour) * 3600 +
                      static_cast<int64_t>(t->tm_min) * 60 + t->tm_sec;
    uint32_t count = static_cast<uint32_t>(seconds + RTC_ZONE_OFFSET_S);
    breakdown(seconds, t);
    return count;
}

struct tm* rtc_localtime(uint32_t count)
{
    breakdown(static_cast<int64_t>(count) - RTC_ZONE_OFFSET_S, &g_tm);
    return &g_tm;
}

struct tm* rtc_gmtime(uint32_t count)
{
    rtc_breakdown(count, &g_tm);
    return &g_tm;
}
