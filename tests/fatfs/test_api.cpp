// Behaviour seen by the firmware's callers: result codes for names, paths,
// modes and object states; seeking, truncating and full volumes; the free
// count after an unclean power-off.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

namespace {

class Api : public ::testing::Test {
  protected:
    tools::TempDir tmp;
    std::string img = tmp.path("card.img");
    FATFS fs{};

    void fresh(int fat_bits, uint32_t kib, int spc = 1, const std::string& extra = "")
    {
        tools::make_image(img, {fat_bits, kib, spc, 0, extra});
        testdisk::load_image(img);
        testdisk::set_present(true);
        testdisk::set_write_protect(false);
        ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    }
    void TearDown() override
    {
        f_mount(nullptr, "", 0);
        testdisk::set_present(true);
        testdisk::set_write_protect(false);
    }
    void expect_fsck_clean()
    {
        testdisk::save_image(img);
        tools::Result r = tools::fsck(img, 0);
        EXPECT_EQ(r.rc, 0) << r.out;
    }
};

TEST_F(Api, NamesAndPaths)
{
    fresh(16, 8192);
    ASSERT_EQ(fathelp::write_all("Error.txt", "x"), FR_OK);
    std::string got;
    EXPECT_EQ(fathelp::read_all("ERROR.TXT", &got), FR_OK); // stored upper case, matched in any case
    EXPECT_EQ(fathelp::read_all("0:error.TXT", &got), FR_OK);
    EXPECT_EQ(fathelp::read_all("//error.txt", &got), FR_OK); // the shell may build "//x"
    FILINFO fi;
    ASSERT_EQ(f_stat("error.txt", &fi), FR_OK);
    EXPECT_STREQ(fi.fname, "ERROR.TXT");
    EXPECT_EQ(fi.fsize, 1u);
    EXPECT_EQ(fi.fattrib, AM_ARC);
    EXPECT_EQ(fi.fdate, ((2024 - 1980) << 9) | (3 << 5) | 15);

    for (const char* bad :
         {"A*B.TXT", "NINECHARS.TXT", "A.TOOL", ".", "..", "A..B", "A B", "A+B", "X.Y.Z", "/"}) {
        EXPECT_EQ(fathelp::write_all(bad, "x"), FR_INVALID_NAME) << bad;
    }
    EXPECT_EQ(f_mkdir("/"), FR_EXIST);
    EXPECT_EQ(f_unlink("/"), FR_INVALID_NAME);
    EXPECT_EQ(fathelp::write_all("1:A.TXT", "x"), FR_INVALID_DRIVE);
    // A drive number in the new name of a rename is ignored.
    ASSERT_EQ(f_rename("error.txt", "0:/E2.TXT"), FR_OK);
    ASSERT_EQ(f_rename("0:E2.TXT", "1:E3.TXT"), FR_OK);
    ASSERT_EQ(f_rename("E3.TXT", "ERROR.TXT"), FR_OK);
    EXPECT_EQ(f_stat("E2.TXT", &fi), FR_NO_FILE);
    EXPECT_EQ(f_rename("ERROR.TXT", nullptr), FR_INVALID_PARAMETER);
    EXPECT_EQ(fathelp::read_all("NONE.TXT", &got), FR_NO_FILE);
    EXPECT_EQ(fathelp::read_all("NODIR/A.TXT", &got), FR_NO_PATH);
    EXPECT_EQ(fathelp::write_all("ERROR.TXT/A.TXT", "x"), FR_NO_PATH); // a file is no directory
    DIR d;
    EXPECT_EQ(f_opendir(&d, "NODIR"), FR_NO_PATH);
    EXPECT_EQ(f_opendir(&d, ""), FR_OK); // the shell's cd to the empty path
    EXPECT_EQ(f_opendir(&d, "ERROR.TXT"), FR_NO_PATH);
    expect_fsck_clean();
}

TEST_F(Api, ModesAndObjectStates)
{
    FIL f{};
    UINT n = 0;
    char buf[8];
    EXPECT_EQ(f_open(&f, "A.TXT", FA_READ), FR_NOT_ENABLED);
    fresh(16, 8192);
    ASSERT_EQ(fathelp::write_all("A.TXT", "hello"), FR_OK);
    EXPECT_EQ(fathelp::write_all("A.TXT", "x", FA_CREATE_NEW | FA_WRITE), FR_EXIST);
    ASSERT_EQ(f_mkdir("D"), FR_OK);
    EXPECT_EQ(f_mkdir("d"), FR_EXIST);
    EXPECT_EQ(f_open(&f, "D", FA_READ), FR_NO_FILE);
    EXPECT_EQ(f_open(&f, "D", FA_OPEN_ALWAYS | FA_WRITE), FR_DENIED);
    ASSERT_EQ(fathelp::write_all("D/IN.TXT", "x"), FR_OK);
    EXPECT_EQ(f_unlink("D"), FR_DENIED); // not empty
    EXPECT_EQ(f_rename("D", "D/SUB"), FR_INVALID_NAME);
    EXPECT_EQ(f_rename("A.TXT", "D/IN.TXT"), FR_EXIST);

    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    EXPECT_EQ(f_write(&f, "x", 1, &n), FR_DENIED);
    EXPECT_EQ(f_truncate(&f), FR_DENIED);
    EXPECT_EQ(f_lseek(&f, 100), FR_OK); // read-only: stops at the end
    EXPECT_EQ(f.fptr, 5u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_read(&f, buf, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_close(&f), FR_INVALID_OBJECT);

    // A file object that never opened is refused, as the logging layer expects.
    FIL never{};
    EXPECT_EQ(f_open(&never, "NODIR/X.TXT", FA_OPEN_ALWAYS | FA_WRITE), FR_NO_PATH);
    EXPECT_EQ(f_write(&never, "x", 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_close(&never), FR_INVALID_OBJECT);

    // Registering the volume again makes older objects stale.
    ASSERT_EQ(f_open(&f, "A.TXT", FA_READ), FR_OK);
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    EXPECT_EQ(f_read(&f, buf, 1, &n), FR_INVALID_OBJECT);

    // Media states.
    testdisk::set_write_protect(true);
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    EXPECT_EQ(fathelp::write_all("B.TXT", "x"), FR_WRITE_PROTECTED);
    std::string got;
    EXPECT_EQ(fathelp::read_all("A.TXT", &got), FR_OK);
    testdisk::set_write_protect(false);
    testdisk::set_present(false);
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK); // delayed: the card is first touched later
    EXPECT_EQ(fathelp::read_all("A.TXT", &got), FR_NOT_READY);
    EXPECT_EQ(f_mount(&fs, "", 1), FR_NOT_READY);
    testdisk::set_present(true);
    EXPECT_EQ(fathelp::read_all("A.TXT", &got), FR_OK);
    EXPECT_EQ(got, "hello");
    expect_fsck_clean();
}

TEST_F(Api, SeekTruncateAndExtend)
{
    fresh(32, 40960, 1);
    FIL f;
    UINT n;
    ASSERT_EQ(f_open(&f, "S.BIN", FA_CREATE_ALWAYS | FA_WRITE | FA_READ), FR_OK);
    ASSERT_EQ(f_write(&f, "abc", 3, &n), FR_OK);
    ASSERT_EQ(f_lseek(&f, 2000), FR_OK); // past the end of a writable file: zero-filled
    EXPECT_EQ(f.fsize, 2000u);
    ASSERT_EQ(f_write(&f, "Z", 1, &n), FR_OK);
    ASSERT_EQ(f_lseek(&f, 1), FR_OK);
    char buf[2100];
    ASSERT_EQ(f_read(&f, buf, sizeof buf, &n), FR_OK);
    ASSERT_EQ(n, 2000u);
    EXPECT_EQ(std::string(buf, 2), "bc");
    EXPECT_EQ(std::string(buf + 2, 1997), std::string(1997, '\0'));
    EXPECT_EQ(buf[1999], 'Z');
    ASSERT_EQ(f_lseek(&f, 1024), FR_OK); // exactly on a cluster boundary
    ASSERT_EQ(f_truncate(&f), FR_OK);
    EXPECT_EQ(f_size(&f), 1024u);
    ASSERT_EQ(f_write(&f, "tail", 4, &n), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    std::string got;
    ASSERT_EQ(fathelp::read_all("S.BIN", &got), FR_OK);
    EXPECT_EQ(got.size(), 1028u);
    EXPECT_EQ(got.substr(1024), "tail");
    ASSERT_EQ(fathelp::write_all("S.BIN", ""), FR_OK); // create-always empties it
    ASSERT_EQ(fathelp::read_all("S.BIN", &got), FR_OK);
    EXPECT_TRUE(got.empty());
    expect_fsck_clean();
}

TEST_F(Api, FullVolumeAndFullRootDirectory)
{
    fresh(12, 1024, 1, "-r 16"); // 16 root entries
    FIL f;
    ASSERT_EQ(f_open(&f, "BIG.BIN", FA_CREATE_ALWAYS | FA_WRITE), FR_OK);
    std::string chunk(10000, 'q');
    UINT n = 0;
    UINT total = 0;
    do {
        ASSERT_EQ(f_write(&f, chunk.data(), static_cast<UINT>(chunk.size()), &n), FR_OK);
        total += n;
    } while (n == chunk.size());
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_GT(total, 900u * 1024);
    EXPECT_EQ(f_mkdir("NOROOM"), FR_DENIED);
    DWORD nfree = 1;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    // Clusters whose FAT12 entry straddles two sectors stay free but are not
    // counted: the allocator never hands them out.
    EXPECT_EQ(nfree, 0u);
    ASSERT_EQ(f_unlink("BIG.BIN"), FR_OK);
    for (int i = 0; i < 16; i++) {
        ASSERT_EQ(fathelp::write_all("F" + std::to_string(i), "x"), FR_OK);
    }
    EXPECT_EQ(fathelp::write_all("F16", "x"), FR_DENIED);
    expect_fsck_clean();
}

TEST_F(Api, Fat12StraddlingClustersOfOtherSystemsFreedButNotCounted)
{
    fresh(12, 2048, 1);
    f_mount(nullptr, "", 0);
    // mtools allocates every cluster in turn, straddling ones included.
    tools::write_file(tmp.path("big.bin"), std::string(400 * 512, 'm'));
    ASSERT_EQ(tools::run("mcopy -i " + img + " " + tmp.path("big.bin") + " ::/BIG.BIN").rc, 0);
    testdisk::load_image(img);
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    DWORD before = 0;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &before, &pfs), FR_OK);
    const DWORD straddling = fathelp::free_straddling(pfs);
    ASSERT_EQ(f_unlink("BIG.BIN"), FR_OK);
    ASSERT_GT(fathelp::free_straddling(pfs), straddling); // the file held one
    DWORD kept = 0;
    ASSERT_EQ(f_getfree("", &kept, &pfs), FR_OK);
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    DWORD counted = 0;
    ASSERT_EQ(f_getfree("", &counted, &pfs), FR_OK);
    EXPECT_EQ(kept, counted); // the running count agrees with a fresh count
    EXPECT_EQ(kept, before + 400 - (fathelp::free_straddling(pfs) - straddling));
    expect_fsck_clean();
}

TEST_F(Api, FreeCountIgnoresStaleFsinfo)
{
    fresh(32, 40960, 1);
    DWORD before = 0;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &before, &pfs), FR_OK);
    ASSERT_EQ(fathelp::write_all("A.BIN", std::string(5000, 'a')), FR_OK);
    // An unclean power-off left an old count behind in FSInfo.
    f_mount(nullptr, "", 0);
    auto fsinfo = testdisk::read_sector(1);
    fsinfo[488] = 0x34;
    fsinfo[489] = 0x12;
    fsinfo[490] = 0;
    fsinfo[491] = 0;
    testdisk::write_sector(1, fsinfo);
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    DWORD after = 0;
    ASSERT_EQ(f_getfree("", &after, &pfs), FR_OK);
    EXPECT_EQ(after, before - 10);
    // The first FAT change of the session withdraws the FSInfo count.
    ASSERT_EQ(fathelp::append_record("A.BIN", std::string(1000, 'm')), FR_OK);
    EXPECT_EQ(testdisk::read_sector(1)[488], 0xFF);
    expect_fsck_clean();
}

} // namespace
