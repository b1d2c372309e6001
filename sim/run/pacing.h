// Pacing: with an interactive console (or --realtime) simulated time never
// runs ahead of the wall clock.  The runner and the boots wait for it,
// reading console input on the way.
#pragma once

#include "platform/host/sim_core.h"

namespace sim {

// The wall clock of the run starts now.
void pacing_start();
// Wall time since pacing_start().
Time wall_elapsed();
// Waits until the wall clock reaches simulated time `t`, or console input
// arrives (`*got_input`).  False when the operator quits or a stop signal
// came.
bool wait_wall(Time t, bool* got_input);

} // namespace sim
