// Test media for the FAT module: a sparse in-memory disk (or a file-backed
// one for large images) behind the disk_* functions, with sector counters
// and a power-cut switch.
#pragma once

#include "storage/fatfs/diskio.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace testdisk {

using Sector = std::array<uint8_t, 512>;

struct Counters {
    uint64_t sectors_read = 0;
    uint64_t sectors_written = 0;
    uint64_t read_calls = 0;
    uint64_t write_calls = 0;
};

// Memory-backed: loads the whole image (zero sectors are not stored).
void load_image(const std::string& path);
// Writes the current content to `path` as a sparse file.
void save_image(const std::string& path);
// File-backed: reads and writes go straight to `path` (for big images).
void use_file(const std::string& path);
void close_file();

// Sectors of the medium (what GET_SECTOR_COUNT reports).
uint32_t sector_count();
void set_sector_count(uint32_t n);

// Direct access for tests (memory-backed mode only).
Sector read_sector(uint32_t lba);
void write_sector(uint32_t lba, const Sector& s);
std::unordered_map<uint32_t, Sector>& sectors();

Counters& counters();
void reset_counters();

// After `n` further successful sector writes the "power" fails: later reads
// and writes fail and the drive reports STA_NOINIT.  -1 disables the cut.
void cut_power_after(long n);
bool power_cut();
// Power comes back (the content stays as it was at the cut).
void restore_power();

void set_write_protect(bool on);
void set_present(bool on);

} // namespace testdisk
