// Diagnostics of the target backend: hardware waits that ran out, and the
// clock faults found by SysCtlClockSet.
//
// Operations whose interface has no status (the void ones of the platform
// facade) give up when a bounded wait runs out; these counters keep a trace
// of that for a debugger or a test menu.
#pragma once

#include <cstdint>

// Number of bounded hardware waits that ran out since reset.
uint32_t target_wait_timeouts();
// Register address of the most recent wait that ran out (0 if none).
uint32_t target_last_timeout_site();

// Faults of the last SysCtlClockSet (0 if none).  SysCtlClockGet reports
// the rate actually in use.
constexpr uint32_t TARGET_CLOCK_CRYSTAL_FAILED = 1u << 0; // PLL runs from the internal oscillator
constexpr uint32_t TARGET_CLOCK_PLL_UNLOCKED = 1u << 1;   // 16 MHz straight from the oscillator
uint32_t target_clock_faults();
