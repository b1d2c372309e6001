// Calendar conversion of the hibernation clock.
//
// The RTC counts seconds since 1900-01-01 00:00:00.  Local time, as shown on
// the console and written to files and records, is the count less a fixed
// zone offset of 21600 s with no daylight saving; FAT time stamps use the
// count as it is.  The conversions are the firmware's own, so they give the
// same result on the chip and on any build host, whatever its time zone.
#pragma once

#include <cstdint>
#include <ctime>

constexpr uint32_t RTC_ZONE_OFFSET_S = 21600;

// Local calendar time -> RTC count.  Normalises the fields as mktime does
// (a 32nd of a month rolls into the next month) and fills in the week and
// year days.  Times outside the 32-bit count wrap.
uint32_t rtc_mktime(struct tm* t);
// RTC count -> local calendar time, in static storage shared by both
// conversions (like the C library's localtime).  Counts below the zone
// offset give the last evening of 1899.
struct tm* rtc_localtime(uint32_t count);
// RTC count -> calendar time without the zone offset.
struct tm* rtc_gmtime(uint32_t count);
// Breaks down seconds since 1900 into `out` (no offset applied).
void rtc_breakdown(uint32_t seconds, struct tm* out);
