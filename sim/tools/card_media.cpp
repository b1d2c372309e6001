// File-backed media for the FAT file system module in the card tool.
#include "sim/tools/card_media.h"

#include "storage/fatfs/diskio.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cardtool {

namespace {

constexpr uint64_t SECTOR = 512;

int g_fd = -1;
bool g_writable = false;
uint64_t g_sectors = 0;

bool transfer(bool write, void* buff, LBA_t sector, UINT count)
{
    auto* p = static_cast<uint8_t*>(buff);
    uint64_t left = uint64_t{count} * SECTOR;
    auto at = static_cast<off_t>(uint64_t{sector} * SECTOR);
    while (left > 0) {
        ssize_t n = write ? pwrite(g_fd, p, left, at) : pread(g_fd, p, left, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        at += n;
        left -= static_cast<uint64_t>(n);
    }
    return true;
}

} // namespace

varve::Status media_open(const std::string& path)
{
    media_close();
    g_fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    g_writable = g_fd >= 0;
    if (g_fd < 0 && (errno == EACCES || errno == EROFS)) {
        g_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (g_fd < 0) {
        return varve::Status::failure(std::string("cannot open ") + path + ": " + std::strerror(errno));
    }
    struct stat st;
    if (fstat(g_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        media_close();
        return varve::Status::failure(path + " is not an image file");
    }
    g_sectors = static_cast<uint64_t>(st.st_size) / SECTOR;
    return {};
}

void media_close()
{
    if (g_fd >= 0) {
        close(g_fd);
    }
    g_fd = -1;
    g_writable = false;
    g_sectors = 0;
}

bool media_writable()
{
    return g_writable;
}

} // namespace cardtool

using cardtool::g_fd;
using cardtool::g_sectors;
using cardtool::g_writable;
using cardtool::SECTOR;

DSTATUS disk_initialize(BYTE drv)
{
    return disk_status(drv);
}

DSTATUS disk_status(BYTE drv)
{
    if (drv != 0 || g_fd < 0) {
        return STA_NOINIT;
    }
    return g_writable ? 0 : STA_PROTECT;
}

DRESULT disk_read(BYTE drv, BYTE* buff, LBA_t sector, UINT count)
{
    if (drv != 0 || buff == nullptr || count == 0) {
        return RES_PARERR;
    }
    if (g_fd < 0) {
        return RES_NOTRDY;
    }
    if (uint64_t{sector} + count > g_sectors) {
        return RES_PARERR;
    }
    return cardtool::transfer(false, buff, sector, count) ? RES_OK : RES_ERROR;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, LBA_t sector, UINT count)
{
    if (drv != 0 || buff == nullptr || count == 0) {
        return RES_PARERR;
    }
    if (g_fd < 0) {
        return RES_NOTRDY;
    }
    if (!g_writable) {
        return RES_WRPRT;
    }
    if (uint64_t{sector} + count > g_sectors) {
        return RES_PARERR;
    }
    return cardtool::transfer(true, const_cast<BYTE*>(buff), sector, count) ? RES_OK : RES_ERROR;
}

DRESULT disk_ioctl(BYTE drv, BYTE cmd, void* buff)
{
    if (drv != 0) {
        return RES_PARERR;
    }
    if (g_fd < 0) {
        return RES_NOTRDY;
    }
    switch (cmd) {
    case CTRL_SYNC:
        return RES_OK;
    case GET_SECTOR_COUNT:
        *static_cast<LBA_t*>(buff) =
            static_cast<LBA_t>(g_sectors > 0xFFFFFFFFull ? 0xFFFFFFFFull : g_sectors);
        return RES_OK;
    case GET_SECTOR_SIZE:
        *static_cast<WORD*>(buff) = static_cast<WORD>(SECTOR);
        return RES_OK;
    case GET_BLOCK_SIZE:
        *static_cast<DWORD*>(buff) = 1;
        return RES_OK;
    default:
        return RES_PARERR;
    }
}

// Files written by the tool carry the host's time in UTC, as the firmware
// stamps its files with the board clock's count without a zone offset.
DWORD get_fattime()
{
    std::time_t now = std::time(nullptr);
    struct tm t {};
    gmtime_r(&now, &t);
    if (t.tm_year < 80) {
        return (1u << 21) | (1u << 16);
    }
    return (static_cast<DWORD>(t.tm_year - 80) << 25) | (static_cast<DWORD>(t.tm_mon + 1) << 21) |
           (static_cast<DWORD>(t.tm_mday) << 16) | (static_cast<DWORD>(t.tm_hour) << 11) |
           (static_cast<DWORD>(t.tm_min) << 5) | (static_cast<DWORD>(t.tm_sec) >> 1);
}
