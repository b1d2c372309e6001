// Pacing: with an interactive console (or --realtime) simulated time never
// runs ahead of the wall clock, or of the wall clock times the pace factor
// (--pace N: simulated time runs N times as fast; the console line then
// carries N times its baud rate in wall-clock terms).  The runner and the
// boots wait for it, reading console input on the way.
#pragma once

#include "platform/host/sim_core.h"

namespace sim {

// The wall clock of the run starts now; simulated time may run `factor`
// times as fast as it (1 or more).
void pacing_start(uint32_t factor = 1);
// Wall time since pacing_start().
Time wall_elapsed();
// The simulated time the wall clock allows: wall_elapsed() times the factor.
Time paced_elapsed();
// Waits until the paced wall clock reaches simulated time `t`, or console input
// arrives (`*got_input`).  False when the operator quits or a stop signal
// came.
bool wait_wall(Time t, bool* got_input);

} // namespace sim
