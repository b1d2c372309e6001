// The board folder (--board): what survives between runs.
//
//   eeprom.bin     the chip's EEPROM, mapped shared (every boot writes
//                  through to the file)
//   fram.bin       the FRAM on I2C0, mapped shared
//   hibernate.txt  the hibernation module's battery-backed state
//   card.img       the microSD card (opened by the card model)
//   .gitignore     "*": a board folder is never source
//
// eeprom_image(), fram_image() and board_path() (platform/host/chip.h,
// sim/devices/board_services.h) are defined here.
#pragma once

#include "platform/host/chip.h"

#include <string>

namespace sim {

// Creates the folder if needed and maps the store images (new ones erased
// to 0xFF).  False, with a message, when that fails.
bool board_folder_open(const std::string& dir);
void board_folder_close();

// The hibernation module's record; false when the folder has none (a new
// board).
bool board_folder_load_hib(HibState* h);
// Writes the run's hibernation state, with the RTC count of now.
void board_folder_save_hib();
// A new folder gets a .gitignore that ignores everything in it.
void board_folder_keep_out_of_git();

} // namespace sim
