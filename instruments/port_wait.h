// The one wait for a byte on an instrument's port, shared by the drivers.
#pragma once

#include "board/board_util.h"
#include "platform/platform.h"
#include "serial/user_io.h"

#include <cstdint>

// Waits until the port's receive ring holds a byte (`avail` > 0) or
// `max_ticks` 10 ms ticks have passed (0: no limit), polling every half
// millisecond.  Returns the ticks waited, `max_ticks` on time-out, 0 (with a
// note naming `who`) when the tick counter rolled over.  The port's check
// is a template argument, so every call to it is a direct one.
template <int (*avail)()> uint32_t wait_port_rx(uint32_t max_ticks, const char* who)
{
    const uint32_t start = static_cast<uint32_t>(Timer_10ms(0));
    for (;;) {
        if (avail() > 0) {
            return static_cast<uint32_t>(Timer_10ms(0)) - start;
        }
        SysCtlDelay(DELAY_COUNTS_PER_MS / 2);
        const uint32_t now = static_cast<uint32_t>(Timer_10ms(0));
        if (max_ticks != 0 && now - start >= max_ticks) {
            return max_ticks;
        }
        if (now < start) {
            uprintf("DEBUG: %s 10msTick timer rolled over\r\n", who);
            return 0;
        }
    }
}
