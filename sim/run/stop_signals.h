// SIGINT, SIGTERM and SIGHUP end a run as Ctrl-] does.  The runner and each
// boot see their own flag: the runner stops waiting and passes the request
// on to a boot in progress, which ends at its next step of simulated time.
#pragma once

#include <csignal>
#include <cstddef>

namespace sim {

// The signal that asked the run to stop (0 = none).
int stop_signal();

// Catches the three signals for the lifetime of the object (a run), and
// puts the previous handlers back when it ends.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    static constexpr std::size_t COUNT = 3;
    struct sigaction saved_[COUNT] {};
};

} // namespace sim
