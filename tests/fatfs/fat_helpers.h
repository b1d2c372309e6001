// Small wrappers over the FAT module's API used by several tests.
#pragma once

#include "storage/fatfs/ff.h"
#include "tests/fatfs/test_disk.h"

#include <map>
#include <string>
#include <vector>

namespace fathelp {

struct Entry {
    std::string name;
    FSIZE_t size;
    BYTE attr;
};

// Reads a whole file; returns the first failing result.
inline FRESULT read_all(const std::string& path, std::string* out)
{
    FIL f;
    FRESULT res = f_open(&f, path.c_str(), FA_READ);
    if (res != FR_OK) {
        return res;
    }
    out->clear();
    char buf[777]; // odd size: exercises partial-sector reads
    for (;;) {
        UINT br = 0;
        res = f_read(&f, buf, sizeof buf, &br);
        if (res != FR_OK) {
            f_close(&f);
            return res;
        }
        out->append(buf, br);
        if (br < sizeof buf) {
            break;
        }
    }
    return f_close(&f);
}

inline FRESULT write_all(const std::string& path, const std::string& data,
                         BYTE mode = FA_CREATE_ALWAYS | FA_WRITE)
{
    FIL f;
    FRESULT res = f_open(&f, path.c_str(), mode);
    if (res != FR_OK) {
        return res;
    }
    UINT bw = 0;
    res = f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw);
    FRESULT cres = f_close(&f);
    if (res == FR_OK && bw != data.size()) {
        res = FR_DENIED;
    }
    return res != FR_OK ? res : cres;
}

// The sample cycle's append: open always, seek to the end, write, close.
inline FRESULT append_record(const std::string& path, const std::string& data)
{
    FIL f;
    FRESULT res = f_open(&f, path.c_str(), FA_OPEN_ALWAYS | FA_WRITE);
    if (res != FR_OK) {
        return res;
    }
    res = f_lseek(&f, f.fsize);
    UINT bw = 0;
    if (res == FR_OK) {
        res = f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw);
    }
    FRESULT cres = f_close(&f);
    if (res == FR_OK && bw != data.size()) {
        res = FR_DENIED;
    }
    return res != FR_OK ? res : cres;
}

// The same append positioned with a kept end-of-file hint, as the firmware
// does across resets: *hint (when *have) goes into the open and the seek,
// and after a complete append it is replaced by the new end (the old one
// stays when the append fails, as a hint kept in FRAM would).
inline FRESULT append_hinted(const std::string& path, const std::string& data, FFHINT* hint, bool* have)
{
    FIL f;
    const FFHINT* h = *have ? hint : nullptr;
    FRESULT res = f_open_hinted(&f, path.c_str(), FA_OPEN_ALWAYS | FA_WRITE | FA_READ, h);
    if (res != FR_OK) {
        return res;
    }
    res = f_lseek_end(&f, h);
    UINT bw = 0;
    if (res == FR_OK) {
        res = f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw);
    }
    FFHINT next{};
    if (res == FR_OK) {
        res = f_gethint(&f, &next);
    }
    FRESULT cres = f_close(&f);
    if (res == FR_OK && bw != data.size()) {
        res = FR_DENIED;
    }
    res = res != FR_OK ? res : cres;
    if (res == FR_OK) {
        *hint = next;
        *have = true;
    }
    return res;
}

inline FRESULT list_dir(const std::string& path, std::map<std::string, Entry>* out)
{
    DIR d;
    FRESULT res = f_opendir(&d, path.c_str());
    if (res != FR_OK) {
        return res;
    }
    out->clear();
    for (int guard = 0; guard < 70000; guard++) {
        FILINFO fi;
        res = f_readdir(&d, &fi);
        if (res != FR_OK || fi.fname[0] == 0) {
            break;
        }
        (*out)[fi.fname] = Entry{fi.fname, fi.fsize, fi.fattrib};
    }
    f_closedir(&d);
    return res;
}

// Free FAT12 clusters whose entry straddles two FAT sectors, read from the
// test disk: fsck.fat counts them as free, f_getfree does not (they are
// never allocated).  0 on FAT16/32.
inline DWORD free_straddling(const FATFS* fs)
{
    if (fs->fs_type != FS_FAT12) {
        return 0;
    }
    DWORD n = 0;
    for (DWORD c = 2; c < fs->n_fatent; c++) {
        const DWORD at = c + c / 2;
        if (at % 512 != 511) {
            continue;
        }
        const auto lo = testdisk::read_sector(fs->fatbase + at / 512)[511];
        const auto hi = testdisk::read_sector(fs->fatbase + at / 512 + 1)[0];
        const DWORD v = (c & 1) ? ((lo >> 4) | (hi << 4)) : (lo | ((hi & 0x0F) << 8));
        n += v == 0 ? 1 : 0;
    }
    return n;
}

} // namespace fathelp
