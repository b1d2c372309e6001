// Media interface below the FAT file system module.
//
// The module only declares these functions; the block driver of the card (or
// a test's RAM disk) defines them.  One physical drive (0), 512-byte sectors.
#pragma once

#include "storage/fatfs/fftypes.h"

// Status bits returned by disk_initialize and disk_status.
typedef BYTE DSTATUS;
constexpr DSTATUS STA_NOINIT = 0x01;  // drive not initialised
constexpr DSTATUS STA_NODISK = 0x02;  // no medium in the drive
constexpr DSTATUS STA_PROTECT = 0x04; // medium is write-protected

// Results of the sector and control functions.
enum DRESULT : int {
    RES_OK = 0,     // success
    RES_ERROR = 1,  // read/write error
    RES_WRPRT = 2,  // write-protected
    RES_NOTRDY = 3, // not ready
    RES_PARERR = 4, // invalid parameter
};

// Control codes of disk_ioctl.
constexpr BYTE CTRL_SYNC = 0;        // finish pending writes
constexpr BYTE GET_SECTOR_COUNT = 1; // number of sectors on the medium (LBA_t)
constexpr BYTE GET_SECTOR_SIZE = 2;  // sector size in bytes (WORD)
constexpr BYTE GET_BLOCK_SIZE = 3;   // erase block size in sectors (DWORD)

DSTATUS disk_initialize(BYTE drv);
DSTATUS disk_status(BYTE drv);
DRESULT disk_read(BYTE drv, BYTE* buff, LBA_t sector, UINT count);
DRESULT disk_write(BYTE drv, const BYTE* buff, LBA_t sector, UINT count);
DRESULT disk_ioctl(BYTE drv, BYTE cmd, void* buff);

// Current time packed for FAT directory entries: bits 31..25 years since
// 1980, 24..21 month, 20..16 day, 15..11 hours, 10..5 minutes, 4..0 seconds/2.
DWORD get_fattime(void);
