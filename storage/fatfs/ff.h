// FAT file system module: FAT12/16/32, one volume (drive 0), 8.3 names,
// 512-byte sectors, no heap.  The caller owns every FATFS, FIL and DIR
// object; the module keeps only a pointer to the registered volume.
//
// Paths are absolute: "FILE.TXT", "/DIR/FILE.TXT" or "0:/DIR/FILE.TXT";
// separators are '/' (or '\'), runs of separators count as one.  Names are
// matched case-insensitively and stored in upper case.
#pragma once

#include "storage/fatfs/fftypes.h"

// Result codes of every f_* call.
enum FRESULT : int {
    FR_OK = 0,                   // succeeded
    FR_DISK_ERR = 1,             // the media layer reported an error
    FR_INT_ERR = 2,              // inconsistent file system structure (corrupt volume)
    FR_NOT_READY = 3,            // the drive did not initialise
    FR_NO_FILE = 4,              // file not found
    FR_NO_PATH = 5,              // a directory of the path was not found
    FR_INVALID_NAME = 6,         // path name not valid as 8.3 names
    FR_DENIED = 7,               // access refused (read-only, directory full, not empty, volume full)
    FR_EXIST = 8,                // object already exists
    FR_INVALID_OBJECT = 9,       // file or directory object not open or stale
    FR_WRITE_PROTECTED = 10,     // medium is write-protected
    FR_INVALID_DRIVE = 11,       // drive number other than 0
    FR_NOT_ENABLED = 12,         // no volume registered with f_mount
    FR_NO_FILESYSTEM = 13,       // no valid FAT volume on the medium
    FR_MKFS_ABORTED = 14,        // (formatting is not part of this module)
    FR_TIMEOUT = 15,             // (not produced: no re-entrancy locking)
    FR_LOCKED = 16,              // (not produced: no file sharing control)
    FR_NOT_ENOUGH_CORE = 17,     // (not produced: no long-name buffer)
    FR_TOO_MANY_OPEN_FILES = 18, // (not produced: no open-file table)
    FR_INVALID_PARAMETER = 19,   // invalid argument (null pointer, bad option)
};

// Open modes of f_open.
constexpr BYTE FA_READ = 0x01;
constexpr BYTE FA_WRITE = 0x02;
constexpr BYTE FA_OPEN_EXISTING = 0x00;
constexpr BYTE FA_CREATE_NEW = 0x04;
constexpr BYTE FA_CREATE_ALWAYS = 0x08;
constexpr BYTE FA_OPEN_ALWAYS = 0x10;
constexpr BYTE FA_OPEN_APPEND = 0x30; // open always, positioned at the end

// File attributes (FILINFO::fattrib and directory entries).
constexpr BYTE AM_RDO = 0x01; // read only
constexpr BYTE AM_HID = 0x02; // hidden
constexpr BYTE AM_SYS = 0x04; // system
constexpr BYTE AM_VOL = 0x08; // volume label
constexpr BYTE AM_LFN = 0x0F; // long-name entry (all four bits above)
constexpr BYTE AM_DIR = 0x10; // directory
constexpr BYTE AM_ARC = 0x20; // archive

// File system types (FATFS::fs_type).
constexpr BYTE FS_FAT12 = 1;
constexpr BYTE FS_FAT16 = 2;
constexpr BYTE FS_FAT32 = 3;

constexpr UINT FF_SECTOR_SIZE = 512;

// Volume work area.  All sector traffic goes through the one window `win`.
struct FATFS {
    BYTE fs_type;     // 0 = not mounted, else FS_FAT12/16/32
    BYTE pdrv;        // physical drive (always 0)
    BYTE csize;       // sectors per cluster (power of 2, 1..128)
    BYTE n_fats;      // FAT copies kept in step (1 or 2)
    BYTE wflag;       // window holds changes not yet written
    BYTE fsi_state;   // 1 = FSInfo holds counts that must be invalidated before the FAT changes,
                      // 2 = FSInfo not read yet (it is read before the first allocation)
    WORD id;          // mount generation; open objects carry a copy
    WORD n_rootdir;   // entries of the fixed root directory (FAT12/16)
    DWORD n_fatent;   // number of FAT entries = clusters + 2
    DWORD fsize;      // sectors per FAT copy
    DWORD volbase;    // first sector of the volume
    DWORD vol_id;     // volume serial number of the boot sector (0 when it has none)
    DWORD fatbase;    // first sector of the (active) FAT
    DWORD dirbase;    // root directory: sector (FAT12/16) or cluster (FAT32)
    DWORD database;   // first sector of cluster 2
    DWORD fsi_sector; // FSInfo sector (FAT32), 0 when none
    DWORD last_clst;  // allocation hint: last cluster allocated
    DWORD free_clst;  // free clusters, 0xFFFFFFFF until counted
    DWORD winsect;    // sector held in win, 0xFFFFFFFF when none
    BYTE win[FF_SECTOR_SIZE];
};

