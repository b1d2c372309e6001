// Device models of the simulated board, brought up at every boot.
#include "sim/devices/board_devices.h"

#include "sim/devices/analog_world.h"
#include "sim/devices/console/console.h"
#include "sim/devices/console/debug_channel.h"
#include "sim/devices/fram.h"

namespace sim {

void sdcard_boot();
void instruments_boot();

void devices_boot()
{
    // The console on UART0, the FRAM on I2C0.
    console_boot();
    fram_boot();
    // The debug probe on the trace port.
    debug_probe_boot();
    // The analog world: the ADS1248 on SSI3 and its multiplexer, ADC0's inputs.
    analog_boot();
    // The microSD card (or an empty socket) on SSI0, PA3 and PL5.
    sdcard_boot();
    // Instruments on the CTD and optode ports (they read the analog world).
    instruments_boot();
}

} // namespace sim
