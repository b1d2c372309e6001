// The console monitor's key: typed bytes pass to the firmware, except the
// monitor key and the command after it (console.h, console_set_monitor).
#pragma once

#include "platform/host/sim_core.h"

#include <cstddef>
#include <cstdint>

namespace sim {

// Types `len` bytes typed at `at`, taking out the monitor's commands; false
// when a command ends the run.
bool console_take_typed(const uint8_t* data, std::size_t len, Time at);

} // namespace sim
