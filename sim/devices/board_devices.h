// The devices on the simulated board, outside the microcontroller.
#pragma once

namespace sim {

// Brings up every device model of the board for one boot, after the chip's
// power-on (platform/host/chip.h): each attaches to the peripheral it hangs
// on.
void devices_boot();

// The console monitor's card commands: the card out or back in, or the
// write-reject fault on or off (`write_reject`).  Kept for the rest of the
// run (every later boot); at once when a boot is running.  `*now_on`: the
// card is in, or the fault is on, afterwards.  false: no card state.
bool sdcard_monitor_toggle(bool write_reject, bool* now_on);

} // namespace sim
