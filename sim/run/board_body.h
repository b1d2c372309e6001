// Runs a test body in place of the firmware's main() on the simulated
// board: the body gets the devices of a boot and simulated time, and can
// call firmware functions (drivers, modules) directly.
#pragma once

#include <functional>

namespace sim {

// The body runs in each boot of the next runs (in the forked child), until
// cleared with an empty function.  It ends the boot when it returns.
void set_boot_body(std::function<void()> body);
// Called by the processor's reset: runs the body if one is set (and does
// not return then).
void run_boot_body();

} // namespace sim
