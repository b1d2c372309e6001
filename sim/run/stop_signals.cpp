// Stop requests from outside the simulator.
#include "sim/run/stop_signals.h"

namespace sim {

namespace {

volatile sig_atomic_t g_stop_signal = 0;

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void on_stop_signal(int sig)
{
    if (g_stop_signal == 0) {
        g_stop_signal = sig;
    }
}

} // namespace

int stop_signal()
{
    return g_stop_signal;
}

StopSignals::StopSignals()
{
    g_stop_signal = 0;
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // interrupt the runner's waits
    for (std::size_t i = 0; i < COUNT; ++i) {
        sigaction(SIGNALS[i], &sa, &saved_[i]);
    }
}

StopSignals::~StopSignals()
{
    for (std::size_t i = 0; i < COUNT; ++i) {
        sigaction(SIGNALS[i], &saved_[i], nullptr);
    }
}

} // namespace sim
