// C library support: the time zone without a heap.
//
// The C library's tzset() (called by strftime, mktime and localtime) reads
// the TZ environment variable and keeps a heap copy of it.  The controller
// has no environment and no heap, so the C library always works in UTC:
// these definitions replace the library's and keep its UTC defaults (zone
// offset 0, no daylight saving, zone names "GMT").  The firmware applies
// its own fixed local-time offset to the clock count itself.
#include <time.h>

extern "C" void _tzset_unlocked(void);

extern "C" void _tzset_unlocked(void)
{
    _timezone = 0;
    _daylight = 0;
}

extern "C" void tzset(void)
{
    _tzset_unlocked();
}
