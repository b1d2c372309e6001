// In-process test bench: a board with the chip and its devices up and
// simulated time running from 0, on which a test calls firmware functions
// directly (no main(), no fork).  Console output is collected instead of
// written.  A hibernation or reset request ends the test process with a
// message, as nothing can resume it.  One bench at a time.
#pragma once

#include "sim/run/run_board.h"

#include <string>

namespace sim {

bool bench_begin(const RunOptions& opts);
void bench_end();
// The bench's options; a test may switch faults while the bench runs.
RunOptions& bench_options();
std::string bench_console_output(); // everything transmitted so far
void bench_clear_output();
// Types bytes on the console line (delivered at the line's byte rate).
void bench_type(const std::string& bytes);

} // namespace sim
