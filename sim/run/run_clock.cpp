// The run's one clock, handed between the runner and its boots.
#include "sim/run/run_clock.h"

#include "sim/run/run_state.h"

namespace sim {

void clock_start_run()
{
    reset_clock(0);
}

void clock_hand_to_boot()
{
    run_shared().now = now();
}

void clock_take_in_boot()
{
    reset_clock(run_shared().now);
}

void clock_hand_back()
{
    run_shared().now = now();
}

void clock_take_back()
{
    reset_clock(run_shared().now);
}

void clock_hibernate_to(Time t)
{
    set_clock(t);
}

} // namespace sim
