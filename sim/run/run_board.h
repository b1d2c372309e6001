// Running a simulated board: a board folder (EEPROM, FRAM, hibernation
// module, card), console endpoints, a timed input script, and the run loop
// that powers the firmware, lets it hibernate and wakes it again.
//
// Every reset runs the firmware in a freshly forked child process of the
// runner, which itself never runs firmware code: the child starts with the
// firmware's RAM exactly as loaded (initialised data, cleared zero-initialised
// data), and its whole call stack is abandoned when it hibernates or resets.
// What survives a reset is what the chip keeps: EEPROM, FRAM, the hibernation
// module, the card - all mapped from files in the board folder - and the
// run's own bookkeeping (time, script position, pending console input).
#pragma once

#include "platform/host/chip.h"
#include "sim/devices/board_services.h"
#include "sim/devices/console/console.h"

#include <functional>
#include <map>
#include <string>

namespace sim {

// Fault injection: the chip's (eeprom_program, eeprom_init, hibernate) and
// the devices' (fram_absent, console_noise), each seen by its model through
// its own view.
struct Faults : ChipFaults, DeviceFaults {};

struct RunOptions {
    std::string board_dir = "varve-board";
    ConsoleMode console = ConsoleMode::Stdio;
    std::string input_file;      // timed input script ("" = none)
    std::string input_text;      // script text given directly (tests)
    double until_s = -1;         // end of the run in simulated seconds; <0 = default
    bool until_battery = false;  // ends earlier when the deployment ends on a low battery
    std::string start;           // "YYYY-MM-DD HH:MM:SS" console time of a new board
    std::string transcript_file; // "" = standard output (unless the console is stdio)
    std::string timeline_file;   // "" = no timeline
    std::string stats_file;      // "" = no statistics (JSON written at the end of the run)
    bool blank = false;          // new board is unprovisioned (EEPROM, FRAM all 0xFF)
    bool pace = false;           // 1:1 with the wall clock (interactive consoles)
    uint32_t pace_factor = 1;    // a paced run's simulated time runs so many times as fast
    Faults faults;
    // Parameters of the simulated world behind the sensor inputs and
    // instrument ports ("ph" -> "8.05"); device models read them.
    std::map<std::string, std::string> params;
    // Tests only: runs inside every boot, just before the processor leaves
    // reset (boot numbers count from 1 within the run).
    std::function<void(int boot)> boot_hook;
};

// Runs the board until the end of the run.  Returns the process exit status
// for the simulator: 0 normal end, 1 usage/board errors, 3 the firmware
// stopped at a fault handler, 128+N stopped by signal N.
int run_board(const RunOptions& opts);

} // namespace sim
