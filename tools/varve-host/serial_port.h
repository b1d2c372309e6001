// A serial line in raw mode (POSIX termios): 8 data bits, no parity, one
// stop bit, no flow control.  Works the same on a USB serial adapter
// (/dev/ttyUSB0) and on a pseudo-terminal (varve-sim --console pty).
#pragma once

#include "tools/common/status.h"

#include <chrono>
#include <string>

namespace varvehost {

using varve::Status;

using Clock = std::chrono::steady_clock;

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens and configures DEV.
    Status open(const std::string& dev, unsigned baud);
    // Writes all bytes (bounded by a 2 s write time-out); false on failure.
    bool write(const std::string& bytes);
    // Appends what arrives until `deadline`, or until nothing has come for
    // `idle` since the call or the last byte (idle <= 0: only the deadline).
    // Returns false when the line failed (closed, I/O error).
    bool read_for(std::string* into, Clock::time_point deadline,
                  std::chrono::milliseconds idle = std::chrono::milliseconds(0));
    // Appends what arrives until `done(*into)` holds or `deadline` passes;
    // true when `done` held.
    template <typename Pred> bool read_until(std::string* into, Clock::time_point deadline, Pred done)
    {
        while (!done(*into)) {
            if (Clock::now() >= deadline || !read_some(into, deadline)) {
                return done(*into);
            }
        }
        return true;
    }
    // Drops input received and not yet read.
    void discard_input();
    // Copies every byte sent and received to standard error, escaped.
    void set_trace(bool on) { trace_ = on; }

  private:
    // Waits for input until `deadline` and appends it; false on line failure.
    bool read_some(std::string* into, Clock::time_point deadline);
    void trace(const char* dir, const char* data, std::size_t len);
    int fd_ = -1;
    bool trace_ = false;
};

// The termios speed constant of a baud rate; 0 for an unsupported rate.
unsigned baud_constant(unsigned baud);

} // namespace varvehost
