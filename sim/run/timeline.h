// The run's timeline file (--timeline): every change of a board line or a
// PWM setting with its simulated time, "SECONDS.NANOSECONDS LINE LEVEL",
// written by the chip through timeline() (platform/host/chip.h).
#pragma once

#include <cstdio>

namespace sim {

// The file the timeline goes to (nullptr = none); the run owns it.
void timeline_set(std::FILE* f);
void timeline_flush();
void timeline_close();

} // namespace sim
