// Interchange with dosfstools and mtools: images made by mkfs.fat mount and
// read, files written by mcopy read back, files written by this module are
// seen by mdir/mtype, and fsck.fat finds nothing to repair.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Layout {
    int fat_bits;
    uint32_t size_kib;
    int spc;
    uint32_t part_start;
};

std::string pattern(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) {
        c = static_cast<char>(rng());
    }
    return s;
}

class CrossCheck : public ::testing::TestWithParam<Layout> {
  protected:
    tools::TempDir tmp;
    std::string img = tmp.path("card.img");
    FATFS fs{};

    void SetUp() override
    {
        const Layout& l = GetParam();
        tools::make_image(img, {l.fat_bits, l.size_kib, l.spc, l.part_start, "-n VARVE"});
    }
    void TearDown() override { f_mount(nullptr, "", 0); }

    std::string mi() const { return tools::mimg(img, GetParam().part_start); }

    void mount_image()
    {
        testdisk::load_image(img);
        ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
    }

    void expect_fsck_clean()
    {
        tools::Result r = tools::fsck(img, GetParam().part_start);
        EXPECT_EQ(r.rc, 0) << r.out;
    }
};

TEST_P(CrossCheck, ReadsWhatMtoolsWroteAndMtoolsReadsWhatItWrote)
{
    const std::string small = "hello, card\r\n";
    const std::string big = pattern(70000, 1);
    const std::string inner = pattern(3000, 2);
    const std::string longf = pattern(1500, 3);
    tools::write_file(tmp.path("small.txt"), small);
    tools::write_file(tmp.path("big.bin"), big);
    tools::write_file(tmp.path("inner.txt"), inner);
    tools::write_file(tmp.path("longname_file.txt"), longf);
    for (const char* cmd : {"mcopy %I %T/small.txt ::/", "mcopy %I %T/big.bin ::/BIG.BIN", "mmd %I ::/sub",
                            "mcopy %I %T/inner.txt ::/sub/inner.txt", "mcopy %I %T/longname_file.txt ::/"}) {
        std::string c = cmd;
        c.replace(c.find("%I"), 2, mi());
        if (auto p = c.find("%T"); p != std::string::npos) {
            c.replace(p, 2, tmp.path(""));
        }
        tools::Result r = tools::run(c);
        ASSERT_EQ(r.rc, 0) << c << "\n" << r.out;
    }
    mount_image();

    std::map<std::string, fathelp::Entry> root;
    ASSERT_EQ(fathelp::list_dir("/", &root), FR_OK);
    ASSERT_EQ(root.size(), 4u); // label and long-name entries are not listed
    EXPECT_EQ(root["SMALL.TXT"].size, small.size());
    EXPECT_EQ(root["BIG.BIN"].size, big.size());
    EXPECT_TRUE(root["SUB"].attr & AM_DIR);
    ASSERT_TRUE(root.count("LONGNA~1.TXT"));

    std::string got;
    ASSERT_EQ(fathelp::read_all("small.txt", &got), FR_OK);
    EXPECT_EQ(got, small);
    ASSERT_EQ(fathelp::read_all("/BIG.BIN", &got), FR_OK);
    EXPECT_EQ(got, big);
    ASSERT_EQ(fathelp::read_all("0:/Sub/Inner.TXT", &got), FR_OK);
    EXPECT_EQ(got, inner);
    ASSERT_EQ(fathelp::read_all("LONGNA~1.TXT", &got), FR_OK);
    EXPECT_EQ(got, longf);

    // Changes made by the module.
    const std::string fresh = pattern(5000, 4);
    ASSERT_EQ(fathelp::write_all("NEW.TXT", fresh), FR_OK);
    ASSERT_EQ(f_mkdir("newdir"), FR_OK);
    std::string records;
    for (int i = 0; i < 50; i++) {
        std::string rec =
            "record " + std::to_string(i) + " " + std::string(180, static_cast<char>('a' + i % 26)) + "\r\n";
        ASSERT_EQ(fathelp::append_record("NEWDIR/DEEP.DAT", rec), FR_OK);
        records += rec;
    }
    ASSERT_EQ(f_rename("SMALL.TXT", "SUB/MOVED.TXT"), FR_OK);
    ASSERT_EQ(f_rename("/sub", "/SUBDIR"), FR_OK);
    ASSERT_EQ(f_unlink("LONGNA~1.TXT"), FR_OK);
    FIL f;
    ASSERT_EQ(f_open(&f, "BIG.BIN", FA_WRITE), FR_OK);
    ASSERT_EQ(f_lseek(&f, 1000), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    testdisk::save_image(img);

    expect_fsck_clean();
    tools::Result dir = tools::run("mdir -b -/ " + mi() + " ::/");
    ASSERT_EQ(dir.rc, 0) << dir.out;
    for (const char* name :
         {"::/NEW.TXT", "::/NEWDIR/DEEP.DAT", "::/SUBDIR/MOVED.TXT", "::/SUBDIR/inner.txt", "::/BIG.BIN"}) {
        EXPECT_NE(dir.out.find(name), std::string::npos) << name << " missing in\n" << dir.out;
    }
    EXPECT_EQ(dir.out.find("longname"), std::string::npos) << dir.out;
    EXPECT_EQ(dir.out.find("small"), std::string::npos) << dir.out;
    auto mtype = [&](const std::string& name) { return tools::run("mtype " + mi() + " " + name).out; };
    EXPECT_EQ(mtype("::/NEW.TXT"), fresh);
    EXPECT_EQ(mtype("::/NEWDIR/DEEP.DAT"), records);
    EXPECT_EQ(mtype("::/SUBDIR/MOVED.TXT"), small);
    EXPECT_EQ(mtype("::/SUBDIR/inner.txt"), inner);
    EXPECT_EQ(mtype("::/BIG.BIN"), big.substr(0, 1000));
}

TEST_P(CrossCheck, FreeSpaceMatchesFsck)
{
    mount_image();
    DWORD nfree = 0;
    FATFS* pfs = nullptr;
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    ASSERT_EQ(pfs, &fs);
    const std::string data = pattern(100000, 5);
    ASSERT_EQ(fathelp::write_all("A.BIN", data), FR_OK);
    DWORD after = 0;
    ASSERT_EQ(f_getfree("0:", &after, &pfs), FR_OK);
    const DWORD cbytes = pfs->csize * 512u;
    EXPECT_EQ(nfree - after, (data.size() + cbytes - 1) / cbytes);
    testdisk::save_image(img);
    // "<files>, <used>/<total> clusters" from fsck.fat agrees with the module.
    tools::Result r = tools::fsck(img, GetParam().part_start);
    ASSERT_EQ(r.rc, 0) << r.out;
    auto slash = r.out.rfind('/');
    auto comma = r.out.rfind(", ", slash);
    ASSERT_NE(slash, std::string::npos);
    const unsigned long used = std::stoul(r.out.substr(comma + 2, slash - comma - 2));
    const unsigned long total = std::stoul(r.out.substr(slash + 1));
    // fsck.fat also counts the FAT12 clusters the allocator leaves alone.
    EXPECT_EQ(GetParam().fat_bits == 12, fathelp::free_straddling(pfs) > 0);
    EXPECT_EQ(total - used, after + fathelp::free_straddling(pfs)) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Layouts, CrossCheck,
                         ::testing::Values(Layout{12, 2048, 1, 0}, Layout{12, 4096, 0, 63},
                                           Layout{16, 16384, 1, 0}, Layout{16, 20480, 4, 2048},
                                           Layout{32, 40960, 1, 0}, Layout{32, 65536, 1, 2048}),
                         [](const ::testing::TestParamInfo<Layout>& i) {
                             return "FAT" + std::to_string(i.param.fat_bits) +
                                    (i.param.part_start ? "_MBR" : "_Plain") + "_" + std::to_string(i.index);
                         });

} // namespace
