// The host's side of a polled deployment: wake the controller, serve one
// command exchange, read the answer within bounded waits.
#pragma once

#include "tools/varve-host/serial_port.h"

#include <string>
#include <vector>

namespace varvehost {

// Exit codes of varve-host (documented in docs/host-tools.md).
enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_FAILURE_OTHER = 1, // data file tools: input or output file error
    EXIT_USAGE = 2,
    EXIT_PORT = 3,         // the serial port cannot be opened or configured
    EXIT_NO_ANSWER = 4,    // nothing (or not all) came within the bound
    EXIT_NOT_DEPLOYED = 5, // the controller woke into its main menu
    EXIT_PROTOCOL = 6,     // an answer that is not the expected one
    EXIT_OUTPUT = 7,       // the local output file cannot be written
};

struct Timing {
    double wake_s = 1.5;   // start-up after the wake byte (bytes sent meanwhile are lost)
    double probe_s = 2.0;  // wait for "NAK" after each probe line
    int probes = 3;        // probe lines before giving up
    double sample_s = 3.0; // "ss" to "sl": the sample's duration (pump phase included)
    double reply_s = 10.0; // a reply's bound, the controller's window per command
    double idle_s = 1.5;   // a "gdata" transfer is over after this long without a byte
};

// The outcome of an exchange, in the host code's error convention
// (tools/common/status.h: ok() or the message), with the exit code the
// failure gives and, on success, the answer.
struct [[nodiscard]] Result {
    int code = EXIT_OK;
    std::string message; // error text for standard error
    std::string text;    // the answer: record, header, metadata
    bool ok() const { return code == EXIT_OK; }
};

class PolledClient {
  public:
    PolledClient(SerialPort& port, const Timing& t) : port_(port), t_(t) {}

    // Wakes the controller and checks that it serves commands.
    Result wake();
    Result sample();      // "ss", then "sl": the record
    Result take_sample(); // "ts": the record
    Result header();      // "gh"
    Result metadata();    // "gm"
    Result stop();        // "stop": the main menu follows
    Result fetch(const std::string& out_path, std::size_t* appended);

  private:
    Result command_line(const std::string& cmd, double bound_s, std::string* answer);
    Result no_answer(double seconds, const char* what);
    SerialPort& port_;
    Timing t_;
};

// Answer text without the echo of the typed line (echo on: the line, then
// "\n\r").
std::string strip_echo(const std::string& answer, const std::string& cmd);
// The first complete, non-empty line of a text (without its line end) that
// is not the echo of a typed command; "" when there is none.
std::string first_line(const std::string& text, const std::vector<std::string>& echoes);

} // namespace varvehost
