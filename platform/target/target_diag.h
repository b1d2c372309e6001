// Diagnostics of the target backend: hardware waits that ran out.
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
