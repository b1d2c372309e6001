// Bounded waits on hardware status, shared by the target backend.
//
// Every wait polls a condition a limited number of times.  Two flavours:
//   wait_us    - sleeps about 1 us between polls (17 delay-loop counts, 1 us at
//                50 MHz, longer while the processor still runs from the
//                16 MHz oscillator), so the limit is a time in microseconds;
//   wait_polls - polls back to back, for waits that normally end within a
//                few bus cycles (FIFO room on a fast serial bus);
//   watch      - for flags that may rightly never appear (see below).
// A wait that runs out is counted (see target_diag.h) and reported to the
// caller as false; the caller then gives up the operation or reports a
// status instead of hanging.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace target {

// Delay-loop counts for about one microsecond at the 50 MHz system clock.
constexpr uint32_t DELAY_COUNTS_PER_US = 17;

// Records a wait that ran out; `site` identifies the register waited on.
void note_timeout(uint32_t site);

template <typename Ready> bool wait_us(Ready ready, uint32_t limit_us, uint32_t site)
{
    for (uint32_t elapsed = 0;; ++elapsed) {
        if (ready()) {
            return true;
        }
        if (elapsed >= limit_us) {
            note_timeout(site);
            return false;
        }
        SysCtlDelay(DELAY_COUNTS_PER_US);
    }
}

template <typename Ready> bool wait_polls(Ready ready, uint32_t limit_polls, uint32_t site)
{
    for (uint32_t polls = 0;; ++polls) {
        if (ready()) {
            return true;
        }
        if (polls >= limit_polls) {
            note_timeout(site);
            return false;
        }
    }
}

// Watches for a flag that need not appear: a failure flag, or a busy flag
// that a peripheral raises a few cycles after it takes a command.  Polls
// with `pause_counts` delay-loop counts between polls, `pauses` times at
// most; returns whether the flag was seen.  Not seeing it is not counted as
// a time-out.
template <typename Seen> bool watch(Seen seen, uint32_t pauses, uint32_t pause_counts)
{
    for (uint32_t n = 0;; ++n) {
        if (seen()) {
            return true;
        }
        if (n >= pauses) {
            return false;
        }
        SysCtlDelay(pause_counts);
    }
}

} // namespace target
