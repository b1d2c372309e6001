// The console monitor's commands: reset, power cycle, the card out or in,
// the card's write-reject fault on or off, the statistics so far, quit.
#include "sim/run/monitor.h"

#include "platform/host/chip.h"
#include "sim/devices/board_devices.h"
#include "sim/devices/console/console.h"
#include "sim/run/boot.h"
#include "sim/run/pacing.h"
#include "sim/run/run_state.h"
#include "sim/run/run_stats.h"

#include <cstdio>

namespace sim {

namespace {

const char* const HELP = "monitor (Ctrl-A, then): r reset, p power cycle, c card out/in, "
                         "f card write-reject fault on/off, s statistics, q quit, Ctrl-A types Ctrl-A";

// A reset or power cycle ends the running boot; a hibernating board has
// none (a key on the console wakes it first).
bool end_boot(BootEnd why, const char* what)
{
    if (!run().in_boot) {
        log("monitor: %s: the board hibernates; type a key to wake it first", what);
        return true;
    }
    log("monitor: %s", what);
    console_flush();
    boot_end(why);
}

bool command(uint8_t key)
{
    bool on = false;
    switch (key) {
    case 'r':
        return end_boot(BootEnd::ResetButton, "reset");
    case 'p':
        return end_boot(BootEnd::PowerCycle, "power cycle");
    case 'c':
        if (sdcard_monitor_toggle(false, &on)) {
            log("monitor: card %s", on ? "in" : "out");
        }
        return true;
    case 'f':
        if (sdcard_monitor_toggle(true, &on)) {
            log("monitor: card write-reject fault %s", on ? "on" : "off");
        }
        return true;
    case 's':
        std::fflush(stdout);
        stats_write(stderr, static_cast<double>(wall_elapsed()) / 1e9);
        return true;
    case 'q':
        log("monitor: quit");
        return false;
    default:
        log("%s", HELP);
        return true;
    }
}

} // namespace

void monitor_install()
{
    console_set_monitor(command);
}

} // namespace sim
