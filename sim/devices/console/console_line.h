// The console line between the board's UART0 and the terminal: line faults
// (bytes dropped, bits flipped, one byte lost) in either direction, and the
// debug output channel of the firmware.
#pragma once

#include "platform/host/board_runner.h"

#include <cstdint>
#include <string>

namespace sim {

// Wraps the console UART's receiver: bytes towards the board pass the
// line faults of direction "in" first.
ConsoleLine* console_line_to_board(ConsoleLine* uart);
// A byte the console UART finished transmitting: the transcript records it
// as sent; the terminal gets it after the line faults of direction "out".
void console_line_from_board(uint8_t byte);

// Fault options of the console line, "console-in-drop=P",
// "console-out-flip=P", "console-in-lose=N" or "console-in-lose=N/HH" and
// the like.  Returns false when `name` is not one of them; otherwise sets the
// run parameter and leaves "" or a usage error in *err.
bool console_fault_option(const std::string& name, const std::string& value, bool has_value, RunOptions* opts,
                          std::string* err);

} // namespace sim
