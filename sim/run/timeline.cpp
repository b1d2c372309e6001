// The run's timeline file.
#include "sim/run/timeline.h"

#include "platform/host/chip.h"
#include "sim/run/run_state.h"
#include "sim/run/run_stats.h"

#include <cinttypes>

namespace sim {

namespace {

std::FILE* g_timeline = nullptr;

} // namespace

void timeline_set(std::FILE* f)
{
    g_timeline = f;
}

void timeline_flush()
{
    if (g_timeline != nullptr) {
        std::fflush(g_timeline);
    }
}

void timeline_close()
{
    if (g_timeline != nullptr) {
        std::fclose(g_timeline);
        g_timeline = nullptr;
    }
}

void timeline(std::string_view what, int value)
{
    if (run().provisioning) {
        return;
    }
    stats_line(what, value);
    if (g_timeline == nullptr) {
        return;
    }
    Time t = now();
    std::fprintf(g_timeline, "%" PRIu64 ".%09" PRIu64 " %.*s %d\n", t / NS_PER_S, t % NS_PER_S,
                 static_cast<int>(what.size()), what.data(), value);
}

} // namespace sim
