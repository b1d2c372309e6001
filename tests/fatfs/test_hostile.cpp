// Corrupt and hostile images: calls fail with a result code and never crash,
// hang or touch memory out of bounds (run under the sanitizer build).
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Little-endian patches of the in-memory image.
void poke(uint32_t byte_ofs, std::initializer_list<uint8_t> bytes)
{
    auto s = testdisk::read_sector(byte_ofs / 512);
    uint32_t i = byte_ofs % 512;
    for (uint8_t b : bytes) {
        s[i++] = b;
    }
    testdisk::write_sector(byte_ofs / 512, s);
}
void poke32(uint32_t byte_ofs, uint32_t v)
{
    poke(byte_ofs, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

class Hostile : public ::testing::Test {
  protected:
    tools::TempDir tmp;
    std::string img = tmp.path("card.img");
    FATFS fs{};
    // FAT32, 512-byte clusters: FAT at sector 32, one FAT of 630 sectors, data at 1292 (cluster 2 = root).
    uint32_t fat_start = 0, data_start = 0;

    void SetUp() override
    {
        tools::make_image(img, {32, 40960, 1, 0, ""});
        testdisk::load_image(img);
        ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
        ASSERT_EQ(fathelp::write_all("FILE.BIN", std::string(3000, 'f')), FR_OK); // clusters 3..8
        ASSERT_EQ(f_mkdir("SUB"), FR_OK);                                         // cluster 9
        f_mount(nullptr, "", 0);
        auto bs = testdisk::read_sector(0);
        const uint32_t rsvd = bs[14] | bs[15] << 8;
        const uint32_t fatsz = bs[36] | bs[37] << 8 | bs[38] << 16;
        fat_start = rsvd * 512;
        data_start = (rsvd + 2 * fatsz) * 512;
    }
    void TearDown() override { f_mount(nullptr, "", 0); }
    void set_fat(uint32_t c, uint32_t v)
    {
        poke32(fat_start + c * 4, v);
        poke32(fat_start + c * 4 + (data_start - fat_start) / 2, v); // second copy
    }
};

TEST_F(Hostile, LoopInAFileChain)
{
    set_fat(5, 4); // 3 -> 4 -> 5 -> 4 -> ...
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    std::string got;
    EXPECT_EQ(fathelp::read_all("FILE.BIN", &got), FR_OK); // 6 clusters of size fit in the loop
    poke32(data_start + 28, 0x7FFFFFFF);                   // size far beyond the chain
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    EXPECT_EQ(fathelp::read_all("FILE.BIN", &got), FR_INT_ERR); // more clusters than the volume has
    FIL f;
    ASSERT_EQ(f_open(&f, "FILE.BIN", FA_OPEN_ALWAYS | FA_WRITE), FR_OK);
    EXPECT_EQ(f_lseek(&f, f.fsize), FR_INT_ERR);
    UINT n;
    EXPECT_EQ(f_write(&f, "x", 1, &n), FR_INT_ERR); // the error sticks
    f_close(&f);
    EXPECT_EQ(f_unlink("FILE.BIN"), FR_INT_ERR); // frees up to the loop, reports it
}

TEST_F(Hostile, SizeBeyondTheChainAndBadClusterNumbers)
{
    poke32(data_start + 28, 100000); // FILE.BIN claims 100000 bytes on 6 clusters
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    std::string got;
    EXPECT_EQ(fathelp::read_all("FILE.BIN", &got), FR_INT_ERR);
    set_fat(4, 0x0FFFFFF0); // link to a cluster number past the end
    EXPECT_EQ(fathelp::read_all("FILE.BIN", &got), FR_INT_ERR);
    poke(data_start + 26, {0xFF, 0xFF}); // first cluster out of range
    poke(data_start + 20, {0xFF, 0x0F});
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    EXPECT_EQ(fathelp::read_all("FILE.BIN", &got), FR_INT_ERR);
    EXPECT_EQ(f_unlink("FILE.BIN"), FR_OK); // the entry goes; no cluster is freed
}

TEST_F(Hostile, DirectoryThatNeverEnds)
{
    // SUB's cluster links to itself and holds no end marker.
    set_fat(9, 9);
    for (uint32_t i = 2; i < 16; i++) {
        poke(data_start + 7 * 512 + i * 32, {'X', 'X', 'X', ' ', ' ', ' ', ' ', ' ', 'T', 'X', 'T', 0x20});
    }
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    DIR d;
    ASSERT_EQ(f_opendir(&d, "SUB"), FR_OK);
    int entries = 0;
    FILINFO fi;
    while (f_readdir(&d, &fi) == FR_OK && fi.fname[0] != 0) {
        entries++;
        ASSERT_LT(entries, 70000);
    }
    EXPECT_GT(entries, 1000); // read until the 65536-entry limit of a directory
    EXPECT_EQ(fathelp::write_all("SUB/NEW.TXT", "x"), FR_DENIED);
    EXPECT_EQ(f_unlink("SUB"), FR_DENIED);
}

TEST_F(Hostile, BadBootSectors)
{
    const auto good = testdisk::read_sector(0);
    struct Patch {
        uint32_t ofs;
        std::initializer_list<uint8_t> bytes;
    };
    const Patch patches[] = {
        {11, {0x00, 0x04}},             // 1024-byte sectors
        {13, {0}},                      // no sectors per cluster
        {13, {3}},                      // not a power of two
        {16, {0}},                      // no FAT
        {14, {0, 0}},                   // no reserved sectors
        {510, {0, 0}},                  // no signature
        {32, {0xFF, 0xFF, 0xFF, 0x7F}}, // bigger than the disk
        {36, {0, 0, 0, 0}},             // FAT size 0
        {36, {1, 0, 0, 0}},             // FAT too small for the clusters
        {44, {0xFF, 0xFF, 0xFF, 0x0F}}, // root cluster out of range
        {0, {0}},                       // no jump instruction
    };
    for (const Patch& p : patches) {
        testdisk::write_sector(0, good);
        poke(p.ofs, p.bytes);
        EXPECT_EQ(f_mount(&fs, "", 1), FR_NO_FILESYSTEM) << "offset " << p.ofs;
    }
    testdisk::write_sector(0, good);
    EXPECT_EQ(f_mount(&fs, "", 1), FR_OK);
}

// Seeded mutations of the boot sector, FAT and directory sectors; every
// call may fail but must return.
TEST_F(Hostile, MutatedImagesNeverCrashOrHang)
{
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    for (int i = 0; i < 4; i++) {
        ASSERT_EQ(
            fathelp::append_record("SUB/LOG" + std::to_string(i) + ".TXT", std::string(700 * i + 1, 'l')),
            FR_OK);
    }
    f_mount(nullptr, "", 0);
    const auto pristine = testdisk::sectors();
    const uint32_t hot[] = {0,
                            1,
                            fat_start / 512,
                            fat_start / 512 + 1,
                            data_start / 512,
                            data_start / 512 + 7,
                            (data_start + (data_start - fat_start) / 2) / 512};
    std::mt19937 rng(20240315);
    const int iterations = 400;
    for (int it = 0; it < iterations; it++) {
        testdisk::sectors() = pristine;
        const int mutations = 1 + static_cast<int>(rng() % 6);
        for (int m = 0; m < mutations; m++) {
            const uint32_t sect = hot[rng() % std::size(hot)];
            const uint32_t ofs = sect * 512 + rng() % 512;
            switch (rng() % 4) {
            case 0:
                poke(ofs, {static_cast<uint8_t>(rng())});
                break;
            case 1:
                poke(ofs, {static_cast<uint8_t>(1u << (rng() % 8))});
                break;
            case 2:
                poke32(ofs & ~3u, rng() % 16); // small cluster numbers: loops and cross-links
                break;
            default:
                poke32(ofs & ~3u, 0xFFFFFFFFu - rng() % 16);
                break;
            }
        }
        if (f_mount(&fs, "", 1) != FR_OK) {
            continue;
        }
        // Walk the tree, read every file, then change things.
        std::string got;
        std::vector<std::string> dirs{"/"};
        for (size_t d = 0; d < dirs.size() && d < 20; d++) {
            DIR dj;
            if (f_opendir(&dj, dirs[d].c_str()) != FR_OK) {
                continue;
            }
            FILINFO fi;
            for (int e = 0; e < 100 && f_readdir(&dj, &fi) == FR_OK && fi.fname[0]; e++) {
                const std::string p = dirs[d] + fi.fname;
                if (fi.fattrib & AM_DIR) {
                    dirs.push_back(p + "/");
                } else {
                    FIL f;
                    if (f_open(&f, p.c_str(), FA_READ) == FR_OK) {
                        char buf[1024];
                        UINT n = 0;
                        for (int r = 0; r < 8 && f_read(&f, buf, sizeof buf, &n) == FR_OK && n > 0; r++) {
                        }
                        f_close(&f);
                    }
                }
            }
        }
        fathelp::append_record("SUB/LOG1.TXT", std::string(300, 'n'));
        fathelp::append_record("NEW.TXT", "new");
        f_mkdir("SUB/D2");
        f_rename("FILE.BIN", "SUB/MOVED.BIN");
        f_unlink("SUB/LOG2.TXT");
        DWORD nfree;
        FATFS* pfs;
        f_getfree("", &nfree, &pfs);
    }
}

} // namespace
