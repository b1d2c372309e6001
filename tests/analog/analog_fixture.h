// A bench board with the analog world, on which the tests call the analog
// drivers directly (no main()).
#pragma once

#include "sim/devices/analog_world.h"
#include "sim/run/bench.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace test {

class AnalogBench : public ::testing::Test {
  protected:
    void TearDown() override;
    // Brings up a fresh board with these world parameters (e.g.
    // {"noise", "off"}) and runs the firmware's start-up; console output
    // is then cleared.
    void begin(const std::map<std::string, std::string>& params = {});
    // Ends the board (begin may then be called again).
    void end();
    // Lets simulated time pass with the processor idle.
    static void wait_ms(unsigned ms);
    // Simulated seconds since `t0`.
    static double seconds_since(sim::Time t0);
    // Waits until the console has sent everything; returns what it printed
    // since the last clear().
    std::string printed();
    static void clear() { sim::bench_clear_output(); }
    sim::AnalogWorld& world() { return sim::analog_world(); }
    sim::Ads1248& converter() { return sim::analog_converter(); }

  private:
    bool started_ = false;
};

} // namespace test
