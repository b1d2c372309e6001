// The console line between the board's UART0 and the terminal: line faults
// (bytes dropped, bits flipped, one byte lost) in either direction.
#pragma once

#include "tools/common/status.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim {

using varve::Status;

// Takes the line's faults from the run's parameters (every boot).
void console_line_boot();
// A byte on its way through the line towards the board, or towards the
// terminal: the byte as it arrives, or -1 when it is lost.
int console_line_to_board(uint8_t byte);
int console_line_to_terminal(uint8_t byte);

// Fault options of the console line, "console-in-drop=P",
// "console-out-flip=P", "console-in-lose=N" or "console-in-lose=N/HH" and
// the like.  Returns nothing when `name` is not one of them; otherwise sets
// the run parameter in *params and returns ok, or the usage error.
std::optional<Status> console_fault_option(const std::string& name, const std::string& value, bool has_value,
                                           std::map<std::string, std::string>* params);

} // namespace sim
