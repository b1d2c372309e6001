// What the device models get from the run that carries the board.
//
// Device models attach to the chip through the peripheral they hang on
// (platform/host/host_periph.h, sim_core.h); their settings and their files
// in the board folder come from the run machinery (sim/run), which provides
// the functions declared here, as it provides the memory that survives a
// reset (shared_area(), platform/host/chip.h).
#pragma once

#include "platform/host/chip.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace sim {

// Parameters of the run for the device models: the world behind the sensor
// inputs and instrument ports, the card and its faults ("ph" -> "8.05",
// "card" -> "sdv1"; docs/analog.md, docs/card.md).
const std::map<std::string, std::string>& device_params();

// Faults of devices that are switched by their own command-line option.
struct DeviceFaults {
    bool fram_absent = false;   // nothing answers at the FRAM's address
    bool console_noise = false; // junk toward the host whenever the console transceiver switches
};
const DeviceFaults& device_faults();

// The supply battery's voltage now, for a fresh voltage of `fresh_v`
// (--vbat): `fresh_v` itself without a battery model (--battery).
double supply_battery_volts(double fresh_v);

// Path of a file in the board folder.
std::string board_path(const char* name);

// The FRAM array (256 bytes), kept in the board folder.
constexpr uint32_t FRAM_BYTES = 256;
uint8_t* fram_image();

} // namespace sim
