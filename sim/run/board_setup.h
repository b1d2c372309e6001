// Opening a board for a run (or a test bench): the run's state reset, the
// board folder mapped, and a new board set up - its clock started at the
// given time and, unless it stays blank, provisioned by the firmware's own
// code in a boot of its own.
#pragma once

#include "sim/run/run_board.h"

namespace sim {

// False, with a message, when the board cannot be used; close_board() then
// releases what was opened.
bool open_board(const RunOptions& opts, bool* new_board);
void close_board();

} // namespace sim
