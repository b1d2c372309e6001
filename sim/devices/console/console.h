// The console on UART0: the line between the board and the operator's
// endpoints.
//
// Output: every byte the console UART finishes transmitting goes to the
// transcript (buffered) and, live, to the terminal or pseudo-terminal.
// Input: bytes typed on the terminal or pty, or given by the timed input
// script, queue on the console line (in shared memory, so that they
// survive a reset) and reach UART0's receiver one byte time apart.  Both
// directions pass the line's faults (console_line.h): the transcript keeps
// what the board sent, the terminal and the receiver get what arrives.  While
// the board hibernates nothing delivers them: the run machinery takes them
// off the line itself (they are lost, the first may wake the board).
#pragma once

#include "platform/host/sim_core.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

enum class ConsoleMode { None, Stdio, Pty };

// --- Endpoints (the run machinery, once per run) --------------------------------

// Forgets the endpoints, the output buffer and the line of a previous run.
void console_reset();
// Opens the endpoint of `mode` (stdio: this terminal in raw mode; pty: a
// new pseudo-terminal, its path on standard error).  The transcript goes to
// `transcript_fd`; `transcript_is_console` when that is the terminal itself.
// False when the endpoint cannot be opened.
bool console_open(ConsoleMode mode, int transcript_fd, bool transcript_is_console);
// Writes out the transcript buffer.
void console_flush();
// Flushes and closes the transcript, restores the terminal, closes the pty.
void console_close();

// Descriptor to poll for typed input (-1 = none).
int console_input_fd();
// So many bytes wait for the line that no more are read from the endpoint
// until some are through (the sender's writes wait meanwhile).
bool console_input_full();
// Reads what the endpoint sent onto the line, arriving at `at`.  False when
// the operator leaves (Ctrl-] on a stdio console).
bool console_read_input(Time at);

// The console monitor (terminal and pty consoles): MONITOR_KEY, then one
// command key, goes to `handler` instead of the firmware (MONITOR_KEY twice
// types it once).  The handler returns false to end the run.
constexpr uint8_t MONITOR_KEY = 0x01; // Ctrl-A
void console_set_monitor(bool (*handler)(uint8_t command));

// The console transceiver's supply switched (a reset, an entry into
// hibernation): with the console-noise fault, a burst of junk on the line
// towards the terminal.
void console_transceiver_switched();

// --- Output modes -----------------------------------------------------------------

// Output is dropped (a new board being provisioned).
void console_discard(bool discard);
// Output is collected in memory instead of written (test benches).
void console_capture(bool capture);
std::string& console_captured();

// --- The line -----------------------------------------------------------------------

// Queues bytes typed at `at` (the line is busy with earlier bytes until
// they are through).
void console_type(const uint8_t* data, std::size_t len, Time at);
// Bytes still on their way.
std::size_t console_pending();
// When the next byte on the line arrives, if nothing delivers it earlier.
Time console_next_byte_at();
// Takes the next byte off the line at `at` (a hibernating board's console
// is unpowered: the byte is lost).
void console_drop_byte(Time at);

// --- Inside a boot ------------------------------------------------------------------

// Attaches the console to UART0 (called by devices_boot).
void console_boot();
// Delivers what is queued to UART0's receiver, one byte time apart.
void console_deliver();
// The boot ends: remembers the console's byte time for the next wait.
void console_boot_end();

} // namespace sim
