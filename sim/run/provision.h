// Provisioning of a new simulated board.
#pragma once

namespace sim {

// Leaves the board as board QA does: the default configuration record with
// this build's firmware version in EEPROM, the progress record initialised
// in FRAM.  Runs the firmware's own code inside a boot.
void provision_board();

} // namespace sim
