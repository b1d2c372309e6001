// State of a run, and the services the chip and the device models take from
// it (their faults, their parameters, the battery-backed hibernation state,
// memory that survives resets).
#include "sim/run/run_state.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace sim {

namespace {

constexpr std::size_t SHARED_BYTES = 8u << 20;

RunLocal g_local;
RunShared* g_run = nullptr;
void* g_shared_mem = nullptr;
uint8_t* g_shared_heap = nullptr;
std::size_t g_shared_heap_size = 0;

} // namespace

RunLocal& run()
{
    return g_local;
}

RunShared& run_shared()
{
    return *g_run;
}

bool run_state_open(const RunOptions& opts)
{
    g_local = RunLocal{};
    g_local.opts = opts;
    void* mem = mmap(nullptr, SHARED_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) {
        log("cannot map shared memory");
        return false;
    }
    g_shared_mem = mem;
    g_run = new (mem) RunShared{};
    std::size_t header = (sizeof(RunShared) + 63) & ~std::size_t{63};
    g_shared_heap = static_cast<uint8_t*>(mem) + header;
    g_shared_heap_size = SHARED_BYTES - header;
    return true;
}

void run_state_close()
{
    if (g_shared_mem != nullptr) {
        munmap(g_shared_mem, SHARED_BYTES);
    }
    g_shared_mem = nullptr;
    g_run = nullptr;
}

// --- Services to the chip and the device models ------------------------------------

const ChipFaults& chip_faults()
{
    return g_local.opts.faults;
}

const DeviceFaults& device_faults()
{
    return g_local.opts.faults;
}

const std::map<std::string, std::string>& device_params()
{
    return g_local.opts.params;
}

HibState& hib_state()
{
    return g_run->hib;
}

void* shared_area(const char* name, std::size_t size)
{
    for (std::size_t i = 0; i < g_run->slice_count; ++i) {
        if (std::strncmp(g_run->slices[i].name, name, sizeof g_run->slices[i].name) == 0) {
            return g_run->slices[i].size >= size ? g_shared_heap + g_run->slices[i].offset : nullptr;
        }
    }
    std::size_t aligned = (size + 15) & ~std::size_t{15};
    if (g_run->slice_count >= 64 || g_run->heap_used + aligned > g_shared_heap_size) {
        return nullptr;
    }
    auto& s = g_run->slices[g_run->slice_count++];
    std::snprintf(s.name, sizeof s.name, "%s", name);
    s.offset = g_run->heap_used;
    s.size = aligned;
    g_run->heap_used += aligned;
    std::memset(g_shared_heap + s.offset, 0, aligned);
    return g_shared_heap + s.offset;
}

} // namespace sim
