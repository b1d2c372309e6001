// Helpers of the bench-tool tests: scripted keys, the timeline of board
// lines and the card image read with mtools.
#pragma once

#include <string>
#include <vector>

namespace benchtest {

// Timeline entries of one line ("PD1"): "LEVEL" values in time order.
std::vector<std::string> line_levels(const std::string& timeline, const std::string& line);

// A file of the board's card read by mtools' mtype ("" when it fails).
std::string mtype_card_file(const std::string& board_dir, const std::string& name);

// A whole file as text.
std::string text_file(const std::string& path);

// The text between the first `from` and the next `to` after it.
std::string between(const std::string& text, const std::string& from, const std::string& to);

} // namespace benchtest
