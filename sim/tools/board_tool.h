// varve-sim board: shows and changes the two stored records of a simulated
// board (the configuration record in EEPROM, the progress record in FRAM)
// field by field, through the firmware's own store.
#pragma once

namespace sim {

// argv[0] is "board".  Returns the exit status (0 success, 1 failure,
// 2 usage error).
int board_main(int argc, char** argv);

extern const char* const BOARD_USAGE;

} // namespace sim
