// The devices on the simulated board, outside the microcontroller.
#pragma once

namespace sim {

// Brings up every device model of the board for one boot, after the chip's
// power-on (platform/host/chip.h): each attaches to the peripheral it hangs
// on.
void devices_boot();

} // namespace sim
