// Simulated time of a run.
//
// A run has one clock, in nanoseconds from its start.  The runner holds it
// while the board hibernates (and moves it to the next wake); a boot holds
// it while the firmware runs.  Boots run in forked processes, so the clock
// is handed over through the run's shared memory: to the boot when it
// starts, back to the runner when it ends.  A boot after a wake therefore
// starts at the wake time, and time only increases across the boots of a
// run.  Nothing else in the run machinery sets the clock.
#pragma once

#include "platform/host/sim_core.h"

namespace sim {

// Time 0, empty event queue: a new run or a test bench.
void clock_start_run();
// Runner, before it forks a boot: the boot starts where the clock stands.
void clock_hand_to_boot();
// The boot, as it starts: takes the clock over, with an empty event queue.
void clock_take_in_boot();
// The boot, as it ends: hands its time back.
void clock_hand_back();
// Runner, once the boot has ended: continues from the boot's time.
void clock_take_back();
// Runner, while the board hibernates: time passes up to `t`.
void clock_hibernate_to(Time t);

} // namespace sim
