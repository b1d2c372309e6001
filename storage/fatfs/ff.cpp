// FAT file system module.
//
// Design in short (docs/fatfs.md has the full account):
// - All sector traffic goes through the volume's one 512-byte window, a
//   write-back cache of one sector.  Moving the window writes the old sector
//   first, so sectors reach the medium in the order the code changes them.
//   Whole-sector file transfers bypass the window after writing it out.
// - Write order for power-cut safety: a freshly allocated cluster is marked end-of-chain in
//   every FAT copy before anything links to it or is written into it; file
//   data is written before the directory entry that makes it part of the
//   file; entries are removed before their clusters are freed.  A cut
//   therefore leaves at worst unreferenced clusters, or one file whose chain
//   is longer than its recorded size.
// - Every chain walk and directory scan is bounded (cluster count, 65536
//   entries per directory), every cluster number is range-checked before use.
#include "storage/fatfs/ff.h"
#include "storage/fatfs/diskio.h"

#include <cstddef>
#include <cstring>

namespace {

FATFS* g_fs = nullptr; // registered volume of drive 0
WORD g_mount_gen = 0;  // mount generation counter, stamped into FATFS::id

constexpr UINT SS = FF_SECTOR_SIZE;
constexpr DWORD NO_SECTOR = 0xFFFFFFFF;
constexpr DWORD UNKNOWN_COUNT = 0xFFFFFFFF;
constexpr DWORD END_CLST = 0xFFFFFFFF; // end of a cluster chain (normalised)
constexpr BYTE FA_MODIFIED = 0x40;     // FIL::flag: directory entry needs updating
constexpr UINT ENTRY_SIZE = 32;
constexpr UINT ENTRIES_PER_SECTOR = SS / ENTRY_SIZE;
constexpr UINT MAX_DIR_ENTRIES = 65536; // FAT limit on the entries of one directory
constexpr UINT MAX_DIR_DEPTH = 256;     // bound on the ".." walk of f_rename
constexpr BYTE DELETED_MARK = 0xE5;
constexpr BYTE FSI_UNREAD = 2; // FATFS::fsi_state: FSInfo not read yet

// Directory entry fields.
constexpr UINT DIR_Name = 0;
constexpr UINT DIR_Attr = 11;
constexpr UINT DIR_NTres = 12;
constexpr UINT DIR_CrtTime = 14;
constexpr UINT DIR_CrtDate = 16;
constexpr UINT DIR_LstAccDate = 18;
constexpr UINT DIR_FstClusHI = 20;
constexpr UINT DIR_WrtTime = 22;
constexpr UINT DIR_WrtDate = 24;
constexpr UINT DIR_FstClusLO = 26;
constexpr UINT DIR_FileSize = 28;
constexpr UINT LDIR_Chksum = 13;

WORD ld16(const BYTE* p)
{
    return static_cast<WORD>(p[0] | (p[1] << 8));
}
DWORD ld32(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}
void st16(BYTE* p, WORD v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
void st32(BYTE* p, DWORD v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
    p[2] = static_cast<BYTE>(v >> 16);
    p[3] = static_cast<BYTE>(v >> 24);
}

// CRC-16/CCITT of a hint's fields other than its check value.
WORD hint_check(const FFHINT* hint)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(hint);
    WORD crc = 0xFFFF;
    for (UINT i = 0; i < sizeof *hint; i++) {
        if (i == offsetof(FFHINT, check) || i == offsetof(FFHINT, check) + 1) {
            continue;
        }
        crc = static_cast<WORD>(crc ^ (p[i] << 8));
        for (UINT b = 0; b < 8; b++) {
            crc = static_cast<WORD>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

// ---------------------------------------------------------------------------
// Sector window

FRESULT sync_window(FATFS* fs)
{
    if (!fs->wflag) {
        return FR_OK;
    }
    if (disk_write(fs->pdrv, fs->win, fs->winsect, 1) != RES_OK) {
        return FR_DISK_ERR;
    }
    // A FAT sector goes to every copy, first copy first.
    if (fs->winsect - fs->fatbase < fs->fsize) {
        for (UINT i = 1; i < fs->n_fats; i++) {
            if (disk_write(fs->pdrv, fs->win, fs->winsect + i * fs->fsize, 1) != RES_OK) {
                return FR_DISK_ERR;
            }
        }
    }
    fs->wflag = 0;
    return FR_OK;
}

FRESULT move_window(FATFS* fs, DWORD sect)
{
    if (sect == fs->winsect) {
        return FR_OK;
    }
    FRESULT res = sync_window(fs);
    if (res != FR_OK) {
        return res;
    }
    if (disk_read(fs->pdrv, fs->win, sect, 1) != RES_OK) {
        fs->winsect = NO_SECTOR;
        return FR_DISK_ERR;
    }
    fs->winsect = sect;
    return FR_OK;
}

// Takes a sector into the window without reading it: its old content is of
// no interest (it will be overwritten).  The window starts zero-filled.
FRESULT fresh_window(FATFS* fs, DWORD sect)
{
    if (fs->winsect != sect) {
        FRESULT res = sync_window(fs);
        if (res != FR_OK) {
            return res;
        }
        fs->winsect = sect;
    }
    std::memset(fs->win, 0, SS);
    return FR_OK;
}

FRESULT sync_fs(FATFS* fs)
{
    FRESULT res = sync_window(fs);
    if (res == FR_OK && disk_ioctl(fs->pdrv, CTRL_SYNC, nullptr) != RES_OK) {
        res = FR_DISK_ERR;
    }
    return res;
}

// ---------------------------------------------------------------------------
// FAT access

bool valid_clust(const FATFS* fs, DWORD c)
{
    return c >= 2 && c < fs->n_fatent;
}

DWORD clust2sect(const FATFS* fs, DWORD c)
{
    return fs->database + (c - 2) * fs->csize;
}

DWORD eoc_value(const FATFS* fs)
{
    return fs->fs_type == FS_FAT12 ? 0xFFF : fs->fs_type == FS_FAT16 ? 0xFFFF : 0x0FFFFFFF;
}

// A FAT12 entry whose two bytes lie in different sectors cannot be changed
// with one sector write; the allocator never hands out such clusters.
bool fat12_straddles(DWORD c)
{
    return (c + c / 2) % SS == SS - 1;
}

// Clusters the allocator may hand out when they are free (and that the free
// count therefore counts).
bool allocatable(const FATFS* fs, DWORD c)
{
    return fs->fs_type != FS_FAT12 || !fat12_straddles(c);
}

// Reads the raw FAT entry of cluster c (FAT32: the low 28 bits).
FRESULT get_fat(FATFS* fs, DWORD c, DWORD* val)
{
    if (!valid_clust(fs, c)) {
        return FR_INT_ERR;
    }
    FRESULT res;
    switch (fs->fs_type) {
    case FS_FAT12: {
        DWORD bc = c + c / 2;
        res = move_window(fs, fs->fatbase + bc / SS);
        if (res != FR_OK) {
            return res;
        }
        DWORD w = fs->win[bc % SS];
        bc++;
        res = move_window(fs, fs->fatbase + bc / SS);
        if (res != FR_OK) {
            return res;
        }
        w |= static_cast<DWORD>(fs->win[bc % SS]) << 8;
        *val = (c & 1) ? (w >> 4) : (w & 0xFFF);
        return FR_OK;
    }
    case FS_FAT16:
        res = move_window(fs, fs->fatbase + c / (SS / 2));
        if (res == FR_OK) {
            *val = ld16(fs->win + (c % (SS / 2)) * 2);
        }
        return res;
    default:
        res = move_window(fs, fs->fatbase + c / (SS / 4));
        if (res == FR_OK) {
            *val = ld32(fs->win + (c % (SS / 4)) * 4) & 0x0FFFFFFF;
        }
        return res;
    }
}

// Next cluster of a chain: *next is a valid cluster or END_CLST.  Free, bad
// and out-of-range links are structure errors.
FRESULT follow(FATFS* fs, DWORD c, DWORD* next)
{
    DWORD v;
    FRESULT res = get_fat(fs, c, &v);
    if (res != FR_OK) {
        return res;
    }
    if (v >= (eoc_value(fs) & ~7u)) {
        *next = END_CLST;
        return FR_OK;
    }
    if (!valid_clust(fs, v)) {
        return FR_INT_ERR;
    }
    *next = v;
    return FR_OK;
}

// Reads the FSInfo sector, once per mount and only when the FAT is about to
// change: its next-free hint starts the allocator, and its free count tells
// whether it must be invalidated.  An append that stays within its cluster
// never needs it.
FRESULT load_fsinfo(FATFS* fs)
{
    if (fs->fsi_state != FSI_UNREAD) {
        return FR_OK;
    }
    FRESULT res = move_window(fs, fs->fsi_sector);
    if (res != FR_OK) {
        return res;
    }
    const BYTE* f = fs->win;
    fs->fsi_state = 0;
    if (ld32(f) == 0x41615252 && ld32(f + 484) == 0x61417272 && ld32(f + 508) == 0xAA550000) {
        if (ld32(f + 488) != UNKNOWN_COUNT) {
            fs->fsi_state = 1;
        }
        const DWORD next = ld32(f + 492);
        if (next >= 2 && next < fs->n_fatent) {
            fs->last_clst = next;
        }
    } else {
        fs->fsi_sector = 0;
    }
    return FR_OK;
}

// Before the first FAT change after mounting, the FSInfo free count is
// marked unknown: a count that a power cut could leave stale is worse than
// none (other systems then count the FAT, as this module does).
FRESULT invalidate_fsinfo(FATFS* fs)
{
    FRESULT res = load_fsinfo(fs);
    if (res != FR_OK || fs->fsi_state != 1) {
        return res;
    }
    res = move_window(fs, fs->fsi_sector);
    if (res != FR_OK) {
        return res;
    }
    st32(fs->win + 488, UNKNOWN_COUNT);
    fs->wflag = 1;
    res = sync_window(fs);
    if (res == FR_OK) {
        fs->fsi_state = 0;
    }
    return res;
}

FRESULT put_fat(FATFS* fs, DWORD c, DWORD val)
{
    if (!valid_clust(fs, c)) {
        return FR_INT_ERR;
    }
    FRESULT res = invalidate_fsinfo(fs);
    if (res != FR_OK) {
        return res;
    }
    switch (fs->fs_type) {
    case FS_FAT12: {
        DWORD bc = c + c / 2;
        res = move_window(fs, fs->fatbase + bc / SS);
        if (res != FR_OK) {
            return res;
        }
        BYTE* p = fs->win + bc % SS;
        *p = (c & 1) ? static_cast<BYTE>((*p & 0x0F) | ((val << 4) & 0xF0)) : static_cast<BYTE>(val);
        fs->wflag = 1;
        bc++;
        res = move_window(fs, fs->fatbase + bc / SS);
        if (res != FR_OK) {
            return res;
        }
        p = fs->win + bc % SS;
        *p = (c & 1) ? static_cast<BYTE>(val >> 4) : static_cast<BYTE>((*p & 0xF0) | ((val >> 8) & 0x0F));
        break;
    }
    case FS_FAT16:
        res = move_window(fs, fs->fatbase + c / (SS / 2));
        if (res != FR_OK) {
            return res;
        }
        st16(fs->win + (c % (SS / 2)) * 2, static_cast<WORD>(val));
        break;
    default: {
        res = move_window(fs, fs->fatbase + c / (SS / 4));
        if (res != FR_OK) {
            return res;
        }
        BYTE* p = fs->win + (c % (SS / 4)) * 4;
        st32(p, (ld32(p) & 0xF0000000) | (val & 0x0FFFFFFF));
        break;
    }
    }
    fs->wflag = 1;
    return FR_OK;
}

// Finds a free cluster after `near` (wrapping around) and marks it as the
// end of a chain.  FR_DENIED when the volume is full.
FRESULT alloc_cluster(FATFS* fs, DWORD near, DWORD* nc)
{
    if (fs->free_clst == 0) {
        return FR_DENIED;
    }
    FRESULT lres = load_fsinfo(fs);
    if (lres != FR_OK) {
        return lres;
    }
    DWORD c = valid_clust(fs, near) ? near : (valid_clust(fs, fs->last_clst) ? fs->last_clst : 1);
    const DWORD n_clusters = fs->n_fatent - 2;
    for (DWORD n = 0; n < n_clusters; n++) {
        c++;
        if (c >= fs->n_fatent) {
            c = 2;
        }
        if (!allocatable(fs, c)) {
            continue;
        }
        DWORD v;
        FRESULT res = get_fat(fs, c, &v);
        if (res != FR_OK) {
            return res;
        }
        if (v == 0) {
            res = put_fat(fs, c, eoc_value(fs));
            if (res != FR_OK) {
                return res;
            }
            fs->last_clst = c;
            if (fs->free_clst != UNKNOWN_COUNT && fs->free_clst > 0) {
                fs->free_clst--;
            }
            *nc = c;
            return FR_OK;
        }
    }
    fs->free_clst = 0;
    return FR_DENIED;
}

// Frees the chain starting at c.  A broken chain stops the walk with
// FR_INT_ERR (what remains is left as unreferenced clusters).
FRESULT remove_chain(FATFS* fs, DWORD c)
{
    for (DWORD n = 0; n < fs->n_fatent; n++) {
        DWORD next;
        FRESULT res = follow(fs, c, &next);
        if (res != FR_OK) {
            return res;
        }
        res = put_fat(fs, c, 0);
        if (res != FR_OK) {
            return res;
        }
        if (fs->free_clst != UNKNOWN_COUNT && allocatable(fs, c)) {
            fs->free_clst++;
        }
        if (next == END_CLST) {
            return FR_OK;
        }
        c = next;
    }
    return FR_INT_ERR;
}

// Writes zeros over every sector of cluster c (a fresh directory cluster).
FRESULT zero_cluster(FATFS* fs, DWORD c)
{
    DWORD sect = clust2sect(fs, c);
    for (UINT i = 0; i < fs->csize; i++) {
        FRESULT res = fresh_window(fs, sect + i);
        if (res != FR_OK) {
            return res;
        }
        fs->wflag = 1;
        res = sync_window(fs);
        if (res != FR_OK) {
            return res;
        }
    }
    return FR_OK;
}

// ---------------------------------------------------------------------------
// Directory entries

DWORD ld_clust(const FATFS* fs, const BYTE* e)
{
    DWORD c = ld16(e + DIR_FstClusLO);
    if (fs->fs_type == FS_FAT32) {
        c |= static_cast<DWORD>(ld16(e + DIR_FstClusHI)) << 16;
    }
    return c;
}

void st_clust(BYTE* e, DWORD c)
{
    st16(e + DIR_FstClusLO, static_cast<WORD>(c));
    st16(e + DIR_FstClusHI, static_cast<WORD>(c >> 16));
}

BYTE sfn_sum(const BYTE* name)
{
    BYTE sum = 0;
    for (UINT i = 0; i < 11; i++) {
        sum = static_cast<BYTE>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    }
    return sum;
}

DWORD root_clust(const FATFS* fs)
{
    return fs->fs_type == FS_FAT32 ? fs->dirbase : 0;
}

bool is_root(const FATFS* fs, DWORD sclust)
{
    return sclust == 0 || sclust == root_clust(fs);
}

BYTE* dir_entry(DIR* dp)
{
    return dp->fs->win + (dp->index % ENTRIES_PER_SECTOR) * ENTRY_SIZE;
}

// Positions dp at entry idx.  sect == 0 afterwards when idx lies beyond the
// end of the directory.
FRESULT dir_sdi(DIR* dp, UINT idx)
{
    FATFS* fs = dp->fs;
    dp->index = static_cast<WORD>(idx);
    dp->sect = 0;
    DWORD c = dp->sclust;
    if (idx >= MAX_DIR_ENTRIES) {
        return FR_OK;
    }
    if (c == 0) {
        if (idx < fs->n_rootdir) {
            dp->clust = 0;
            dp->sect = fs->dirbase + idx / ENTRIES_PER_SECTOR;
        }
        return FR_OK;
    }
    if (!valid_clust(fs, c)) {
        return FR_INT_ERR;
    }
    const UINT per_cluster = fs->csize * ENTRIES_PER_SECTOR;
    for (UINT n = idx / per_cluster; n > 0; n--) {
        FRESULT res = follow(fs, c, &c);
        if (res != FR_OK) {
            return res;
        }
        if (c == END_CLST) {
            return FR_OK;
        }
    }
    dp->clust = c;
    dp->sect = clust2sect(fs, c) + (idx % per_cluster) / ENTRIES_PER_SECTOR;
    return FR_OK;
}

// Advances dp to the next entry.  FR_NO_FILE at the end of the directory;
// with `stretch` a full cluster chain is extended by one zeroed cluster
// instead (FR_DENIED when that is impossible).
FRESULT dir_next(DIR* dp, bool stretch)
{
    FATFS* fs = dp->fs;
    if (dp->sect == 0) {
        return FR_NO_FILE;
    }
    UINT i = dp->index + 1u;
    if (i >= MAX_DIR_ENTRIES) {
        dp->sect = 0;
        return stretch ? FR_DENIED : FR_NO_FILE;
    }
    if (i % ENTRIES_PER_SECTOR == 0) {
        if (dp->sclust == 0) {
            if (i >= fs->n_rootdir) {
                dp->sect = 0;
                return stretch ? FR_DENIED : FR_NO_FILE;
            }
            dp->sect++;
        } else if ((i / ENTRIES_PER_SECTOR) % fs->csize == 0) {
            DWORD n;
            FRESULT res = follow(fs, dp->clust, &n);
            if (res != FR_OK) {
                return res;
            }
            if (n == END_CLST) {
                if (!stretch) {
                    dp->sect = 0;
                    return FR_NO_FILE;
                }
                // New cluster: end-of-chain mark, zeroed content, then the link.
                res = alloc_cluster(fs, dp->clust, &n);
                if (res == FR_OK) {
                    res = zero_cluster(fs, n);
                }
                if (res == FR_OK) {
                    res = put_fat(fs, dp->clust, n);
                }
                if (res != FR_OK) {
                    return res;
                }
            }
            dp->clust = n;
            dp->sect = clust2sect(fs, n);
        } else {
            dp->sect++;
        }
    }
    dp->index = static_cast<WORD>(i);
    return FR_OK;
}

// Converts the next path component into a space-padded 8.3 name and moves
// *path past it and the separators after it.
FRESULT make_name(const TCHAR** path, BYTE name[11], bool* last)
{
    std::memset(name, ' ', 11);
    const TCHAR* p = *path;
    UINT i = 0;
    UINT limit = 8;
    bool ext = false;
    for (;;) {
        BYTE c = static_cast<BYTE>(*p);
        if (c == 0 || c == '/' || c == '\\') {
            break;
        }
        p++;
        if (c == '.') {
            if (ext || i == 0) {
                return FR_INVALID_NAME;
            }
            ext = true;
            i = 8;
            limit = 11;
            continue;
        }
        if (i >= limit || c <= ' ' || c == 0x7F || std::strchr("\"*+,:;<=>?[]|", c) != nullptr) {
            return FR_INVALID_NAME;
        }
        if (c >= 'a' && c <= 'z') {
            c = static_cast<BYTE>(c - 'a' + 'A');
        }
        name[i++] = c;
    }
    if (name[0] == ' ') {
        return FR_INVALID_NAME;
    }
    if (name[0] == DELETED_MARK) {
        name[0] = 0x05; // stored form of a leading 0xE5 byte
    }
    while (*p == '/' || *p == '\\') {
        p++;
    }
    *last = (*p == 0);
    *path = p;
    return FR_OK;
}

// Searches dp's directory for `name`.  On success dp is positioned at the
// entry and *lfn_index is the index of the first long-name entry that
// belongs to it (the entry's own index when there is none).
FRESULT dir_find(DIR* dp, const BYTE* name, WORD* lfn_index)
{
    FRESULT res = dir_sdi(dp, 0);
    if (res != FR_OK) {
        return res;
    }
    bool in_run = false;
    WORD run_start = 0;
    BYTE run_sum = 0;
    for (;;) {
        if (dp->sect == 0) {
            return FR_NO_FILE;
        }
        res = move_window(dp->fs, dp->sect);
        if (res != FR_OK) {
            return res;
        }
        const BYTE* e = dir_entry(dp);
        const BYTE c = e[DIR_Name];
        const BYTE attr = e[DIR_Attr] & 0x3F;
        if (c == 0) {
            return FR_NO_FILE;
        }
        if (c == DELETED_MARK) {
            in_run = false;
        } else if (attr == AM_LFN) {
            if (c & 0x40) {
                in_run = true;
                run_start = dp->index;
                run_sum = e[LDIR_Chksum];
            }
        } else {
            if (!(attr & AM_VOL) && std::memcmp(e, name, 11) == 0) {
                *lfn_index = (in_run && run_sum == sfn_sum(e)) ? run_start : dp->index;
                return FR_OK;
            }
            in_run = false;
        }
        res = dir_next(dp, false);
        if (res != FR_OK) {
            return res;
        }
    }
}

// Result of resolving a path.
struct Lookup {
    DIR dj;         // parent directory, positioned at the entry when found
    WORD lfn_index; // first long-name entry of the found entry
    BYTE name[11];  // last component as stored
    bool root;      // the path names the root directory itself
};

void set_root(DIR* dp)
{
    dp->sclust = root_clust(dp->fs);
}

FRESULT follow_path(FATFS* fs, const TCHAR* path, Lookup* lk)
{
    lk->dj.fs = fs;
    lk->dj.id = fs->id;
    lk->root = false;
    set_root(&lk->dj);
    while (*path == '/' || *path == '\\') {
        path++;
    }
    if (*path == 0) {
        lk->root = true;
        return dir_sdi(&lk->dj, 0);
    }
    for (;;) {
        bool last = false;
        FRESULT res = make_name(&path, lk->name, &last);
        if (res != FR_OK) {
            return res;
        }
        res = dir_find(&lk->dj, lk->name, &lk->lfn_index);
        if (res == FR_NO_FILE) {
            return last ? FR_NO_FILE : FR_NO_PATH;
        }
        if (res != FR_OK || last) {
            return res;
        }
        const BYTE* e = dir_entry(&lk->dj);
        if (!(e[DIR_Attr] & AM_DIR)) {
            return FR_NO_PATH;
        }
        DWORD c = ld_clust(fs, e);
        if (c == 0) {
            set_root(&lk->dj);
        } else if (!valid_clust(fs, c)) {
            return FR_INT_ERR;
        } else {
            lk->dj.sclust = c;
        }
    }
}

// Writes a fresh entry (name, attributes, first cluster, current time) into a
// free slot of dp's directory, extending the directory when needed.
FRESULT dir_register(DIR* dp, const BYTE* name, BYTE attr, DWORD sclust, const BYTE* copy_from)
{
    FRESULT res = dir_sdi(dp, 0);
    for (;;) {
        if (res != FR_OK) {
            return res == FR_NO_FILE ? FR_DENIED : res;
        }
        if (dp->sect == 0) {
            return FR_DENIED;
        }
        res = move_window(dp->fs, dp->sect);
        if (res != FR_OK) {
            return res;
        }
        const BYTE c = dir_entry(dp)[DIR_Name];
        if (c == 0 || c == DELETED_MARK) {
            break;
        }
        res = dir_next(dp, true);
    }
    BYTE* e = dir_entry(dp);
    if (copy_from != nullptr) {
        std::memcpy(e, copy_from, ENTRY_SIZE);
    } else {
        std::memset(e, 0, ENTRY_SIZE);
        const DWORD tm = get_fattime();
        e[DIR_Attr] = attr;
        st16(e + DIR_CrtTime, static_cast<WORD>(tm));
        st16(e + DIR_CrtDate, static_cast<WORD>(tm >> 16));
        st16(e + DIR_LstAccDate, static_cast<WORD>(tm >> 16));
        st16(e + DIR_WrtTime, static_cast<WORD>(tm));
        st16(e + DIR_WrtDate, static_cast<WORD>(tm >> 16));
        st_clust(e, sclust);
    }
    std::memcpy(e + DIR_Name, name, 11);
    e[DIR_NTres] = 0;
    dp->fs->wflag = 1;
    return FR_OK;
}

// Marks entries first..last of dp's directory deleted, in ascending order
// (long-name entries before the short entry they belong to).
FRESULT dir_remove(DIR* dp, UINT first, UINT last)
{
    FRESULT res = dir_sdi(dp, first);
    for (UINT i = first; res == FR_OK; i++) {
        if (dp->sect == 0) {
            return FR_INT_ERR;
        }
        res = move_window(dp->fs, dp->sect);
        if (res != FR_OK) {
            return res;
        }
        dir_entry(dp)[DIR_Name] = DELETED_MARK;
        dp->fs->wflag = 1;
        if (i >= last) {
            return FR_OK;
        }
        res = dir_next(dp, false);
    }
    return res == FR_NO_FILE ? FR_INT_ERR : res;
}

void get_fileinfo(const BYTE* e, FILINFO* fno)
{
    UINT j = 0;
    for (UINT i = 0; i < 11; i++) {
        BYTE c = e[i];
        if (c == ' ') {
            continue;
        }
        if (i == 8) {
            fno->fname[j++] = '.';
        }
        if (i == 0 && c == 0x05) {
            c = DELETED_MARK;
        }
        fno->fname[j++] = static_cast<TCHAR>(c);
    }
    fno->fname[j] = 0;
    fno->fattrib = e[DIR_Attr] & 0x3F;
    fno->fsize = ld32(e + DIR_FileSize);
    fno->fdate = ld16(e + DIR_WrtDate);
    fno->ftime = ld16(e + DIR_WrtTime);
}

// ---------------------------------------------------------------------------
// Mounting

FRESULT skip_drive(const TCHAR** path)
{
    if (*path == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    const TCHAR* p = *path;
    if (p[0] >= '0' && p[0] <= '9' && p[1] == ':') {
        if (p[0] != '0') {
            return FR_INVALID_DRIVE;
        }
        *path = p + 2;
    }
    return FR_OK;
}

enum BootCheck { BOOT_FAT, BOOT_OTHER, BOOT_NONE, BOOT_ERROR };

// Volume serial number of a FAT boot sector, 0 when it has no extended boot
// signature.
DWORD boot_serial(const BYTE* b)
{
    const UINT sig = ld16(b + 22) == 0 ? 66 : 38; // FAT32 : FAT12/16 layout
    return b[sig] == 0x29 ? ld32(b + sig + 1) : 0;
}

BootCheck check_boot(FATFS* fs, DWORD sect)
{
    fs->wflag = 0;
    fs->winsect = NO_SECTOR;
    if (move_window(fs, sect) != FR_OK) {
        return BOOT_ERROR;
    }
    const BYTE* b = fs->win;
    if (ld16(b + 510) != 0xAA55) {
        return BOOT_NONE;
    }
    const BYTE spc = b[13];
    if ((b[0] == 0xEB || b[0] == 0xE9 || b[0] == 0xE8) && ld16(b + 11) == SS && spc != 0 &&
        (spc & (spc - 1)) == 0 && ld16(b + 14) != 0 && (b[16] == 1 || b[16] == 2)) {
        return BOOT_FAT;
    }
    return BOOT_OTHER;
}

// Reads the boot sector's parameters into fs (the window holds it).
FRESULT read_bpb(FATFS* fs, DWORD bsect)
{
    const BYTE* b = fs->win;
    const DWORD spc = b[13];
    const DWORD rsvd = ld16(b + 14);
    const DWORD nfats = b[16];
    const DWORD rootent = ld16(b + 17);
    const DWORD tot = ld16(b + 19) != 0 ? ld16(b + 19) : ld32(b + 32);
    const DWORD fatsz = ld16(b + 22) != 0 ? ld16(b + 22) : ld32(b + 36);
    if (tot == 0 || fatsz == 0) {
        return FR_NO_FILESYSTEM;
    }
    const uint64_t rootsecs = (rootent * ENTRY_SIZE + SS - 1) / SS;
    const uint64_t sysect = rsvd + static_cast<uint64_t>(fatsz) * nfats + rootsecs;
    if (sysect >= tot) {
        return FR_NO_FILESYSTEM;
    }
    const DWORD nclst = static_cast<DWORD>((tot - sysect) / spc);
    if (nclst == 0) {
        return FR_NO_FILESYSTEM;
    }
    // A boot sector without a 16-bit FAT size is FAT32 whatever its cluster
    // count (as mkfs.fat and other systems treat it); otherwise the count
    // decides between FAT12 and FAT16.
    const BYTE type = ld16(b + 22) == 0 ? FS_FAT32 : nclst <= 4084 ? FS_FAT12 : FS_FAT16;
    if (type == FS_FAT16 && nclst > 0xFFF5) {
        return FR_NO_FILESYSTEM;
    }
    uint64_t fat_bytes;
    fs->n_fats = static_cast<BYTE>(nfats);
    fs->fatbase = bsect + rsvd;
    fs->fsi_sector = 0;
    if (type == FS_FAT32) {
        if (nclst > 0x0FFFFFF5 || rootent != 0 || ld16(b + 42) != 0) {
            return FR_NO_FILESYSTEM;
        }
        fat_bytes = (static_cast<uint64_t>(nclst) + 2) * 4;
        fs->dirbase = ld32(b + 44);
        if (fs->dirbase < 2 || fs->dirbase >= nclst + 2) {
            return FR_NO_FILESYSTEM;
        }
        const WORD ext = ld16(b + 40);
        if (ext & 0x80) { // mirroring off: only the active FAT is used
            const DWORD active = ext & 0x0F;
            if (active >= nfats) {
                return FR_NO_FILESYSTEM;
            }
            fs->fatbase += active * fatsz;
            fs->n_fats = 1;
        }
        const DWORD fsi = ld16(b + 48);
        if (fsi != 0 && fsi < rsvd) {
            fs->fsi_sector = bsect + fsi;
        }
    } else {
        if (rootent == 0 || rootent % ENTRIES_PER_SECTOR != 0) {
            return FR_NO_FILESYSTEM;
        }
        fat_bytes = type == FS_FAT16 ? (static_cast<uint64_t>(nclst) + 2) * 2 : ((nclst + 2) * 3 + 1) / 2;
        fs->dirbase = bsect + rsvd + fatsz * nfats;
    }
    if (static_cast<uint64_t>(fatsz) * SS < fat_bytes) {
        return FR_NO_FILESYSTEM;
    }
    if (static_cast<uint64_t>(bsect) + tot > 0xFFFFFFFFu) {
        return FR_NO_FILESYSTEM;
    }
    LBA_t disk_sectors = 0;
    if (disk_ioctl(fs->pdrv, GET_SECTOR_COUNT, &disk_sectors) == RES_OK && disk_sectors != 0 &&
        static_cast<uint64_t>(bsect) + tot > disk_sectors) {
        return FR_NO_FILESYSTEM;
    }
    fs->csize = static_cast<BYTE>(spc);
    fs->n_rootdir = static_cast<WORD>(rootent);
    fs->n_fatent = nclst + 2;
    fs->fsize = fatsz;
    fs->volbase = bsect;
    fs->database = static_cast<DWORD>(bsect + sysect);
    fs->vol_id = boot_serial(b);
    fs->free_clst = UNKNOWN_COUNT;
    fs->last_clst = 1;
    fs->fsi_state = fs->fsi_sector != 0 ? FSI_UNREAD : 0;
    fs->fs_type = type;
    return FR_OK;
}

// Makes sure the registered volume is mounted; consumes a "0:" prefix.  A
// hint names the sector where the volume was found before: a FAT boot
// sector there with the hint's serial number is taken directly.
FRESULT mount_volume(const TCHAR** path, FATFS** rfs, bool write, const FFHINT* hint = nullptr)
{
    FRESULT res = skip_drive(path);
    if (res != FR_OK) {
        return res;
    }
    FATFS* fs = g_fs;
    if (fs == nullptr) {
        return FR_NOT_ENABLED;
    }
    *rfs = fs;
    if (fs->fs_type != 0) {
        const DSTATUS st = disk_status(fs->pdrv);
        if (!(st & STA_NOINIT)) {
            return (write && (st & STA_PROTECT)) ? FR_WRITE_PROTECTED : FR_OK;
        }
    }
    fs->fs_type = 0;
    fs->wflag = 0;
    fs->winsect = NO_SECTOR;
    const DSTATUS st = disk_initialize(fs->pdrv);
    if (st & STA_NOINIT) {
        return FR_NOT_READY;
    }
    if (write && (st & STA_PROTECT)) {
        return FR_WRITE_PROTECTED;
    }
    WORD ss = 0;
    if (disk_ioctl(fs->pdrv, GET_SECTOR_SIZE, &ss) == RES_OK && ss != SS) {
        return FR_DISK_ERR;
    }
    DWORD bsect = 0;
    BootCheck bc = BOOT_NONE;
    if (hint != nullptr && hint->check == hint_check(hint) && hint->vol_sect != 0 && hint->vol_id != 0) {
        bc = check_boot(fs, hint->vol_sect);
        if (bc == BOOT_FAT && boot_serial(fs->win) == hint->vol_id) {
            bsect = hint->vol_sect;
        } else {
            bc = BOOT_NONE;
        }
    }
    if (bc != BOOT_FAT) {
        bc = check_boot(fs, 0);
    }
    if (bc == BOOT_OTHER) {
        // Partition table: the first partition that holds a FAT volume.
        DWORD starts[4];
        for (UINT i = 0; i < 4; i++) {
            const BYTE* pe = fs->win + 446 + i * 16;
            starts[i] = pe[4] != 0 ? ld32(pe + 8) : 0;
        }
        for (UINT i = 0; i < 4 && bc != BOOT_FAT; i++) {
            if (starts[i] != 0) {
                bsect = starts[i];
                bc = check_boot(fs, bsect);
            }
        }
    }
    if (bc == BOOT_ERROR) {
        return FR_DISK_ERR;
    }
    if (bc != BOOT_FAT) {
        return FR_NO_FILESYSTEM;
    }
    res = read_bpb(fs, bsect);
    if (res != FR_OK) {
        fs->fs_type = 0;
        return res;
    }
    if (++g_mount_gen == 0) {
        g_mount_gen = 1;
    }
    fs->id = g_mount_gen;
    return FR_OK;
}

FRESULT validate(FATFS* fs, WORD id)
{
    if (fs == nullptr || fs != g_fs || fs->fs_type == 0 || fs->id != id ||
        (disk_status(fs->pdrv) & STA_NOINIT)) {
        return FR_INVALID_OBJECT;
    }
    return FR_OK;
}

// ---------------------------------------------------------------------------
// File position helpers

DWORD cluster_bytes(const FATFS* fs)
{
    return static_cast<DWORD>(fs->csize) * SS;
}

// At a cluster boundary (fptr % cluster size == 0) moves fp->clust on to the
// cluster that holds fptr, allocating one when `grow` and the chain ends.
FRESULT enter_cluster(FIL* fp, bool grow)
{
    FATFS* fs = fp->fs;
    // Index of the cluster to enter.  A file that owns every cluster ends at
    // index n_fatent - 2: there the chain must end (and the allocator reports
    // the full volume); a chain that goes on from there must loop.
    const DWORD index = fp->fptr / cluster_bytes(fs);
    if (index > fs->n_fatent - 2) {
        return FR_INT_ERR;
    }
    DWORD c;
    if (fp->fptr == 0) {
        c = fp->sclust;
        if (c == 0) {
            if (!grow) {
                return FR_INT_ERR;
            }
            FRESULT res = alloc_cluster(fs, 0, &c);
            if (res != FR_OK) {
                return res;
            }
            fp->sclust = c;
            fp->flag |= FA_MODIFIED;
        }
    } else {
        FRESULT res = follow(fs, fp->clust, &c);
        if (res != FR_OK) {
            return res;
        }
        if (c == END_CLST) {
            if (!grow) {
                return FR_INT_ERR;
            }
            // End-of-chain mark on the fresh cluster first, then the link.
            res = alloc_cluster(fs, fp->clust, &c);
            if (res == FR_OK) {
                res = put_fat(fs, fp->clust, c);
            }
            if (res != FR_OK) {
                return res;
            }
        }
    }
    if (!valid_clust(fs, c) || index == fs->n_fatent - 2) {
        return FR_INT_ERR;
    }
    fp->clust = c;
    return FR_OK;
}

FRESULT abort_file(FIL* fp, FRESULT res)
{
    if (res == FR_DISK_ERR || res == FR_INT_ERR) {
        fp->err = static_cast<BYTE>(res);
    }
    return res;
}

FRESULT check_file(FIL* fp)
{
    if (fp == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    FRESULT res = validate(fp->fs, fp->id);
    if (res == FR_OK && fp->err != 0) {
        res = static_cast<FRESULT>(fp->err);
    }
    return res;
}

const BYTE zero_block[SS] = {};

} // namespace

// ---------------------------------------------------------------------------
// Public API

FRESULT f_mount(FATFS* fs, const TCHAR* path, BYTE opt)
{
    const TCHAR* p = path != nullptr ? path : "";
    FRESULT res = skip_drive(&p);
    if (res != FR_OK) {
        return res;
    }
    if (g_fs != nullptr) {
        g_fs->fs_type = 0;
    }
    if (fs != nullptr) {
        fs->fs_type = 0;
        fs->pdrv = 0;
        fs->wflag = 0;
        fs->winsect = NO_SECTOR;
    }
    g_fs = fs;
    if (fs == nullptr || opt == 0) {
        return FR_OK;
    }
    FATFS* rfs;
    return mount_volume(&p, &rfs, false);
}

FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode)
{
    return f_open_hinted(fp, path, mode, nullptr);
}

FRESULT f_open_hinted(FIL* fp, const TCHAR* path, BYTE mode, const FFHINT* hint)
{
    if (fp == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    fp->fs = nullptr;
    mode &= FA_READ | FA_WRITE | FA_CREATE_NEW | FA_CREATE_ALWAYS | FA_OPEN_ALWAYS | FA_OPEN_APPEND;
    const bool create = (mode & (FA_CREATE_NEW | FA_CREATE_ALWAYS | FA_OPEN_ALWAYS)) != 0;
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, create || (mode & FA_WRITE), hint);
    if (res != FR_OK) {
        return res;
    }
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res == FR_OK && lk.root) {
        return FR_INVALID_NAME;
    }
    if (create) {
        bool changed = false;
        if (res == FR_NO_FILE) {
            res = dir_register(&lk.dj, lk.name, AM_ARC, 0, nullptr);
            changed = true;
        } else if (res == FR_OK) {
            BYTE* e = dir_entry(&lk.dj);
            if (e[DIR_Attr] & (AM_RDO | AM_DIR)) {
                res = FR_DENIED;
            } else if (mode & FA_CREATE_NEW) {
                res = FR_EXIST;
            } else if (mode & FA_CREATE_ALWAYS) {
                // Empty the entry first, then free the old chain.
                const DWORD old = ld_clust(fs, e);
                const DWORD tm = get_fattime();
                st_clust(e, 0);
                st32(e + DIR_FileSize, 0);
                st16(e + DIR_WrtTime, static_cast<WORD>(tm));
                st16(e + DIR_WrtDate, static_cast<WORD>(tm >> 16));
                e[DIR_Attr] |= AM_ARC;
                fs->wflag = 1;
                res = sync_window(fs);
                if (res == FR_OK && valid_clust(fs, old)) {
                    res = remove_chain(fs, old);
                }
                changed = true;
            }
        }
        if (changed && res == FR_OK) {
            res = sync_fs(fs);
        }
    } else if (res == FR_OK) {
        const BYTE* e = dir_entry(&lk.dj);
        if (e[DIR_Attr] & AM_DIR) {
            res = FR_NO_FILE;
        } else if ((mode & FA_WRITE) && (e[DIR_Attr] & AM_RDO)) {
            res = FR_DENIED;
        }
    }
    if (res != FR_OK) {
        return res;
    }
    // The entry may have moved out of the window while syncing.
    res = move_window(fs, lk.dj.sect);
    if (res != FR_OK) {
        return res;
    }
    const BYTE* e = dir_entry(&lk.dj);
    fp->sclust = ld_clust(fs, e);
    if (fp->sclust != 0 && !valid_clust(fs, fp->sclust)) {
        return FR_INT_ERR;
    }
    fp->fsize = ld32(e + DIR_FileSize);
    fp->fptr = 0;
    fp->clust = 0;
    fp->err = 0;
    fp->flag = mode & (FA_READ | FA_WRITE);
    fp->dir_sect = lk.dj.sect;
    fp->dir_ofs = static_cast<WORD>((lk.dj.index % ENTRIES_PER_SECTOR) * ENTRY_SIZE);
    fp->id = fs->id;
    fp->fs = fs;
    if ((mode & FA_OPEN_APPEND) == FA_OPEN_APPEND) {
        res = f_lseek_end(fp, hint);
        if (res != FR_OK) {
            fp->fs = nullptr;
        }
    }
    return res;
}

FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br)
{
    if (br == nullptr || buff == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    *br = 0;
    FRESULT res = check_file(fp);
    if (res != FR_OK) {
        return res;
    }
    if (!(fp->flag & FA_READ)) {
        return FR_DENIED;
    }
    FATFS* fs = fp->fs;
    BYTE* out = static_cast<BYTE*>(buff);
    const DWORD cbytes = cluster_bytes(fs);
    if (fp->fptr >= fp->fsize) {
        return FR_OK;
    }
    if (btr > fp->fsize - fp->fptr) {
        btr = fp->fsize - fp->fptr;
    }
    while (btr > 0) {
        if (fp->fptr % cbytes == 0) {
            res = enter_cluster(fp, false);
            if (res != FR_OK) {
                return abort_file(fp, res);
            }
        }
        const UINT csect = (fp->fptr / SS) % fs->csize;
        const DWORD sect = clust2sect(fs, fp->clust) + csect;
        const UINT sofs = fp->fptr % SS;
        UINT n;
        if (sofs == 0 && btr >= SS) {
            UINT cnt = btr / SS;
            if (csect + cnt > fs->csize) {
                cnt = fs->csize - csect;
            }
            if (fs->wflag && fs->winsect - sect < cnt) {
                res = sync_window(fs);
                if (res != FR_OK) {
                    return abort_file(fp, res);
                }
            }
            if (disk_read(fs->pdrv, out, sect, cnt) != RES_OK) {
                return abort_file(fp, FR_DISK_ERR);
            }
            n = cnt * SS;
        } else {
            res = move_window(fs, sect);
            if (res != FR_OK) {
                return abort_file(fp, res);
            }
            n = SS - sofs;
            if (n > btr) {
                n = btr;
            }
            std::memcpy(out, fs->win + sofs, n);
        }
        fp->fptr += n;
        out += n;
        *br += n;
        btr -= n;
    }
    return FR_OK;
}

FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw)
{
    if (bw == nullptr || buff == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    *bw = 0;
    FRESULT res = check_file(fp);
    if (res != FR_OK) {
        return res;
    }
    if (!(fp->flag & FA_WRITE)) {
        return FR_DENIED;
    }
    FATFS* fs = fp->fs;
    const BYTE* in = static_cast<const BYTE*>(buff);
    const DWORD cbytes = cluster_bytes(fs);
    if (btw > 0xFFFFFFFFu - fp->fptr) {
        btw = 0xFFFFFFFFu - fp->fptr; // FAT files end at 4 GiB - 1
    }
    while (btw > 0) {
        if (fp->fptr % cbytes == 0) {
            res = enter_cluster(fp, true);
            if (res == FR_DENIED) {
                break; // volume full: short write
            }
            if (res != FR_OK) {
                return abort_file(fp, res);
            }
        }
        const UINT csect = (fp->fptr / SS) % fs->csize;
        const DWORD sect = clust2sect(fs, fp->clust) + csect;
        const UINT sofs = fp->fptr % SS;
        UINT n;
        if (sofs == 0 && btw >= SS) {
            UINT cnt = btw / SS;
            if (csect + cnt > fs->csize) {
                cnt = fs->csize - csect;
            }
            if (fs->winsect - sect < cnt) { // about to be overwritten entirely
                fs->wflag = 0;
                fs->winsect = NO_SECTOR;
            }
            res = sync_window(fs); // earlier changes (FAT, data) go first
            if (res != FR_OK) {
                return abort_file(fp, res);
            }
            if (disk_write(fs->pdrv, in, sect, cnt) != RES_OK) {
                return abort_file(fp, FR_DISK_ERR);
            }
            n = cnt * SS;
        } else {
            // A sector that holds no file data yet need not be read.
            res = (sofs == 0 && fp->fptr >= fp->fsize) ? fresh_window(fs, sect) : move_window(fs, sect);
            if (res != FR_OK) {
                return abort_file(fp, res);
            }
            n = SS - sofs;
            if (n > btw) {
                n = btw;
            }
            std::memcpy(fs->win + sofs, in, n);
            fs->wflag = 1;
        }
        fp->fptr += n;
        in += n;
        *bw += n;
        btw -= n;
        if (fp->fptr > fp->fsize) {
            fp->fsize = fp->fptr;
        }
        fp->flag |= FA_MODIFIED;
    }
    return FR_OK;
}

FRESULT f_sync(FIL* fp)
{
    FRESULT res = check_file(fp);
    if (res != FR_OK) {
        return res;
    }
    FATFS* fs = fp->fs;
    if (fp->flag & FA_MODIFIED) {
        // File data first, then the entry that records its size.
        res = sync_window(fs);
        if (res == FR_OK) {
            res = move_window(fs, fp->dir_sect);
        }
        if (res != FR_OK) {
            return abort_file(fp, res);
        }
        BYTE* e = fs->win + fp->dir_ofs;
        const DWORD tm = get_fattime();
        e[DIR_Attr] |= AM_ARC;
        st_clust(e, fp->sclust);
        st32(e + DIR_FileSize, fp->fsize);
        st16(e + DIR_WrtTime, static_cast<WORD>(tm));
        st16(e + DIR_WrtDate, static_cast<WORD>(tm >> 16));
        st16(e + DIR_LstAccDate, static_cast<WORD>(tm >> 16));
        fs->wflag = 1;
        fp->flag &= static_cast<BYTE>(~FA_MODIFIED);
    }
    res = sync_fs(fs);
    return abort_file(fp, res);
}

FRESULT f_close(FIL* fp)
{
    if (fp == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    FRESULT res = validate(fp->fs, fp->id);
    if (res != FR_OK) {
        return res;
    }
    if (fp->flag & FA_WRITE) {
        res = f_sync(fp);
    }
    fp->fs = nullptr;
    return res;
}

FRESULT f_lseek(FIL* fp, FSIZE_t ofs)
{
    FRESULT res = check_file(fp);
    if (res != FR_OK) {
        return res;
    }
    FATFS* fs = fp->fs;
    if (ofs > fp->fsize) {
        if (!(fp->flag & FA_WRITE)) {
            ofs = fp->fsize;
        } else {
            // Extend with zeros through the ordinary write path.
            res = f_lseek(fp, fp->fsize);
            while (res == FR_OK && fp->fptr < ofs) {
                const DWORD gap = ofs - fp->fptr;
                UINT chunk = gap < SS ? gap : SS - fp->fptr % SS;
                UINT done = 0;
                res = f_write(fp, zero_block, chunk, &done);
                if (done < chunk) {
                    break; // volume full: the position stays at the end
                }
            }
            return res;
        }
    }
    if (ofs == 0) {
        fp->fptr = 0;
        fp->clust = 0;
        return FR_OK;
    }
    const DWORD cbytes = cluster_bytes(fs);
    const DWORD target = (ofs - 1) / cbytes;
    DWORD c;
    DWORD steps;
    if (fp->fptr > 0 && fp->clust != 0 && target >= (fp->fptr - 1) / cbytes) {
        c = fp->clust;
        steps = target - (fp->fptr - 1) / cbytes;
    } else {
        c = fp->sclust;
        steps = target;
    }
    if (!valid_clust(fs, c) || steps >= fs->n_fatent) {
        return abort_file(fp, FR_INT_ERR);
    }
    for (; steps > 0; steps--) {
        res = follow(fs, c, &c);
        if (res == FR_OK && c == END_CLST) {
            res = FR_INT_ERR; // size larger than the chain
        }
        if (res != FR_OK) {
            return abort_file(fp, res);
        }
    }
    fp->clust = c;
    fp->fptr = ofs;
    return FR_OK;
}

FRESULT f_lseek_end(FIL* fp, const FFHINT* hint)
{
    FRESULT res = check_file(fp);
    if (res != FR_OK) {
        return res;
    }
    FATFS* fs = fp->fs;
    const DWORD cbytes = cluster_bytes(fs);
    if (hint != nullptr && hint->check == hint_check(hint) && fp->fsize > 0 && !(fp->flag & FA_MODIFIED) &&
        hint->vol_sect == fs->volbase && hint->vol_id == fs->vol_id && hint->dir_sect == fp->dir_sect &&
        hint->dir_ofs == fp->dir_ofs && valid_clust(fs, hint->clust) &&
        (fp->fsize > cbytes || hint->clust == fp->sclust)) {
        res = move_window(fs, fp->dir_sect);
        if (res != FR_OK) {
            return abort_file(fp, res);
        }
        const BYTE* e = fs->win + fp->dir_ofs;
        if (std::memcmp(e, hint->entry, ENTRY_SIZE) == 0 && ld32(e + DIR_FileSize) == fp->fsize &&
            ld_clust(fs, e) == fp->sclust) {
            // The entry is as it was when the hint was taken.  The hinted
            // cluster must still end a chain: a chain changed behind an
            // unchanged entry (a cluster moved and freed by another system)
            // would otherwise take the append into a cluster the file no
            // longer owns.  An append cut off after linking a new cluster
            // leaves a link there too; the walk then takes the chain as it
            // is.
            DWORD v;
            res = get_fat(fs, hint->clust, &v);
            if (res != FR_OK) {
                return abort_file(fp, res);
            }
            if (v >= (eoc_value(fs) & ~7u)) {
                fp->clust = hint->clust;
                fp->fptr = fp->fsize;
                return FR_OK;
            }
        }
    }
    return f_lseek(fp, fp->fsize);
}

FRESULT f_gethint(FIL* fp, FFHINT* hint)
{
    if (hint == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    FRESULT res = check_file(fp);
    if (res != FR_OK) {
        return res;
    }
    if (fp->fptr != fp->fsize) {
        return FR_DENIED;
    }
    if (fp->flag & FA_MODIFIED) {
        res = f_sync(fp);
        if (res != FR_OK) {
            return res;
        }
    }
    FATFS* fs = fp->fs;
    res = move_window(fs, fp->dir_sect);
    if (res != FR_OK) {
        return abort_file(fp, res);
    }
    std::memset(hint, 0, sizeof *hint);
    hint->vol_sect = fs->volbase;
    hint->vol_id = fs->vol_id;
    hint->dir_sect = fp->dir_sect;
    hint->dir_ofs = fp->dir_ofs;
    hint->clust = fp->fsize > 0 ? fp->clust : 0;
    std::memcpy(hint->entry, fs->win + fp->dir_ofs, ENTRY_SIZE);
    hint->check = hint_check(hint);
    return FR_OK;
}

FRESULT f_truncate(FIL* fp)
{
    FRESULT res = check_file(fp);
    if (res != FR_OK) {
        return res;
    }
    if (!(fp->flag & FA_WRITE)) {
        return FR_DENIED;
    }
    if (fp->fptr >= fp->fsize) {
        return FR_OK;
    }
    FATFS* fs = fp->fs;
    DWORD tail = 0; // first cluster to free
    if (fp->fptr == 0) {
        tail = fp->sclust;
        fp->sclust = 0;
        fp->clust = 0;
    } else {
        res = follow(fs, fp->clust, &tail);
        if (res != FR_OK) {
            return abort_file(fp, res);
        }
        if (tail == END_CLST) {
            tail = 0;
        }
    }
    fp->fsize = fp->fptr;
    fp->flag |= FA_MODIFIED;
    // The entry with the shorter size goes first, then the chain is cut, then
    // the cut-off clusters are freed.
    res = f_sync(fp);
    if (res != FR_OK || !valid_clust(fs, tail)) {
        return res;
    }
    if (fp->fptr > 0) {
        res = put_fat(fs, fp->clust, eoc_value(fs));
    }
    if (res == FR_OK) {
        res = remove_chain(fs, tail);
    }
    if (res == FR_OK) {
        res = sync_fs(fs);
    }
    return abort_file(fp, res);
}

FRESULT f_opendir(DIR* dp, const TCHAR* path)
{
    if (dp == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    dp->fs = nullptr;
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, false);
    if (res != FR_OK) {
        return res;
    }
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res == FR_NO_FILE) {
        return FR_NO_PATH;
    }
    if (res != FR_OK) {
        return res;
    }
    *dp = lk.dj;
    if (!lk.root) {
        const BYTE* e = dir_entry(&lk.dj);
        if (!(e[DIR_Attr] & AM_DIR)) {
            return FR_NO_PATH;
        }
        const DWORD c = ld_clust(fs, e);
        if (c == 0) {
            set_root(dp);
        } else if (!valid_clust(fs, c)) {
            return FR_INT_ERR;
        } else {
            dp->sclust = c;
        }
    }
    res = dir_sdi(dp, 0);
    if (res != FR_OK) {
        return res;
    }
    dp->fs = fs;
    dp->id = fs->id;
    return FR_OK;
}

FRESULT f_closedir(DIR* dp)
{
    if (dp == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    FRESULT res = validate(dp->fs, dp->id);
    if (res == FR_OK) {
        dp->fs = nullptr;
    }
    return res;
}

FRESULT f_readdir(DIR* dp, FILINFO* fno)
{
    if (dp == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    FRESULT res = validate(dp->fs, dp->id);
    if (res != FR_OK) {
        return res;
    }
    if (fno == nullptr) {
        return dir_sdi(dp, 0);
    }
    for (;;) {
        if (dp->sect == 0) {
            break;
        }
        res = move_window(dp->fs, dp->sect);
        if (res != FR_OK) {
            return res;
        }
        const BYTE* e = dir_entry(dp);
        const BYTE c = e[DIR_Name];
        if (c == 0) {
            dp->sect = 0;
            break;
        }
        const BYTE attr = e[DIR_Attr] & 0x3F;
        const bool visible = c != DELETED_MARK && c != '.' && attr != AM_LFN && !(attr & AM_VOL);
        if (visible) {
            get_fileinfo(e, fno);
        }
        res = dir_next(dp, false);
        if (res != FR_OK && res != FR_NO_FILE) {
            return res;
        }
        if (visible) {
            return FR_OK;
        }
    }
    fno->fname[0] = 0;
    return FR_OK;
}

FRESULT f_stat(const TCHAR* path, FILINFO* fno)
{
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, false);
    if (res != FR_OK) {
        return res;
    }
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res != FR_OK) {
        return res;
    }
    if (lk.root) {
        return FR_INVALID_NAME;
    }
    if (fno != nullptr) {
        get_fileinfo(dir_entry(&lk.dj), fno);
    }
    return FR_OK;
}

FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs)
{
    if (nclst == nullptr || fatfs == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, false);
    if (res != FR_OK) {
        return res;
    }
    *fatfs = fs;
    if (fs->free_clst > fs->n_fatent - 2) {
        // Count the FAT itself; the FSInfo count may be stale.  Free FAT12
        // clusters that the allocator never hands out are not counted.
        DWORD n = 0;
        for (DWORD c = 2; c < fs->n_fatent; c++) {
            if (!allocatable(fs, c)) {
                continue;
            }
            DWORD v;
            res = get_fat(fs, c, &v);
            if (res != FR_OK) {
                return res;
            }
            if (v == 0) {
                n++;
            }
        }
        fs->free_clst = n;
    }
    *nclst = fs->free_clst;
    return FR_OK;
}

FRESULT f_unlink(const TCHAR* path)
{
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, true);
    if (res != FR_OK) {
        return res;
    }
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res != FR_OK) {
        return res;
    }
    if (lk.root) {
        return FR_INVALID_NAME;
    }
    const BYTE* e = dir_entry(&lk.dj);
    const BYTE attr = e[DIR_Attr];
    const DWORD sclust = ld_clust(fs, e);
    if (attr & AM_RDO) {
        return FR_DENIED;
    }
    if (attr & AM_DIR) {
        if (!valid_clust(fs, sclust)) {
            return FR_INT_ERR;
        }
        // Only an empty directory may go.
        DIR sub = lk.dj;
        sub.sclust = sclust;
        res = dir_sdi(&sub, 0);
        while (res == FR_OK && sub.sect != 0) {
            res = move_window(fs, sub.sect);
            if (res != FR_OK) {
                return res;
            }
            const BYTE* s = dir_entry(&sub);
            if (s[DIR_Name] == 0) {
                break;
            }
            const BYTE sa = s[DIR_Attr] & 0x3F;
            if (s[DIR_Name] != DELETED_MARK && s[DIR_Name] != '.' && sa != AM_LFN && !(sa & AM_VOL)) {
                return FR_DENIED;
            }
            res = dir_next(&sub, false);
        }
        if (res != FR_OK && res != FR_NO_FILE) {
            return res;
        }
    }
    // Entry first (long-name parts before the short entry), clusters after.
    res = dir_remove(&lk.dj, lk.lfn_index, lk.dj.index);
    if (res == FR_OK) {
        res = sync_window(fs);
    }
    if (res == FR_OK && valid_clust(fs, sclust)) {
        res = remove_chain(fs, sclust);
    }
    if (res == FR_OK) {
        res = sync_fs(fs);
    }
    return res;
}

FRESULT f_mkdir(const TCHAR* path)
{
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, true);
    if (res != FR_OK) {
        return res;
    }
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res == FR_OK) {
        return FR_EXIST;
    }
    if (res != FR_NO_FILE) {
        return res;
    }
    // The fresh directory's cluster is allocated and filled before the parent
    // gets the entry that refers to it.
    DWORD dcl;
    res = alloc_cluster(fs, 0, &dcl);
    if (res != FR_OK) {
        return res;
    }
    res = zero_cluster(fs, dcl);
    if (res == FR_OK) {
        res = move_window(fs, clust2sect(fs, dcl));
    }
    if (res == FR_OK) {
        const DWORD tm = get_fattime();
        BYTE* e = fs->win;
        for (UINT i = 0; i < 2; i++, e += ENTRY_SIZE) {
            std::memset(e, ' ', 11);
            e[0] = '.';
            if (i == 1) {
                e[1] = '.';
            }
            e[DIR_Attr] = AM_DIR;
            st16(e + DIR_CrtTime, static_cast<WORD>(tm));
            st16(e + DIR_CrtDate, static_cast<WORD>(tm >> 16));
            st16(e + DIR_LstAccDate, static_cast<WORD>(tm >> 16));
            st16(e + DIR_WrtTime, static_cast<WORD>(tm));
            st16(e + DIR_WrtDate, static_cast<WORD>(tm >> 16));
            st_clust(e, i == 0 ? dcl : (is_root(fs, lk.dj.sclust) ? 0 : lk.dj.sclust));
        }
        fs->wflag = 1;
        res = sync_window(fs);
    }
    if (res == FR_OK) {
        res = dir_register(&lk.dj, lk.name, AM_DIR, dcl, nullptr);
        if (res != FR_OK && res != FR_DISK_ERR) {
            remove_chain(fs, dcl); // give the cluster back; the original error is reported
        }
    }
    const FRESULT sres = sync_fs(fs);
    return res != FR_OK ? res : sres;
}

FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new)
{
    FATFS* fs;
    FRESULT res = mount_volume(&path_old, &fs, true);
    if (res != FR_OK) {
        return res;
    }
    // A drive number in the new name is ignored: the object stays on its
    // own volume.
    if (path_new == nullptr) {
        return FR_INVALID_PARAMETER;
    }
    if (path_new[0] >= '0' && path_new[0] <= '9' && path_new[1] == ':') {
        path_new += 2;
    }
    Lookup src;
    res = follow_path(fs, path_old, &src);
    if (res != FR_OK) {
        return res;
    }
    if (src.root) {
        return FR_INVALID_NAME;
    }
    BYTE entry[ENTRY_SIZE];
    std::memcpy(entry, dir_entry(&src.dj), ENTRY_SIZE);
    const bool is_dir = (entry[DIR_Attr] & AM_DIR) != 0;
    const DWORD dcl = ld_clust(fs, entry);
    const WORD src_index = src.dj.index;

    Lookup dst;
    res = follow_path(fs, path_new, &dst);
    if (res == FR_OK) {
        return FR_EXIST;
    }
    if (res != FR_NO_FILE) {
        return res;
    }
    res = FR_OK;
    if (!is_dir) {
        entry[DIR_Attr] |= AM_ARC;
    }
    const bool same_dir =
        is_root(fs, src.dj.sclust) ? is_root(fs, dst.dj.sclust) : src.dj.sclust == dst.dj.sclust;
    if (same_dir) {
        // Renaming in place is one sector write; stale long-name parts go first.
        if (src.lfn_index < src_index) {
            res = dir_remove(&src.dj, src.lfn_index, src_index - 1u);
        }
        if (res == FR_OK) {
            res = dir_sdi(&src.dj, src_index);
        }
        if (res == FR_OK) {
            res = move_window(fs, src.dj.sect);
        }
        if (res == FR_OK) {
            BYTE* e = dir_entry(&src.dj);
            std::memcpy(e + DIR_Name, dst.name, 11);
            e[DIR_Attr] = entry[DIR_Attr];
            e[DIR_NTres] = 0;
            fs->wflag = 1;
            res = sync_fs(fs);
        }
        return res;
    }
    if (is_dir) {
        if (!valid_clust(fs, dcl)) {
            return FR_INT_ERR;
        }
        // Refuse to move a directory into itself or below it.
        DWORD c = dst.dj.sclust;
        for (UINT depth = 0; !is_root(fs, c); depth++) {
            if (c == dcl) {
                return FR_INVALID_NAME;
            }
            if (depth >= MAX_DIR_DEPTH || !valid_clust(fs, c)) {
                return FR_INT_ERR;
            }
            res = move_window(fs, clust2sect(fs, c));
            if (res != FR_OK) {
                return res;
            }
            const BYTE* dotdot = fs->win + ENTRY_SIZE;
            if (dotdot[0] != '.' || dotdot[1] != '.') {
                return FR_INT_ERR;
            }
            c = ld_clust(fs, dotdot);
        }
    }
    // New entry first, then the moved directory's "..", then the old entry.
    res = dir_register(&dst.dj, dst.name, 0, 0, entry);
    if (res == FR_OK && is_dir) {
        res = move_window(fs, clust2sect(fs, dcl));
        if (res == FR_OK) {
            BYTE* dotdot = fs->win + ENTRY_SIZE;
            if (dotdot[0] == '.' && dotdot[1] == '.') {
                st_clust(dotdot, is_root(fs, dst.dj.sclust) ? 0 : dst.dj.sclust);
                fs->wflag = 1;
            }
        }
    }
    if (res == FR_OK) {
        res = sync_window(fs);
    }
    if (res == FR_OK) {
        res = dir_remove(&src.dj, src.lfn_index, src_index);
    }
    if (res == FR_OK) {
        res = sync_fs(fs);
    }
    return res;
}
