// Image files of microSD cards: MBR, FAT32 formatting, volume location.
#include "sim/devices/card_image.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

using Sector = std::array<uint8_t, CARD_SECTOR>;

void put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

uint32_t get16(const uint8_t* p)
{
    return p[0] | (uint32_t{p[1]} << 8);
}
uint32_t get32(const uint8_t* p)
{
    return get16(p) | (get16(p + 2) << 16);
}

Status write_at(int fd, uint64_t sector, const void* data, std::size_t len)
{
    const auto* p = static_cast<const uint8_t*>(data);
    off_t at = static_cast<off_t>(sector * CARD_SECTOR);
    while (len > 0) {
        ssize_t n = pwrite(fd, p, len, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Status::failure(std::string("cannot write the image: ") +
                                   std::strerror(n < 0 ? errno : EIO));
        }
        p += n;
        at += n;
        len -= static_cast<std::size_t>(n);
    }
    return {};
}

// Zeroes a run of sectors, writing in 64 KiB pieces.
Status zero_sectors(int fd, uint64_t start, uint64_t count)
{
    static const std::vector<uint8_t> zeros(64 * 1024, 0);
    const uint64_t per = zeros.size() / CARD_SECTOR;
    while (count > 0) {
        uint64_t n = count < per ? count : per;
        Status st = write_at(fd, start, zeros.data(), n * CARD_SECTOR);
        if (!st.ok()) {
            return st;
        }
        start += n;
        count -= n;
    }
    return {};
}

bool looks_like_fat_boot(const Sector& s)
{
    bool jump = s[0] == 0xEB || s[0] == 0xE9;
    uint32_t bps = get16(&s[11]);
    uint32_t spc = s[13];
    return jump && (bps == 512 || bps == 1024 || bps == 2048 || bps == 4096) && spc != 0 &&
           (spc & (spc - 1)) == 0 && get16(&s[14]) != 0 && s[16] != 0;
}

} // namespace

Status card_write_mbr(int fd, uint64_t start, uint64_t sectors)
{
    if (start + sectors > 0xFFFFFFFFull) {
        return Status::failure("the image is too large for an MBR partition table");
    }
    Sector s{};
    // Disk signature and volume serial come from the geometry, not the host
    // clock, so that the same board gets a byte-identical card.
    put32(&s[440], static_cast<uint32_t>(start ^ (sectors << 7)) ^ 0x56415256u); // disk signature
    uint8_t* e = &s[446];
    e[0] = 0x00;
    // CHS fields: "beyond CHS range" markers; everything uses the LBA fields.
    e[1] = 0xFE;
    e[2] = 0xFF;
    e[3] = 0xFF;
    e[4] = 0x0C; // FAT32 with LBA addressing
    e[5] = 0xFE;
    e[6] = 0xFF;
    e[7] = 0xFF;
    put32(e + 8, static_cast<uint32_t>(start));
    put32(e + 12, static_cast<uint32_t>(sectors));
    s[510] = 0x55;
    s[511] = 0xAA;
    return write_at(fd, 0, s.data(), s.size());
}

