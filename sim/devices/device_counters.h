// What the device models count over a run (every boot adds to it), kept in
// memory that survives resets: the figures a run's statistics report.
#pragma once

#include <cstdint>

namespace sim {

struct DeviceCounters {
    uint64_t card_sector_reads;  // data blocks the card sent (single and multiple block reads)
    uint64_t card_sector_writes; // data blocks the card stored
    uint64_t fram_bytes_written; // data bytes written into the FRAM array
};

// The run's counters, zero at its start.
DeviceCounters& device_counters();

} // namespace sim
