// The debug probe on the chip's trace port: the firmware's debug output
// goes to the file given with --debug-out, never to the console.
#pragma once

namespace sim {

// Attaches the probe to the trace port (every boot).
void debug_probe_boot();

} // namespace sim
