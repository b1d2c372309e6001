// A bench board with instruments on its ports, on which the tests step the
// instrument drivers directly.
#pragma once

#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "tests/support/bench.h"

#include <functional>
#include <map>
#include <string>

namespace test {

// What one driver transaction did.
struct Transaction {
    int result = -99;        // the driver's state field at the end
    double seconds = 0;      // simulated time from the first step to the last
    int steps = 0;           // calls of the state machine
    bool power_on = false;   // the instrument's supply line at the end
    bool terminated = false; // a NUL within the driver's 128-byte buffer
    std::string buf;         // the buffer as a text
};

using StepFn = std::function<int(int)>;

// A stand-in for an instrument whose every byte the test writes: records
// what the board sends, and puts bytes on the line towards the board.
struct ScriptedLine : sim::UartPeer {
    explicit ScriptedLine(uint32_t base) : uart_base(base) {}
    void attach() { sim::uart_attach(uart_base, this); }
    void uart_from_board(uint8_t byte) override { got.push_back(static_cast<char>(byte)); }
    // Queued at the board's baud rate, one byte after the other.
    void send(const std::string& bytes)
    {
        sim::uart_send_to_board(uart_base, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    uint32_t uart_base;
    std::string got;
};

class InstrumentBench : public BenchTest {
  protected:
    InstrumentBench() { auto_start_ = false; }
    // A board with these simulator parameters ({"ctd", "sbe37"}, ...), the
    // firmware's start-up done and the console cleared.
    void begin(const std::map<std::string, std::string>& params);

    // Runs a whole transaction: step(1), then step(returned) until 0, at
    // most `limit_s` simulated seconds.
    static Transaction run(const StepFn& step, double limit_s = 30.0);
    // Steps from `state` for as long as the machine stays in `state` (at
    // most `limit_s`); returns the state it moved to.
    static int step_while(const StepFn& step, int state, double limit_s = 10.0);
    // Steps from `state` until the machine returns 0 (at most `limit_s`).
    static void finish(const StepFn& step, int state, double limit_s = 30.0);

    static Transaction run_ctd(double limit_s = 30.0);
    static Transaction run_optode(double limit_s = 30.0);
    static Transaction run_ocr(double limit_s = 30.0);
    // The transaction's end as seen from the driver records.
    static Transaction ctd_end(sim::Time t0);
    static Transaction optode_end(sim::Time t0);
    static Transaction ocr_end(sim::Time t0);

    // Types on the console `delay_ms` from now (while a driver loop runs).
    static void type_later(unsigned delay_ms, const std::string& bytes);
    static double seconds_since(sim::Time t0);
};

} // namespace test
