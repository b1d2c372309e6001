// Interrupt vector table and processor entry points shared by both backends.
#pragma once

#include <cstdint>

using vector_fn = void (*)();

// 155 entries: initial stack pointer, then exceptions and interrupts.
extern "C" const vector_fn g_pfnVectors[];

// Reset entry.  On the target: runtime start (stack, FPU access, data and
// zero-initialised sections), then main().  On the host: the simulated
// board's reset, which starts the firmware's main().
extern "C" void ResetISR();
