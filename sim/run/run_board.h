// The simulated board: a board folder (EEPROM, FRAM, hibernation module,
// card), console endpoints, a timed input script, and the run loop that
// powers the firmware, lets it hibernate and wakes it again.
//
// Every reset runs the firmware in a freshly forked child process of the
// runner, which itself never runs firmware code: the child starts with the
// firmware's RAM exactly as loaded (initialised data, cleared zero-initialised
// data), and its whole call stack is abandoned when it hibernates or resets.
// What survives a reset is what the chip keeps: EEPROM, FRAM, the hibernation
// module, the card - all mapped from files in the board folder - and the
// run's own bookkeeping (time, script position, pending console input).
#pragma once

#include "platform/host/sim_core.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace sim {

enum class ConsoleMode { None, Stdio, Pty };

struct Faults {
    bool eeprom_program = false; // every EEPROMProgram reports failure
    bool eeprom_init = false;    // EEPROMInit reports an error
    bool fram_absent = false;    // nothing answers at the FRAM's address
    bool hibernate = false;      // HibernateRequest does not take effect
};

struct RunOptions {
    std::string board_dir = "varve-board";
    ConsoleMode console = ConsoleMode::Stdio;
    std::string input_file;      // timed input script ("" = none)
    std::string input_text;      // script text given directly (tests)
    double until_s = -1;         // end of the run in simulated seconds; <0 = default
    std::string start;           // "YYYY-MM-DD HH:MM:SS" console time of a new board
    std::string transcript_file; // "" = standard output (unless the console is stdio)
    std::string timeline_file;   // "" = no timeline
    bool blank = false;          // new board is unprovisioned (EEPROM, FRAM all 0xFF)
    bool pace = false;           // 1:1 with the wall clock (interactive consoles)
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
// stopped at a fault handler.
int run_board(const RunOptions& opts);

// In-process test bench: a board with its devices up and simulated time
// running from 0, on which a test calls firmware functions directly (no
// main()).  Console output is collected instead of written.  A hibernation
// or reset request ends the test process with a message, as nothing can
// resume it.  One bench at a time.
bool bench_begin(const RunOptions& opts);
void bench_end();
std::string bench_console_output(); // everything transmitted so far
void bench_clear_output();
// Types bytes on the console line (delivered at the line's byte rate).
void bench_type(const std::string& bytes);

// --- Hooks used by the peripheral models inside a boot -----------------------------
const RunOptions& options();
// Waits for the wall clock (interactive consoles) up to simulated time `t`,
// reading console input on the way.
void board_pace(Time t);
// Bytes the console UART has finished transmitting.
void console_output(uint8_t byte);
// The console UART as seen from its line: bytes are handed to its receiver
// (which drops them while disabled) one byte time apart.
struct ConsoleLine {
    virtual ~ConsoleLine() = default;
    virtual void receive(uint8_t byte) = 0;
    virtual Time byte_time() = 0;
};
void console_attach(ConsoleLine* line);

// Ends this boot.
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

// Persistent state of the hibernation module (kept in the board folder).
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
uint32_t hib_rtc_now();

// EEPROM (2048 bytes) and FRAM (256 bytes) images, mapped from the board folder.
constexpr uint32_t EEPROM_BYTES = 2048;
constexpr uint32_t FRAM_BYTES = 256;
uint8_t* eeprom_image();
uint8_t* fram_image();

// Path of a file in the board folder.
std::string board_path(const char* name);

} // namespace sim
