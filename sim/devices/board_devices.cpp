// Device models of the simulated board, brought up at every boot.
#include "sim/run/board_body.h"
#include "sim/run/run_board.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/vectors.h"

int varve_firmware_main();

namespace sim {

void system_models_boot();
void storage_models_boot();
void uart_models_boot();
void ssi_adc_models_boot();
void analog_boot();
void sdcard_boot();

void devices_boot()
{
    system_models_boot();
    storage_models_boot();
    uart_models_boot();
    ssi_adc_models_boot();
    analog_boot();
    // The microSD card (or an empty socket) on SSI0, PA3 and PL5.
    sdcard_boot();
}

} // namespace sim

// The simulated processor's reset: start the firmware.
extern "C" void ResetISR()
{
    sim::run_boot_body(); // a test's body instead of the firmware, when set
    varve_firmware_main();
}
