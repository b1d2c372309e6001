// The in-process test bench.
#include "sim/run/bench.h"

#include "platform/host/chip.h"
#include "sim/devices/board_devices.h"
#include "sim/devices/console/console.h"
#include "sim/run/board_setup.h"
#include "sim/run/run_clock.h"
#include "sim/run/run_state.h"

namespace sim {

bool bench_begin(const RunOptions& opts)
{
    bool new_board = false;
    if (!open_board(opts, &new_board)) {
        close_board();
        return false;
    }
    run().bench = true;
    run().in_boot = true;
    console_capture(true);
    clock_start_run();
    chip_power_on();
    devices_boot();
    return true;
}

void bench_end()
{
    run().in_boot = false;
    run().bench = false;
    console_reset();
    clock_start_run();
    reset_machine();
    close_board();
}

RunOptions& bench_options()
{
    return run().opts;
}

std::string bench_console_output()
{
    return console_captured();
}

void bench_clear_output()
{
    console_captured().clear();
}

void bench_type(const std::string& bytes)
{
    console_type(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now());
    console_deliver();
}

} // namespace sim
