// Helpers of the card tests: running a test body on the simulated board in
// place of the firmware, reading the card image, and running commands.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace cardtest {

// What a body reports back from the board's process.
struct Report {
    int boots;
    std::size_t len;
    char text[1 << 16];
};

// Appends a line to the report.
void note(Report& r, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

struct BodyRun {
    std::string board;   // board folder
    std::string image;   // its card image
    std::string report;  // the lines the body noted, in every boot
    std::string console; // what the console transmitted
    int boots = 0;
    int status = 0;
};

// A fresh board folder, removed when the tests end.
std::string board_dir(const std::string& name);

// Runs `body` on a fresh board folder `name` with the run parameters
// `params` (card variant, faults).  The body runs in every boot.
BodyRun run_body(const std::string& name, const std::map<std::string, std::string>& params,
                 const std::function<void(Report&)>& body, double until_s = 60);

// The same in the board folder `board`, which may hold a card image
// prepared beforehand.
BodyRun run_body_in(const std::string& board, const std::map<std::string, std::string>& params,
                    const std::function<void(Report&)>& body, double until_s = 60);

// In a body: 50 MHz clock, the 1 ms system tick (which also steps the card
// driver's timers) and interrupts on, as start-up leaves them.
void start_board();
// start_board with the board's pins and the console (115200 baud) set up
// first, as start-up does.
void start_board_with_console();

// RTC count (seconds since 1900-01-01 00:00:00) of a calendar time.
uint32_t rtc_count(int year, unsigned month, unsigned day, int h, int m, int s);

// Sectors of an image file.
std::vector<uint8_t> read_sectors(const std::string& image, uint64_t sector, unsigned count);

struct Cmd {
    int rc;
    std::string out; // standard output and error
};
// Runs a shell command.
Cmd sh(const std::string& cmd);
// Runs "varve-sim card ARGS".
Cmd card(const std::string& args);
// mtools image argument of a card made by the simulator (partition at 1 MiB).
std::string mimg(const std::string& image);

} // namespace cardtest
