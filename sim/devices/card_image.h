// Image files of microSD cards: creation, FAT32 formatting and locating the
// FAT volume inside an image (with or without an MBR partition table).
// Shared by the simulated card and the card tool.
#pragma once

#include "tools/common/status.h"

#include <cstdint>
#include <string>

namespace sim {

using varve::Status;

constexpr uint32_t CARD_SECTOR = 512;
// Default size of a new card: 1 GiB, created sparse.
constexpr uint64_t CARD_DEFAULT_BYTES = uint64_t{1} << 30;
// First sector of the partition on a new card (1 MiB, the usual alignment).
constexpr uint32_t CARD_PART_START = 2048;

// Ok when card_image_create can make an image of `bytes`, else the reason.
Status card_image_check(uint64_t bytes);

// Creates `path` as a sparse image of `bytes` holding an MBR with one
// FAT32 partition from CARD_PART_START to the end.  Fails when the file
// exists.
Status card_image_create(const std::string& path, uint64_t bytes);

// Where the FAT volume of an image lies.
struct CardVolume {
    uint64_t start = 0;   // first sector (0 = no partition table)
    uint64_t sectors = 0; // length in sectors
    bool has_mbr = false;
};
// Reads the image's first sector: a FAT boot sector means a volume without
// a partition table, else the first used MBR partition.
Status card_locate_volume(int fd, CardVolume* vol);

// Writes a new, empty FAT32 file system over `sectors` sectors at `start`
// of the open image (erasing what the FATs and root directory held).
// Fails, for example, for a volume too small for FAT32.
Status card_format_fat32(int fd, uint64_t start, uint64_t sectors);

// Ok when a FAT32 volume of `sectors` sectors can be made, else the reason
// card_format_fat32 would give (checked before anything is written).
Status card_fat32_check(uint64_t sectors);

// Writes an MBR with one FAT32 (LBA) partition at `start` of `sectors`.
Status card_write_mbr(int fd, uint64_t start, uint64_t sectors);

} // namespace sim
