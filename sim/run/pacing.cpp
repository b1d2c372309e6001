// Simulated time against the wall clock.
#include "sim/run/pacing.h"

#include "platform/host/chip.h"
#include "sim/devices/console/console.h"
#include "sim/run/run_state.h"
#include "sim/run/stop_signals.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <poll.h>

namespace sim {

namespace {

struct timespec g_wall_origin {};

} // namespace

void pacing_start()
{
    clock_gettime(CLOCK_MONOTONIC, &g_wall_origin);
}

Time wall_elapsed()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    int64_t ns = (ts.tv_sec - g_wall_origin.tv_sec) * static_cast<int64_t>(NS_PER_S) +
                 (ts.tv_nsec - g_wall_origin.tv_nsec);
    return ns < 0 ? 0 : static_cast<Time>(ns);
}

bool wait_wall(Time t, bool* got_input)
{
    *got_input = false;
    for (;;) {
        if (stop_signal() != 0) {
            return false;
        }
        Time wall = wall_elapsed();
        if (wall >= t) {
            return true;
        }
        Time wait = std::min<Time>(t - wall, 200 * NS_PER_MS);
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(wait / NS_PER_S);
        ts.tv_nsec = static_cast<long>(wait % NS_PER_S);
        int fd = console_input_fd();
        if (fd < 0 || console_input_full()) {
            nanosleep(&ts, nullptr);
            continue;
        }
        struct pollfd pfd = {fd, POLLIN, 0};
        int r = ppoll(&pfd, 1, &ts, nullptr);
        if (r > 0 && (pfd.revents & POLLIN) != 0) {
            Time at = std::max(now(), std::min(wall_elapsed(), t));
            if (!console_read_input(at)) {
                return false;
            }
            *got_input = true;
            return true;
        }
    }
}

// Called by the chip before simulated time advances to `t`.  Unpaced, the
// chip asks again once a simulated millisecond has passed (the stop signals
// are seen within it); paced, before any step beyond the time the wall
// clock has reached.
Time board_pace(Time t)
{
    const RunLocal& r = run();
    const Time unpaced_horizon = t + NS_PER_MS;
    if (!r.in_boot || r.provisioning) {
        return unpaced_horizon; // provisioning runs to its end
    }
    if (stop_signal() != 0 && !r.bench) {
        boot_end(BootEnd::Quit);
    }
    if (!r.paced) {
        return unpaced_horizon;
    }
    console_flush();
    bool got = false;
    if (!wait_wall(t, &got)) {
        boot_end(BootEnd::Quit);
    }
    if (got) {
        // Input came before the wall clock reached `t`: ask again at the
        // next step, which must wait for the wall clock too.
        console_deliver();
        return 0;
    }
    return t;
}

} // namespace sim
