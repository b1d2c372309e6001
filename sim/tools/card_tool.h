// varve-sim card: lists and changes the files of a simulated board's
// microSD card, or of any card image, through the project's FAT module.
#pragma once

namespace sim {

// argv[0] is "card".  Returns the exit status (0 success, 1 failure,
// 2 usage error).
int card_main(int argc, char** argv);

extern const char* const CARD_USAGE;

} // namespace sim
