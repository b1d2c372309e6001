// One boot of the firmware: from the processor leaving reset to the boot's
// end (hibernation, a reset, a power loss, a fault handler, the end of the
// run), in a child process the runner forks for it.  boot_end() and
// in_fault() (platform/host/chip.h) are defined here.
#pragma once

#include "platform/host/chip.h"

namespace sim {

// Runner: forks a boot and waits for it to end; returns why it ended.  With `provision_only` the boot sets up
// a new board with the firmware's own code (provision.h) instead of running it.
BootEnd boot_child(bool provision_only);

// Inside a boot: the processor takes a hard fault (the firmware's handler
// runs; the boot ends in it).
[[noreturn]] void boot_hard_fault();

} // namespace sim
