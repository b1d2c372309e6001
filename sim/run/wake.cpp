// Waiting, in simulated time, for the event that wakes a hibernating board.
#include "sim/run/wake.h"

#include "platform/host/chip.h"
#include "platform/platform.h"
#include "sim/devices/console/console.h"
#include "sim/run/pacing.h"
#include "sim/run/run_clock.h"
#include "sim/run/run_state.h"
#include "sim/run/stop_signals.h"
#include "sim/run/timed_input.h"

#include <algorithm>

namespace sim {

namespace {

// Run time of the next RTC match, TIME_NEVER when none is armed.
Time rtc_match_time()
{
    const HibState& h = run_shared().hib;
    if ((h.wake_flags & HIBERNATE_WAKE_RTC) == 0 || h.rtc_enabled == 0) {
        return TIME_NEVER;
    }
    uint32_t count = hib_rtc_now();
    if (h.match0 <= count) {
        return TIME_NEVER; // the match lies in the past: the RTC would have to wrap
    }
    // Seconds roll over at rtc_ref_ns + k seconds.
    Time elapsed = now() - h.rtc_ref_ns;
    Time next_second = h.rtc_ref_ns + (elapsed / NS_PER_S + 1) * NS_PER_S;
    return next_second + static_cast<Time>(h.match0 - count - 1) * NS_PER_S;
}

} // namespace

Wake hibernate_until_wake()
{
    HibState& hib = run_shared().hib;
    for (;;) {
        if (stop_signal() != 0) {
            return Wake::Quit;
        }
        Time t = std::min(run().until, rtc_match_time());
        Time byte_at = TIME_NEVER;
        if (console_pending() > 0) {
            byte_at = console_next_byte_at();
            t = std::min(t, byte_at);
        }
        Time script_at = timed_input_next_at();
        t = std::min(t, script_at);
        if (t == TIME_NEVER) {
            if (!run().paced || console_input_fd() < 0) {
                return Wake::RunOver; // nothing can ever wake the board
            }
            t = now() + 3600 * NS_PER_S;
        }
        if (run().paced) {
            bool got = false;
            if (!wait_wall(t, &got)) {
                return Wake::Quit;
            }
            if (got) {
                clock_hibernate_to(std::max(now(), std::min(paced_elapsed(), t)));
                continue;
            }
        }
        clock_hibernate_to(t);
        if (t >= run().until) {
            return Wake::RunOver;
        }
        if (t == byte_at) {
            console_drop_byte(t);
            if ((hib.wake_flags & HIBERNATE_WAKE_PIN) != 0) {
                hib.raw_status |= HIBERNATE_INT_PIN_WAKE;
                return Wake::Pin;
            }
            continue;
        }
        if (t == script_at) {
            const ScriptEntry& e = timed_input_take();
            switch (e.kind) {
            case ScriptEntry::Kind::Type:
                console_type(reinterpret_cast<const uint8_t*>(e.text.data()), e.text.size(), t);
                break;
            case ScriptEntry::Kind::Reset:
                return Wake::Reset;
            case ScriptEntry::Kind::PowerCycle:
                return Wake::PowerCycle;
            case ScriptEntry::Kind::Fault:
                break; // the processor is off
            }
            continue;
        }
        if ((hib.wake_flags & HIBERNATE_WAKE_RTC) != 0 && hib_rtc_now() >= hib.match0) {
            hib.raw_status |= HIBERNATE_INT_RTC_MATCH_0;
            return Wake::Rtc;
        }
    }
}

} // namespace sim
