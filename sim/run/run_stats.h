// The run's statistics (--stats FILE): what a run cost, boot by boot, kept
// in the run's shared memory and written as JSON when the run ends.
//
// The runner tells it where each boot starts and ends and why the board
// woke; the timeline tells it every change of a board line; the device
// models and the chip keep their own counters (device_counters.h,
// eeprom_words_programmed()).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

// Why a boot started.
enum class BootCause : int {
    PowerOn = 0,       // supply applied (a new board, a board the last run left awake, a power cycle)
    Rtc = 1,           // the RTC match woke the hibernating board
    Pin = 2,           // a console byte woke it (the wake pin)
    Reset = 3,         // the reset line (script "!reset", the reset button)
    SoftwareReset = 4, // the firmware reset the processor
};
constexpr int BOOT_CAUSES = 5;

// Runner: the run starts (after the board is opened; what opening it cost,
// provisioning a new board, is not counted).
void stats_run_started();
// Runner: a boot starts now, for `why`; it has ended (now).
void stats_boot_started(BootCause why);
void stats_boot_ended();
// The timeline: line or PWM output `name` changed to `value`.
void stats_line(std::string_view name, int value);
// Charge drawn from the supply since the run started, up to now (mAh).
double stats_charge_mAh_now();
// A boot of the run ended the deployment through the low-battery check.
bool stats_low_battery_end();
// Writes the statistics of the run so far as JSON.  False when writing fails.
bool stats_write(std::FILE* f, double host_seconds);

} // namespace sim
