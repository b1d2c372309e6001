// Power-on of the simulated microcontroller, its RTC count and its reset.
#include "platform/host/chip.h"

#include "platform/host/sim_core.h"
#include "platform/vectors.h"

int varve_firmware_main();

namespace sim {

void system_models_boot();
void storage_models_boot();
void uart_models_boot();
void ssi_adc_models_boot();

void chip_power_on()
{
    reset_machine();
    system_models_boot();
    storage_models_boot();
    uart_models_boot();
    ssi_adc_models_boot();
}

uint32_t hib_rtc_now()
{
    const HibState& h = hib_state();
    if (h.rtc_enabled == 0) {
        return h.rtc_seconds;
    }
    Time t = now();
    Time elapsed = t > h.rtc_ref_ns ? t - h.rtc_ref_ns : 0;
    return h.rtc_seconds + static_cast<uint32_t>(elapsed / NS_PER_S);
}

} // namespace sim

// The simulated processor's reset: start the firmware.
extern "C" void ResetISR()
{
    varve_firmware_main();
}
