#include "tests/fatfs/test_disk.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace testdisk {
namespace {

std::unordered_map<uint32_t, Sector> g_sectors;
uint32_t g_count = 0;
int g_fd = -1;
Counters g_counters;
long g_writes_left = -1;
bool g_cut = false;
bool g_protect = false;
bool g_present = true;
bool g_initialised = false;

bool is_zero(const uint8_t* p)
{
    for (int i = 0; i < 512; i++) {
        if (p[i] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

void load_image(const std::string& path)
{
    close_file();
    g_sectors.clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        throw std::runtime_error("cannot open image " + path);
    }
    std::vector<uint8_t> buf(1 << 20);
    uint32_t lba = 0;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        for (size_t off = 0; off + 512 <= n; off += 512, lba++) {
            if (!is_zero(buf.data() + off)) {
                Sector s;
                std::memcpy(s.data(), buf.data() + off, 512);
                g_sectors[lba] = s;
            }
        }
    }
    std::fclose(f);
    g_count = lba;
    g_writes_left = -1;
    g_cut = false;
    g_initialised = false;
    reset_counters();
}

void save_image(const std::string& path)
{
    int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(g_count) * 512) != 0) {
        throw std::runtime_error("cannot write image " + path);
    }
    for (const auto& [lba, s] : g_sectors) {
        if (::pwrite(fd, s.data(), 512, static_cast<off_t>(lba) * 512) != 512) {
            throw std::runtime_error("cannot write image " + path);
        }
    }
    ::close(fd);
}

void use_file(const std::string& path)
{
    close_file();
    g_sectors.clear();
    g_fd = ::open(path.c_str(), O_RDWR);
    if (g_fd < 0) {
        throw std::runtime_error("cannot open image " + path);
    }
    struct stat st {};
    ::fstat(g_fd, &st);
    g_count = static_cast<uint32_t>(st.st_size / 512);
    g_writes_left = -1;
    g_cut = false;
    g_initialised = false;
    reset_counters();
}

void close_file()
{
    if (g_fd >= 0) {
        ::close(g_fd);
        g_fd = -1;
    }
}

uint32_t sector_count()
{
    return g_count;
}
void set_sector_count(uint32_t n)
{
    g_count = n;
}

Sector read_sector(uint32_t lba)
{
    auto it = g_sectors.find(lba);
    if (it == g_sectors.end()) {
        return Sector{};
    }
    return it->second;
}

void write_sector(uint32_t lba, const Sector& s)
{
    g_sectors[lba] = s;
}
std::unordered_map<uint32_t, Sector>& sectors()
{
    return g_sectors;
}
Counters& counters()
{
    return g_counters;
}
void reset_counters()
{
    g_counters = Counters{};
}

void cut_power_after(long n)
{
    g_writes_left = n;
    g_cut = false;
}
bool power_cut()
{
    return g_cut;
}
void restore_power()
{
    g_writes_left = -1;
    g_cut = false;
    g_initialised = false;
}
void set_write_protect(bool on)
{
    g_protect = on;
}
void set_present(bool on)
{
    g_present = on;
    g_initialised = false;
}

} // namespace testdisk

using namespace testdisk;

DSTATUS disk_status(BYTE drv)
{
    if (drv != 0) {
        return STA_NOINIT;
    }
    DSTATUS st = 0;
    if (!g_present) {
        st |= STA_NODISK | STA_NOINIT;
    }
    if (!g_initialised || g_cut) {
        st |= STA_NOINIT;
    }
    if (g_protect) {
        st |= STA_PROTECT;
    }
    return st;
}

DSTATUS disk_initialize(BYTE drv)
{
    if (drv == 0 && g_present && !g_cut) {
        g_initialised = true;
    }
    return disk_status(drv);
}

DRESULT disk_read(BYTE drv, BYTE* buff, LBA_t sector, UINT count)
{
    if (drv != 0 || count == 0) {
        return RES_PARERR;
    }
    if (disk_status(drv) & STA_NOINIT) {
        return RES_NOTRDY;
    }
    if (sector >= g_count || count > g_count - sector) {
        return RES_ERROR;
    }
    g_counters.read_calls++;
    g_counters.sectors_read += count;
    if (g_fd >= 0) {
        ssize_t len = static_cast<ssize_t>(count) * 512;
        return ::pread(g_fd, buff, len, static_cast<off_t>(sector) * 512) == len ? RES_OK : RES_ERROR;
    }
    for (UINT i = 0; i < count; i++) {
        auto it = g_sectors.find(sector + i);
        if (it == g_sectors.end()) {
            std::memset(buff + i * 512, 0, 512);
        } else {
            std::memcpy(buff + i * 512, it->second.data(), 512);
        }
    }
    return RES_OK;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, LBA_t sector, UINT count)
{
    if (drv != 0 || count == 0) {
        return RES_PARERR;
    }
    if (disk_status(drv) & STA_NOINIT) {
        return RES_NOTRDY;
    }
    if (g_protect) {
        return RES_WRPRT;
    }
    if (sector >= g_count || count > g_count - sector) {
        return RES_ERROR;
    }
    g_counters.write_calls++;
    for (UINT i = 0; i < count; i++) {
        if (g_writes_left == 0) {
            g_cut = true;
            return RES_ERROR;
        }
        if (g_writes_left > 0) {
            g_writes_left--;
        }
        g_counters.sectors_written++;
        if (g_fd >= 0) {
            if (::pwrite(g_fd, buff + i * 512, 512, static_cast<off_t>(sector + i) * 512) != 512) {
                return RES_ERROR;
            }
        } else {
            Sector s;
            std::memcpy(s.data(), buff + i * 512, 512);
            g_sectors[sector + i] = s;
        }
    }
    return RES_OK;
}

DRESULT disk_ioctl(BYTE drv, BYTE cmd, void* buff)
{
    if (drv != 0) {
        return RES_PARERR;
    }
    if (disk_status(drv) & STA_NOINIT) {
        return RES_NOTRDY;
    }
    switch (cmd) {
    case CTRL_SYNC:
        return RES_OK;
    case GET_SECTOR_COUNT:
        *static_cast<LBA_t*>(buff) = g_count;
        return RES_OK;
    case GET_SECTOR_SIZE:
        *static_cast<WORD*>(buff) = 512;
        return RES_OK;
    case GET_BLOCK_SIZE:
        *static_cast<DWORD*>(buff) = 1;
        return RES_OK;
    default:
        return RES_PARERR;
    }
}

// 2024-03-15 12:34:56
DWORD get_fattime(void)
{
    return (static_cast<DWORD>(2024 - 1980) << 25) | (3u << 21) | (15u << 16) | (12u << 11) | (34u << 5) |
           (56u / 2);
}
