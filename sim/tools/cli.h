// Command line of varve-sim.
#pragma once

#include "sim/run/run_board.h"

namespace sim {

// Fills `opts` from the command line.  Returns -1 to go on and run the board,
// or an exit status (help printed: 0, usage error: 2).
int parse_command_line(int argc, char** argv, RunOptions* opts);

extern const char* const USAGE;

} // namespace sim