namespace {

struct Fat32Layout {
    uint32_t total = 0;
    uint32_t spc = 1;
    uint32_t reserved = 32;
    uint32_t nfats = 2;
    uint32_t fatsz = 1;
    uint32_t clusters = 0;
};

// Chooses the layout of a FAT32 volume of `sectors` sectors, or says why
// there can be none.
Status fat32_layout(uint64_t sectors, Fat32Layout* l)
{
    if (sectors > 0xFFFFFFFFull) {
        return Status::failure("the volume is too large for FAT32");
    }
    l->total = static_cast<uint32_t>(sectors);
    const uint32_t total = l->total;
    // Cluster size by volume size, as the usual formatters choose it.
    l->spc = 1;
    if (total > 532480)
        l->spc = 8; // > 260 MiB: 4 KiB
    if (total > 16777216)
        l->spc = 16; // > 8 GiB
    if (total > 33554432)
        l->spc = 32; // > 16 GiB
    if (total > 67108864)
        l->spc = 64; // > 32 GiB
    if (total < l->reserved + 64) {
        return Status::failure("the volume is too small for FAT32");
    }
    // Smallest FAT that covers every cluster the rest of the volume holds.
    l->fatsz = 1;
    for (int i = 0; i < 64; ++i) {
        uint32_t data = total - l->reserved - l->nfats * l->fatsz;
        l->clusters = data / l->spc;
        uint32_t need =
            static_cast<uint32_t>((uint64_t{l->clusters} + 2) * 4 + CARD_SECTOR - 1) / CARD_SECTOR;
        if (need <= l->fatsz) {
            break;
        }
        l->fatsz = need;
        if (l->reserved + l->nfats * l->fatsz >= total) {
            return Status::failure("the volume is too small for FAT32");
        }
    }
    if (l->clusters < 65525) {
        return Status::failure("the volume is too small for FAT32 (at least about 33 MiB are needed)");
    }
    if (l->clusters > 0x0FFFFFF4) {
        return Status::failure("the volume is too large for FAT32");
    }
    return {};
}

} // namespace

Status card_fat32_check(uint64_t sectors)
{
    Fat32Layout l;
    return fat32_layout(sectors, &l);
}

Status card_format_fat32(int fd, uint64_t start, uint64_t sectors)
{
    Fat32Layout l;
    if (Status st = fat32_layout(sectors, &l); !st.ok()) {
        return st;
    }
    const uint32_t total = l.total;
    const uint32_t spc = l.spc;
    const uint32_t reserved = l.reserved;
    const uint32_t nfats = l.nfats;
    const uint32_t fatsz = l.fatsz;
    const uint32_t clusters = l.clusters;

    // Erase the old structures first: reserved area, both FATs, root cluster.
    uint64_t data_start = start + reserved + uint64_t{nfats} * fatsz;
    if (Status st = zero_sectors(fd, start, reserved + uint64_t{nfats} * fatsz); !st.ok()) {
        return st;
    }
    if (Status st = zero_sectors(fd, data_start, spc); !st.ok()) {
        return st;
    }

    Sector boot{};
    boot[0] = 0xEB;
    boot[1] = 0x58;
    boot[2] = 0x90;
    std::memcpy(&boot[3], "VARVE1.0", 8);
    put16(&boot[11], CARD_SECTOR);
    boot[13] = static_cast<uint8_t>(spc);
    put16(&boot[14], reserved);
    boot[16] = static_cast<uint8_t>(nfats);
    put16(&boot[17], 0);   // root entries: none on FAT32
    put16(&boot[19], 0);   // 16-bit total: unused
    boot[21] = 0xF8;       // fixed medium
    put16(&boot[22], 0);   // 16-bit FAT size: unused
    put16(&boot[24], 63);  // sectors per track
    put16(&boot[26], 255); // heads
    put32(&boot[28], static_cast<uint32_t>(start));
    put32(&boot[32], total);
    put32(&boot[36], fatsz);
    put16(&boot[40], 0);                                                    // both FATs mirrored
    put16(&boot[42], 0);                                                    // version 0.0
    put32(&boot[44], 2);                                                    // root directory cluster
    put16(&boot[48], 1);                                                    // FSInfo sector
    put16(&boot[50], 6);                                                    // backup boot sector
    boot[64] = 0x80;                                                        // drive number
    boot[66] = 0x29;                                                        // extended boot signature
    put32(&boot[67], (total * 2654435761u) ^ static_cast<uint32_t>(start)); // volume serial
    std::memcpy(&boot[71], "NO NAME    ", 11);
    std::memcpy(&boot[82], "FAT32   ", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;

    Sector info{};
    put32(&info[0], 0x41615252);
    put32(&info[484], 0x61417272);
    put32(&info[488], clusters - 1); // the root directory holds one
    put32(&info[492], 3);
    put32(&info[508], 0xAA550000);

    Sector fat{};
    put32(&fat[0], 0x0FFFFFF8);
    put32(&fat[4], 0x0FFFFFFF);
    put32(&fat[8], 0x0FFFFFFF); // root directory: one cluster, end of chain

    Sector third{};
    third[510] = 0x55;
    third[511] = 0xAA;
    // The boot sector, FSInfo and third boot sector, then their backup
    // copies at sector 6, then the FATs; the first failure ends the format.
    struct Piece {
        uint64_t sector;
        const Sector* data;
    };
    std::vector<Piece> pieces;
    for (uint64_t base : {uint64_t{0}, uint64_t{6}}) {
        pieces.push_back({start + base, &boot});
        pieces.push_back({start + base + 1, &info});
        pieces.push_back({start + base + 2, &third});
    }
    for (uint32_t f = 0; f < nfats; ++f) {
        pieces.push_back({start + reserved + uint64_t{f} * fatsz, &fat});
    }
    for (const Piece& p : pieces) {
        if (Status st = write_at(fd, p.sector, p.data->data(), p.data->size()); !st.ok()) {
            return st;
        }
    }
    if (fsync(fd) != 0 && errno != EINVAL) {
        return Status::failure(std::string("cannot flush the image: ") + std::strerror(errno));
    }
    return {};
}

Status card_image_check(uint64_t bytes)
{
    bytes -= bytes % CARD_SECTOR;
    if (bytes < (uint64_t{CARD_PART_START} + 70000) * CARD_SECTOR) {
        return Status::failure("a card image needs at least 36 MiB");
    }
    const uint64_t sectors = bytes / CARD_SECTOR - CARD_PART_START;
    if (CARD_PART_START + sectors > 0xFFFFFFFFull) {
        return Status::failure(
            "the image is too large for an MBR partition table (at most 2 TiB less 512 bytes)");
    }
    return card_fat32_check(sectors);
}

Status card_image_create(const std::string& path, uint64_t bytes)
{
    if (Status st = card_image_check(bytes); !st.ok()) {
        return st;
    }
    bytes -= bytes % CARD_SECTOR;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        return Status::failure("cannot create " + path + ": " + std::strerror(errno));
    }
    const uint64_t sectors = bytes / CARD_SECTOR - CARD_PART_START;
    Status st;
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        st = Status::failure("cannot size " + path + ": " + std::strerror(errno));
    }
    if (st.ok()) {
        st = card_write_mbr(fd, CARD_PART_START, sectors);
    }
    if (st.ok()) {
        st = card_format_fat32(fd, CARD_PART_START, sectors);
    }
    close(fd);
    if (!st.ok()) {
        unlink(path.c_str());
    }
    return st;
}

