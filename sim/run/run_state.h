// State of a run: what the runner and every boot share (a memory area
// mapped shared before the first fork), and what each process keeps for
// itself (a forked boot starts with the runner's copy).
#pragma once

#include "sim/run/input_script.h"
#include "sim/run/run_board.h"

#include <cstddef>

namespace sim {

struct RunShared {
    Time now; // simulated time, handed between runner and boots (run_clock.h)
    HibState hib;
    std::size_t script_next; // next timed-input entry
    int boots;
    // Named slices of the rest of the area (shared_area()).
    struct Slice {
        char name[48];
        std::size_t offset, size;
    } slices[64];
    std::size_t slice_count;
    std::size_t heap_used;
};

struct RunLocal {
    RunOptions opts;
    Script script;
    Time until = TIME_NEVER;   // end of the run
    bool paced = false;        // simulated time waits for the wall clock
    bool in_boot = false;      // this process runs the chip (a boot or a bench)
    bool fault = false;        // the processor runs a fault handler
    bool provisioning = false; // a new board is being set up: no output, no pacing
    bool bench = false;        // an in-process test bench
};

RunLocal& run();
RunShared& run_shared();

// Maps the shared area of a new run (reset to zero) and resets this
// process's state to `opts`.  False when the memory cannot be mapped.
bool run_state_open(const RunOptions& opts);
void run_state_close();

} // namespace sim
