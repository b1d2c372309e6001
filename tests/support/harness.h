// Runs the firmware on a simulated board from a timed input script and
// returns what the console transmitted.
#pragma once

#include "sim/run/run_board.h"

#include <cstdint>
#include <string>
#include <vector>

namespace test {

// The pace of the simulator on a pseudo-terminal in the tests (varve-sim
// --pace): the console line and every firmware wait run this many times as
// fast as the wall clock.  Real peers (lrzsz, picocom, varve-host) keep
// their own wall-clock time-outs; time bounds of the firmware that a test
// checks on the wall clock are divided by it.
constexpr int PTY_PACE = 4;

// A fresh board folder under the test's temporary directory.
std::string fresh_board_dir(const std::string& name);

struct Run {
    std::string transcript;
    int status = 0;
};

// Runs `script` (timed input format) on the board in `opts.board_dir` until
// `until_s` simulated seconds.  A new board starts on 2026-01-15 12:00:00
// unless opts.start says otherwise.
Run run_script(sim::RunOptions opts, const std::string& script, double until_s);

// Board folder files.
std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);

// Counts non-overlapping occurrences of `needle` in `hay`.
int count(const std::string& hay, const std::string& needle);

} // namespace test
