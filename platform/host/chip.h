// The simulated microcontroller and the machine that runs it.
//
// The chip (this folder) models the processor core and its peripherals; it
// knows nothing of board folders, consoles, scripts or firmware records.
// What it needs from outside - somewhere to keep the state that survives a
// reset, a way to end a boot, the wall clock, the timeline - it declares
// here, and the run machinery (sim/run) provides it.
#pragma once

#include "platform/host/sim_core.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// --- Provided by the chip ---------------------------------------------------------

// Power-on state of the processor core and the peripherals (interrupt
// controller, GPIO, clock and gates, SysTick, UARTs, SSI, ADC0, I2C0).
// Device models attach after it.
void chip_power_on();

// --- Provided by the machine that runs the chip ----------------------------------

// Faults of the chip's own peripherals, for this run.
struct ChipFaults {
    bool eeprom_program = false; // every EEPROMProgram reports failure
    bool eeprom_init = false;    // EEPROMInit reports an error
    bool hibernate = false;      // HibernateRequest does not take effect
};
const ChipFaults& chip_faults();

// Simulated time is about to advance to `t`: the machine may hold it back
// (pacing with the wall clock) or end the boot (asked to stop).  Returns the
// time before which it need not be asked again (at most `t` when it paces
// every step).
Time board_pace(Time t);

// Ends this boot: the processor hibernates, resets, loses power, stops in
// a fault handler, or the run is over.
enum class BootEnd : int {
    Hibernate = 10,
    SoftwareReset = 11,
    RunOver = 12,
    Fault = 13,
    Quit = 14,
    ResetButton = 15,
    PowerCycle = 16,
};
[[noreturn]] void boot_end(BootEnd why);
// True while the processor runs a fault handler (hard fault).
bool in_fault();

// The hibernation module's battery-backed state, kept across resets and
// runs.
struct HibState {
    uint32_t active; // module enabled at least once
    uint32_t rtc_enabled;
    uint32_t rtc_seconds; // RTC count at rtc_ref_ns
    uint64_t rtc_ref_ns;  // run time at which the count was rtc_seconds
    uint32_t match0;
    uint32_t wake_flags; // HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC
    uint32_t raw_status; // latched HIBERNATE_INT_* bits
    uint32_t trim;
    uint32_t clock_config;
    uint32_t hibernating; // the board was hibernating when the last run ended
    uint32_t data[16];    // battery-backed data registers
};
HibState& hib_state();
// The RTC count now (provided by the chip).
uint32_t hib_rtc_now();

// The EEPROM array (2048 bytes), kept across resets and runs.
constexpr uint32_t EEPROM_BYTES = 2048;
uint8_t* eeprom_image();

// Timeline of board lines and PWM settings: "time_s line level".
void timeline(std::string_view what, int value);

// Memory that survives resets within one run: a fixed area shared by every
// boot; models that must keep state across a reset (noise generators, card
// state, console input on its way, counters of the run) take a slice of it.
// The same name gives the same slice in every boot; it starts zeroed.
// Returns nullptr when the area is exhausted.
void* shared_area(const char* name, std::size_t size);

} // namespace sim
