// A file that fills the volume: writing and seeking to exactly full and one
// byte past give FR_OK (with fewer bytes past the end), the directory entry
// records the size, nothing leaks, and fsck.fat finds nothing to repair.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

namespace {

struct FullLayout {
    int fat_bits;
    uint32_t size_kib;
    int spc;
    const char* label;
};

class Full : public ::testing::TestWithParam<FullLayout> {
  protected:
    tools::TempDir tmp;
    std::string img = tmp.path("card.img");
    FATFS fs{};
    DWORD free0 = 0;  // free clusters of the empty volume
    DWORD cbytes = 0; // bytes per cluster

    void SetUp() override
    {
        const FullLayout& l = GetParam();
        tools::make_image(img, {l.fat_bits, l.size_kib, l.spc, 0, ""});
        testdisk::load_image(img);
        ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
        FATFS* pfs = nullptr;
        ASSERT_EQ(f_getfree("", &free0, &pfs), FR_OK);
        cbytes = pfs->csize * 512u;
    }
    void TearDown() override { f_mount(nullptr, "", 0); }

    DWORD free_now()
    {
        DWORD n = 0;
        FATFS* pfs = nullptr;
        EXPECT_EQ(f_getfree("", &n, &pfs), FR_OK);
        return n;
    }
    uint64_t capacity() const { return uint64_t{free0} * cbytes; }

    // Checks the file's entry and content after a remount, then fsck.fat,
    // then that deleting it gives every cluster back.
    void expect_full_file(const std::string& name, uint64_t size, char fill)
    {
        ASSERT_EQ(f_mount(&fs, "", 1), FR_OK); // a reset: nothing cached
        FILINFO fi;
        ASSERT_EQ(f_stat(name.c_str(), &fi), FR_OK);
        EXPECT_EQ(fi.fsize, size);
        std::string got;
        ASSERT_EQ(fathelp::read_all(name, &got), FR_OK);
        ASSERT_EQ(got.size(), size);
        EXPECT_EQ(got.find_first_not_of(fill), std::string::npos);
        EXPECT_EQ(free_now(), 0u);
        testdisk::save_image(img);
        tools::Result r = tools::fsck(img, 0);
        EXPECT_EQ(r.rc, 0) << r.out;
        EXPECT_EQ(r.out.find("Reclaimed"), std::string::npos) << r.out;
        ASSERT_EQ(f_unlink(name.c_str()), FR_OK);
        EXPECT_EQ(free_now(), free0);
        testdisk::save_image(img);
        r = tools::fsck(img, 0);
        EXPECT_EQ(r.rc, 0) << r.out;
    }
};

TEST_P(Full, WriteToExactlyFullThenOneBytePast)
{
    const std::string all(capacity(), 'w');
    FIL f;
    ASSERT_EQ(f_open(&f, "FULL.BIN", FA_CREATE_ALWAYS | FA_WRITE), FR_OK);
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, all.data(), static_cast<UINT>(all.size()), &bw), FR_OK);
    EXPECT_EQ(bw, all.size());
    EXPECT_EQ(free_now(), 0u);
    // One byte past the end of the volume: accepted, nothing written.
    ASSERT_EQ(f_write(&f, "w", 1, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    ASSERT_EQ(f_write(&f, "w", 1, &bw), FR_OK); // and again: the condition does not stick as an error
    EXPECT_EQ(bw, 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    expect_full_file("FULL.BIN", capacity(), 'w');
}

TEST_P(Full, OneWriteLargerThanTheVolume)
{
    const std::string all(capacity() + 1, 'l');
    FIL f;
    ASSERT_EQ(f_open(&f, "LARGE.BIN", FA_CREATE_ALWAYS | FA_WRITE), FR_OK);
    UINT bw = 0;
    ASSERT_EQ(f_write(&f, all.data(), static_cast<UINT>(all.size()), &bw), FR_OK);
    EXPECT_EQ(bw, capacity());
    ASSERT_EQ(f_close(&f), FR_OK);
    expect_full_file("LARGE.BIN", capacity(), 'l');
}

TEST_P(Full, AppendsUntilFull)
{
    // The logging pattern: open, seek to the end, write, close, until a
    // write comes back short (about 40 records, not cluster-aligned).
    const std::string rec(capacity() / 40 + 123, 'r');
    uint64_t total = 0;
    for (int guard = 0; guard < 100000; guard++) {
        FIL f;
        ASSERT_EQ(f_open(&f, "LOG.TXT", FA_OPEN_ALWAYS | FA_WRITE), FR_OK);
        ASSERT_EQ(f_lseek(&f, f.fsize), FR_OK);
        UINT bw = 0;
        ASSERT_EQ(f_write(&f, rec.data(), static_cast<UINT>(rec.size()), &bw), FR_OK);
        ASSERT_EQ(f_close(&f), FR_OK);
        total += bw;
        if (bw < rec.size()) {
            break;
        }
    }
    EXPECT_EQ(total, capacity());
    expect_full_file("LOG.TXT", capacity(), 'r');
}

TEST_P(Full, SeekToExactlyFullThenOneBytePast)
{
    FIL f;
    ASSERT_EQ(f_open(&f, "SEEK.BIN", FA_CREATE_ALWAYS | FA_WRITE | FA_READ), FR_OK);
    ASSERT_EQ(f_lseek(&f, capacity()), FR_OK);
    EXPECT_EQ(f.fptr, capacity());
    EXPECT_EQ(f.fsize, capacity());
    ASSERT_EQ(f_lseek(&f, capacity() + 1), FR_OK); // the extension stops at the full volume
    EXPECT_EQ(f.fptr, capacity());
    EXPECT_EQ(f.fsize, capacity());
    ASSERT_EQ(f_close(&f), FR_OK);
    expect_full_file("SEEK.BIN", capacity(), '\0');

    // Seeking one byte past straight from an empty file.
    ASSERT_EQ(f_open(&f, "SEEK2.BIN", FA_CREATE_ALWAYS | FA_WRITE), FR_OK);
    ASSERT_EQ(f_lseek(&f, capacity() + 1), FR_OK);
    EXPECT_EQ(f.fptr, capacity());
    ASSERT_EQ(f_close(&f), FR_OK);
    expect_full_file("SEEK2.BIN", capacity(), '\0');
}

// FAT12: 160 KiB has no FAT entry that straddles two sectors, so one file
// can own every cluster; 2 MiB has some, which the allocator leaves alone
// and the free count leaves out.  FAT16: one file owns every cluster (the
// root directory lies outside the data area).  FAT32: the root directory
// holds a cluster.
INSTANTIATE_TEST_SUITE_P(Layouts, Full,
                         ::testing::Values(FullLayout{12, 160, 1, "FAT12_small"},
                                           FullLayout{12, 2048, 1, "FAT12_straddling"},
                                           FullLayout{16, 8192, 1, "FAT16"},
                                           FullLayout{16, 16384, 4, "FAT16_2K"},
                                           FullLayout{32, 40960, 1, "FAT32"}),
                         [](const ::testing::TestParamInfo<FullLayout>& i) { return i.param.label; });

} // namespace
