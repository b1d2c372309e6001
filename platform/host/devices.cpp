// Device models of the simulated board, brought up at every boot.
#include "platform/host/board_runner.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/vectors.h"

int varve_firmware_main();

namespace sim {

void uart_models_boot();

void devices_boot()
{
    uart_models_boot();
    // No microSD card fitted: the card-detect line floats high.
    gpio_drive('L', 5, true);
}

}  // namespace sim

// The simulated processor's reset: start the firmware.
extern "C" void ResetISR() { varve_firmware_main(); }
