// The timed input script during a run (--input; parsed by input_script.h).
// An entry happens at its time: inside the boot that runs then (typing on
// the console line, the reset button, a power cycle, a hard fault), or,
// while the board hibernates, in the runner (wake.h).
#pragma once

#include "sim/run/input_script.h"

namespace sim {

// Inside a boot: schedules the next entry as an event of this boot (each
// entry schedules the one after it).
void timed_input_boot();
// Runner: time of the next entry (TIME_NEVER when none is left), and taking
// it.
Time timed_input_next_at();
const ScriptEntry& timed_input_take();

} // namespace sim
