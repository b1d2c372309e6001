// The device models' counters, in a slice of the run's shared memory.
#include "sim/devices/device_counters.h"

#include "platform/host/chip.h"

namespace sim {

DeviceCounters& device_counters()
{
    void* p = shared_area("device_counters", sizeof(DeviceCounters));
    // Without shared memory (never in a run) the counts go nowhere.
    static DeviceCounters discard;
    return p != nullptr ? *static_cast<DeviceCounters*>(p) : discard;
}

} // namespace sim
