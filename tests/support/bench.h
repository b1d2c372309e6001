// A simulated board on which a test calls firmware functions directly.
#pragma once

#include "sim/run/bench.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <string>

namespace test {

// Fixture: a fresh board, devices up, the firmware's start-up done (so the
// console, tick and stores work); console output cleared.
class BenchTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Options for the board; tests may change them before calling start().
    sim::RunOptions opts;
    // Brings the board up (SetUp does it with default options).
    void start(bool run_init = true);
    // Console output so far, after what is queued has been transmitted.
    std::string output();
    void clear();
    // Waits until the console has sent everything queued.
    void settle();
    void type(const std::string& bytes) { sim::bench_type(bytes); }
    // Lets simulated time pass with the processor idle.
    void wait_ms(unsigned ms);
    bool started_ = false;
    bool auto_start_ = true;
};

} // namespace test