// Open file.  `fptr` is the read/write position, `fsize` the file size.
struct FIL {
    FATFS* fs;      // owning volume, nullptr when not open
    WORD id;        // mount generation at open
    BYTE flag;      // FA_READ/FA_WRITE plus internal state bits
    BYTE err;       // sticky error after a failed media or structure operation
    FSIZE_t fptr;   // current position
    FSIZE_t fsize;  // file size
    DWORD sclust;   // first cluster, 0 for an empty file
    DWORD clust;    // cluster holding fptr (the previous one at a cluster boundary)
    DWORD dir_sect; // sector holding the directory entry
    WORD dir_ofs;   // byte offset of the entry within that sector
};

// Open directory.
struct DIR {
    FATFS* fs;    // owning volume, nullptr when not open
    WORD id;      // mount generation at open
    WORD index;   // index of the next entry to read
    DWORD sclust; // first cluster, 0 for the fixed root directory
    DWORD clust;  // current cluster
    DWORD sect;   // current sector, 0 at the end of the directory
};

// Where a file ended after it was last written (f_gethint): lets a later
// append position at the end without walking the file's cluster chain, also
// after a reset when the caller keeps it in non-volatile memory.  Plain data;
// f_lseek_end checks it against the volume, the directory entry and the FAT
// before use.
struct FFHINT {
    DWORD vol_sect; // first sector of the volume (its boot sector)
    DWORD vol_id;   // volume serial number of that boot sector
    DWORD dir_sect; // sector holding the file's directory entry
    DWORD clust;    // last cluster of the file, 0 for an empty file
    WORD dir_ofs;   // byte offset of the entry within that sector
    WORD check;     // CRC-16 of the other fields: a damaged hint is not used
    BYTE entry[32]; // the directory entry as written with the file's end
};
static_assert(sizeof(FFHINT) == 52, "FFHINT is kept as bytes by callers");

// Directory entry information.
struct FILINFO {
    FSIZE_t fsize;   // file size
    WORD fdate;      // last modified date (bits 15..9 year-1980, 8..5 month, 4..0 day)
    WORD ftime;      // last modified time (bits 15..11 hours, 10..5 minutes, 4..0 seconds/2)
    BYTE fattrib;    // AM_* attributes
    TCHAR fname[13]; // "NAME.EXT", NUL-terminated; empty at the end of a directory
};

// Registers (fs != nullptr) or unregisters (fs == nullptr) the volume of
// drive 0.  opt 0 delays mounting to the first access; opt 1 mounts now.
FRESULT f_mount(FATFS* fs, const TCHAR* path, BYTE opt);

FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode);
// f_open with a position record from an earlier f_gethint (or nullptr).
// When the volume has to be mounted, the sector where the hint's volume
// began is tried first: a FAT boot sector there with the hint's serial
// number is taken without reading the partition table.  FA_OPEN_APPEND
// positions with f_lseek_end and the hint.
FRESULT f_open_hinted(FIL* fp, const TCHAR* path, BYTE mode, const FFHINT* hint);
FRESULT f_close(FIL* fp);
FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br);
// A full volume is FR_OK with *bw < btw.
FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw);
// Moves the position.  Beyond the end of a file open for writing the file is
// extended with zero bytes (on a full volume only as far as it goes, FR_OK);
// for a read-only file the position stops at the end.
FRESULT f_lseek(FIL* fp, FSIZE_t ofs);
// Moves the position to the end of the file.  A hint (nullptr for none)
// that is intact (check value) and still describes the file -- same volume
// and serial number, the
// directory entry at the same place and equal byte for byte, the file
// without unsynced changes, and the hinted last cluster marked end-of-chain
// in the FAT -- gives the end's cluster without walking the chain (one FAT
// sector read instead of one per 128..512 clusters of the file); otherwise
// the chain is walked as f_lseek(fp, f_size(fp)) does.
FRESULT f_lseek_end(FIL* fp, const FFHINT* hint);
// Fills *hint with where the file ends, for a later f_lseek_end.  The
// file's pending data and entry are written first (as f_sync); the position
// must be at the end of the file (FR_DENIED otherwise).
FRESULT f_gethint(FIL* fp, FFHINT* hint);
// Cuts the file at the current position.
FRESULT f_truncate(FIL* fp);
// Writes the file's pending data and directory entry.
FRESULT f_sync(FIL* fp);

FRESULT f_opendir(DIR* dp, const TCHAR* path);
FRESULT f_closedir(DIR* dp);
// Reads the next entry; fno->fname[0] == 0 at the end.  fno == nullptr rewinds.
FRESULT f_readdir(DIR* dp, FILINFO* fno);

FRESULT f_stat(const TCHAR* path, FILINFO* fno);
// Free clusters that can be allocated (FAT12 leaves out the free clusters
// whose entry straddles two FAT sectors); *fatfs receives the volume
// (csize = sectors per cluster).
FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs);
FRESULT f_unlink(const TCHAR* path);
FRESULT f_mkdir(const TCHAR* path);
// Renames or moves a file or directory within the volume; a drive number in
// path_new is ignored.
FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new);

inline FSIZE_t f_tell(const FIL* fp)
{
    return fp->fptr;
}
inline FSIZE_t f_size(const FIL* fp)
{
    return fp->fsize;
}
inline bool f_eof(const FIL* fp)
{
    return fp->fptr >= fp->fsize;
}
