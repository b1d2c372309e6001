// Helpers of the deployment tests: configuration prepared in the stored
// record before the firmware starts (there is no configuration menu to walk),
// the progress record, and files read off the board's card.
#pragma once

#include "sim/run/run_board.h"
#include "records/system_data.h"
#include "tests/support/harness.h"

#include <functional>
#include <string>
#include <vector>

namespace deploytest {

using ConfigFn = std::function<void(systemData&)>;

// A new board folder; its configuration is changed by `config` in the
// stored record at the first boot of every run (before the firmware reads
// it).
sim::RunOptions board(const std::string& name, ConfigFn config = nullptr);

// The stored configuration record of a board folder.
systemData stored_config(const std::string& dir);
// The progress record in a board folder's FRAM.
systemSamplingData stored_progress(const std::string& dir);

// A file on the board's card ("" when it cannot be read), through
// "varve-sim card get".
std::string card_file(const std::string& dir, const std::string& name);
// A shell command's exit status and standard output.
int command_output(const std::string& cmd, std::string* out);
// "varve-sim card ARGS" on the board: exit status and output.
int card_cmd(const std::string& dir, const std::string& args, std::string* out);

// Lines of a text (split at "\n", "\r" kept).
std::vector<std::string> lines(const std::string& text);
// Tab-separated fields of a line without its "\r\n".
std::vector<std::string> fields(const std::string& line);
// The data records (lines starting with '#') of a data file or transcript.
std::vector<std::string> records(const std::string& text);

// Scripted keys: "DELAY TEXT" entries for the timed input.
std::string keys(double delay_s, const std::string& text);

} // namespace deploytest
