// The console monitor: Ctrl-A, then a command key, on a terminal or pty
// console (docs/simulator.md "Monitor").
#pragma once

namespace sim {

// Installs the monitor's commands on the console for this run.
void monitor_install();

} // namespace sim
