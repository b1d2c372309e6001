// The console line between the board's UART0 and the terminal: line faults
// (bytes dropped, bits flipped, one byte lost) in either direction.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace sim {

// Takes the line's faults from the run's parameters (every boot).
void console_line_boot();
// A byte on its way through the line towards the board, or towards the
// terminal: the byte as it arrives, or -1 when it is lost.
int console_line_to_board(uint8_t byte);
int console_line_to_terminal(uint8_t byte);

// Fault options of the console line, "console-in-drop=P",
// "console-out-flip=P", "console-in-lose=N" or "console-in-lose=N/HH" and
// the like.  Returns false when `name` is not one of them; otherwise sets the
// run parameter in *params and leaves "" or a usage error in *err.
bool console_fault_option(const std::string& name, const std::string& value, bool has_value,
                          std::map<std::string, std::string>* params, std::string* err);

} // namespace sim
