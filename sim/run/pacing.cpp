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
uint32_t g_factor = 1;
Time g_last_look = 0; // wall time input was last looked for

} // namespace

void pacing_start(uint32_t factor)
{
    g_factor = factor != 0 ? factor : 1;
    g_last_look = 0;
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

Time paced_elapsed()
{
    return wall_elapsed() * g_factor;
}

bool wait_wall(Time t, bool* got_input)
{
    *got_input = false;
    for (;;) {
        if (stop_signal() != 0) {
            return false;
        }
        Time real = wall_elapsed();
        Time wall = real * g_factor;
        int fd = console_input_fd();
        bool can_read = fd >= 0 && !console_input_full();
        if (wall >= t) {
            // Simulated time lags behind (a loaded host, or a fast pace):
            // what the terminal sent meanwhile is still read, every
            // millisecond of wall time, so that catching up does not look
            // to the firmware like a silent line.
            if (can_read && real - g_last_look >= NS_PER_MS) {
                g_last_look = real;
                struct pollfd pfd = {fd, POLLIN, 0};
                if (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN) != 0) {
                    if (!console_read_input(std::max(now(), t))) {
                        return false;
                    }
                    *got_input = true;
                }
            }
            return true;
        }
        Time wait = std::min<Time>(std::max<Time>((t - wall) / g_factor, 1), 200 * NS_PER_MS);
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(wait / NS_PER_S);
        ts.tv_nsec = static_cast<long>(wait % NS_PER_S);
        if (!can_read) {
            nanosleep(&ts, nullptr);
            continue;
        }
        struct pollfd pfd = {fd, POLLIN, 0};
        int r = ppoll(&pfd, 1, &ts, nullptr);
        if (r > 0 && (pfd.revents & POLLIN) != 0) {
            g_last_look = wall_elapsed();
            Time at = std::max(now(), std::min(paced_elapsed(), t));
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
