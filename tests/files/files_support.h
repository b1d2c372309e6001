// Helpers of the file shell and YMODEM tests: test files, card contents
// through the card tool, and a simulator session in the file shell.
#pragma once

#include "tests/files/pty_session.h"
#include "tests/support/harness.h"

#include <cstdint>
#include <string>
#include <vector>

namespace filestest {

std::string q(const std::string& s);

// A fresh board folder (removed when the tests end) with a 40 MiB card (or
// the simulator's default 1 GiB one), and a fresh host folder for the files
// on the terminal's side.
std::string new_board(const std::string& name, bool small_card = true);
std::string new_host_dir(const std::string& name);

// `size` bytes in which every byte value occurs once per 256 bytes.
std::vector<uint8_t> pattern(std::size_t size);
void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_bytes(const std::string& path);
bool file_exists(const std::string& path);

// Puts host files on the card of `board` (before the simulator runs).
void put_on_card(const std::string& board, const std::string& host_path, const std::string& name);
// A file of the card (read through the card tool); *found false when absent.
std::vector<uint8_t> card_file(const std::string& board, const std::string& name, bool* found);
// The card tool's listing and its fsck verdict.
std::string card_ls(const std::string& board, const std::string& dir = "");
bool card_fsck_clean(const std::string& board, std::string* report);

// The simulator on a pty with its 40 MiB card, at the file shell's prompt;
// simulated time runs `pace` times as fast as the wall clock.
class ShellSession {
  public:
    explicit ShellSession(const std::string& board, std::vector<std::string> options = {},
                          int pace = test::PTY_PACE);
    PtySim sim;
    bool in_shell = false;
    // Types a command line and waits for the prompt after it.
    bool command(const std::string& line, double seconds = 20);
};

} // namespace filestest