Status card_locate_volume(int fd, CardVolume* vol)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        return Status::failure(std::string("cannot read the image: ") + std::strerror(errno));
    }
    uint64_t image_sectors = static_cast<uint64_t>(st.st_size) / CARD_SECTOR;
    Sector s{};
    if (image_sectors == 0 || pread(fd, s.data(), s.size(), 0) != static_cast<ssize_t>(s.size())) {
        return Status::failure("the image is empty or unreadable");
    }
    *vol = CardVolume{};
    if (looks_like_fat_boot(s)) {
        vol->sectors = image_sectors;
        return {};
    }
    if (s[510] != 0x55 || s[511] != 0xAA) {
        return Status::failure("no FAT volume and no partition table in the image");
    }
    for (int i = 0; i < 4; ++i) {
        const uint8_t* e = &s[446 + 16 * i];
        uint32_t first = get32(e + 8);
        uint32_t count = get32(e + 12);
        if (e[4] == 0 || first == 0 || count == 0) {
            continue;
        }
        if (first >= image_sectors) {
            return Status::failure("the partition table points beyond the end of the image");
        }
        vol->has_mbr = true;
        vol->start = first;
        vol->sectors = std::min<uint64_t>(count, image_sectors - first);
        return {};
    }
    return Status::failure("the partition table holds no partition");
}

} // namespace sim
