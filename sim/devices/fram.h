// The FRAM on I2C0 (address 0x50): 256 bytes kept in fram.bin of the board
// folder (sim::fram_image(), board_services.h).  A write sets the address
// pointer with its first byte and stores the rest from there; a read
// returns bytes from the pointer on; the pointer wraps at 256.  With the
// fram-absent fault nothing acknowledges the address.
#pragma once

#include "sim/devices/board_services.h"

namespace sim {

constexpr uint8_t FRAM_I2C_ADDRESS = 0x50;

// Attaches the FRAM to I2C0 for a boot, its address pointer at 0.
void fram_boot();

} // namespace sim
