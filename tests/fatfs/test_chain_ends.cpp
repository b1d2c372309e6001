// Where a cluster chain ends: every end-of-chain value (…FF8 to …FFF, the
// whole range other systems write) ends a file, the value below it (bad
// cluster) does not; the last cluster of the FAT is a valid link, the
// cluster number one past it is a corrupt chain.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

namespace {

struct EndLayout {
    int fat_bits;
    uint32_t size_kib;
};

class ChainEnds : public ::testing::TestWithParam<EndLayout> {
  protected:
    tools::TempDir tmp;
    std::string img = tmp.path("card.img");
    FATFS fs{};
    FATFS geo{}; // the volume's layout, kept while it is not mounted
    std::string content;
    DWORD cbytes = 0;
    DWORD free_with_file = 0;
    std::vector<DWORD> chain; // FILE.BIN's clusters

    void SetUp() override
    {
        tools::make_image(img, {GetParam().fat_bits, GetParam().size_kib, 1, 0, ""});
        testdisk::load_image(img);
        ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
        geo = fs;
        cbytes = fs.csize * 512u;
        for (DWORD i = 0; i < 3 * cbytes - 100; i++) {
            content.push_back(static_cast<char>('a' + i % 23));
        }
        ASSERT_EQ(fathelp::write_all("FILE.BIN", content), FR_OK);
        ASSERT_EQ(fathelp::write_all("OTHER.BIN", "other"), FR_OK);
        FATFS* pfs;
        ASSERT_EQ(f_getfree("", &free_with_file, &pfs), FR_OK);
        FIL f;
        ASSERT_EQ(f_open(&f, "FILE.BIN", FA_READ), FR_OK);
        for (DWORD c = f.sclust; chain.size() < 3; c = fat_get(c)) {
            chain.push_back(c);
        }
        f_close(&f);
        f_mount(nullptr, "", 0);
    }
    void TearDown() override { f_mount(nullptr, "", 0); }

    DWORD eoc_base() const
    {
        return geo.fs_type == FS_FAT12 ? 0xFF8 : geo.fs_type == FS_FAT16 ? 0xFFF8 : 0x0FFFFFF8;
    }
    // Byte offset of cluster c's entry within a FAT copy.
    DWORD entry_ofs(DWORD c) const
    {
        return geo.fs_type == FS_FAT12 ? c + c / 2 : geo.fs_type == FS_FAT16 ? c * 2 : c * 4;
    }
    uint8_t byte_at(DWORD sect_base, DWORD ofs) const
    {
        return testdisk::read_sector(sect_base + ofs / 512)[ofs % 512];
    }
    void set_byte(DWORD sect_base, DWORD ofs, uint8_t v) const
    {
        auto s = testdisk::read_sector(sect_base + ofs / 512);
        s[ofs % 512] = v;
        testdisk::write_sector(sect_base + ofs / 512, s);
    }
    DWORD fat_get(DWORD c) const
    {
        const DWORD o = entry_ofs(c);
        DWORD v = 0;
        for (int i = geo.fs_type == FS_FAT32 ? 3 : 1; i >= 0; i--) {
            v = (v << 8) | byte_at(geo.fatbase, o + i);
        }
        if (geo.fs_type == FS_FAT12) {
            v = (c & 1) ? (v >> 4) : (v & 0xFFF);
        }
        return geo.fs_type == FS_FAT32 ? v & 0x0FFFFFFF : v;
    }
    // Writes the raw entry value into every FAT copy.
    void fat_set(DWORD c, DWORD v) const
    {
        const DWORD o = entry_ofs(c);
        for (DWORD copy = 0; copy < geo.n_fats; copy++) {
            const DWORD base = geo.fatbase + copy * geo.fsize;
            if (geo.fs_type == FS_FAT12) {
                const uint8_t lo = byte_at(base, o);
                const uint8_t hi = byte_at(base, o + 1);
                if (c & 1) {
                    set_byte(base, o, static_cast<uint8_t>((lo & 0x0F) | ((v << 4) & 0xF0)));
                    set_byte(base, o + 1, static_cast<uint8_t>(v >> 4));
                } else {
                    set_byte(base, o, static_cast<uint8_t>(v));
                    set_byte(base, o + 1, static_cast<uint8_t>((hi & 0xF0) | ((v >> 8) & 0x0F)));
                }
            } else {
                for (int i = 0; i < (geo.fs_type == FS_FAT32 ? 4 : 2); i++) {
                    set_byte(base, o + i, static_cast<uint8_t>(v >> (8 * i)));
                }
            }
        }
    }
    DWORD first_sector(DWORD c) const { return geo.database + (c - 2) * geo.csize; }

    DWORD free_now()
    {
        DWORD n = 0;
        FATFS* pfs;
        EXPECT_EQ(f_getfree("", &n, &pfs), FR_OK);
        return n;
    }
    void expect_fsck_clean()
    {
        testdisk::save_image(img);
        tools::Result r = tools::fsck(img, 0);
        EXPECT_EQ(r.rc, 0) << r.out;
    }
};

TEST_P(ChainEnds, EveryEndOfChainValueEndsTheFile)
{
    const auto pristine = testdisk::sectors();
    std::vector<DWORD> values;
    for (DWORD i = 0; i < 8; i++) {
        values.push_back(eoc_base() + i);
    }
    if (GetParam().fat_bits == 32) {
        values.push_back(0xFFFFFFF8); // the top four bits are reserved and ignored
        values.push_back(0x7FFFFFFF);
    }
    for (DWORD v : values) {
        SCOPED_TRACE("end of chain 0x" + [v] {
            char b[16];
            std::snprintf(b, sizeof b, "%X", v);
            return std::string(b);
        }());
        testdisk::sectors() = pristine;
        fat_set(chain[2], v);
        ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
        std::string got;
        ASSERT_EQ(fathelp::read_all("FILE.BIN", &got), FR_OK);
        EXPECT_TRUE(got == content);
        // Appending links a new cluster where the marker was.
        const std::string more(2 * cbytes, 'm');
        ASSERT_EQ(fathelp::append_record("FILE.BIN", more), FR_OK);
        ASSERT_EQ(fathelp::read_all("FILE.BIN", &got), FR_OK);
        EXPECT_TRUE(got == content + more);
        EXPECT_EQ(free_now(), free_with_file - 2);
        expect_fsck_clean();
        ASSERT_EQ(f_unlink("FILE.BIN"), FR_OK);
        EXPECT_EQ(free_now(), free_with_file + 3); // nothing leaked
        expect_fsck_clean();
        f_mount(nullptr, "", 0);
    }

    // One below the range marks a bad cluster: a corrupt chain.
    testdisk::sectors() = pristine;
    fat_set(chain[2], eoc_base() - 1);
    ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
    std::string got;
    EXPECT_EQ(fathelp::read_all("FILE.BIN", &got), FR_OK); // the size ends inside the last cluster
    EXPECT_EQ(fathelp::append_record("FILE.BIN", std::string(cbytes, 'x')), FR_INT_ERR);
    EXPECT_EQ(f_unlink("FILE.BIN"), FR_INT_ERR);
}

TEST_P(ChainEnds, LastClusterOfTheFatIsALinkOnePastItIsCorrupt)
{
    const DWORD end = geo.n_fatent; // first cluster number past the FAT's clusters
    const DWORD last = end - 1;
    const auto data = testdisk::read_sector(first_sector(chain[1]));
    const auto pristine = testdisk::sectors();

    // The middle cluster moved to the last cluster of the volume.
    testdisk::write_sector(first_sector(last), data);
    fat_set(last, chain[2]);
    fat_set(chain[0], last);
    fat_set(chain[1], 0);
    ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
    std::string got;
    ASSERT_EQ(fathelp::read_all("FILE.BIN", &got), FR_OK);
    EXPECT_TRUE(got == content);
    ASSERT_EQ(fathelp::append_record("FILE.BIN", "tail"), FR_OK);
    expect_fsck_clean();
    ASSERT_EQ(f_unlink("FILE.BIN"), FR_OK);
    EXPECT_EQ(free_now(), free_with_file + 3);
    expect_fsck_clean();
    f_mount(nullptr, "", 0);

    // A link to the cluster number one past the last.  The disk goes on
    // beyond the volume and the FAT's unused tail continues the chain, so
    // following such a link would read plausible data.
    testdisk::sectors() = pristine;
    testdisk::set_sector_count(testdisk::sector_count() + 64);
    testdisk::write_sector(first_sector(end), data);
    if (entry_ofs(end) + 4 <= geo.fsize * 512) {
        fat_set(end, chain[2]);
    }
    fat_set(chain[0], end);
    ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
    EXPECT_EQ(fathelp::read_all("FILE.BIN", &got), FR_INT_ERR);
    EXPECT_EQ(fathelp::append_record("FILE.BIN", "tail"), FR_INT_ERR);
    FIL f;
    ASSERT_EQ(f_open(&f, "FILE.BIN", FA_WRITE), FR_OK);
    EXPECT_EQ(f_lseek(&f, 2 * cbytes + 1), FR_INT_ERR);
    f_close(&f);
    EXPECT_EQ(f_unlink("FILE.BIN"), FR_INT_ERR); // the entry goes, the chain stays unreferenced
    EXPECT_EQ(fathelp::read_all("OTHER.BIN", &got), FR_OK);
    EXPECT_EQ(got, "other");
    f_mount(nullptr, "", 0);

    // The same number as a file's first cluster.
    testdisk::sectors() = pristine;
    ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
    ASSERT_EQ(f_open(&f, "FILE.BIN", FA_READ), FR_OK);
    const DWORD dsect = f.dir_sect;
    const DWORD dofs = f.dir_ofs;
    f_close(&f);
    f_mount(nullptr, "", 0);
    set_byte(dsect, dofs + 26, static_cast<uint8_t>(end));
    set_byte(dsect, dofs + 27, static_cast<uint8_t>(end >> 8));
    set_byte(dsect, dofs + 20, static_cast<uint8_t>(end >> 16));
    set_byte(dsect, dofs + 21, static_cast<uint8_t>(end >> 24));
    ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
    EXPECT_EQ(f_open(&f, "FILE.BIN", FA_READ), FR_INT_ERR);
    EXPECT_EQ(fathelp::append_record("FILE.BIN", "tail"), FR_INT_ERR);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ChainEnds,
                         ::testing::Values(EndLayout{12, 2048}, EndLayout{16, 8192}, EndLayout{32, 40960}),
                         [](const ::testing::TestParamInfo<EndLayout>& i) {
                             return "FAT" + std::to_string(i.param.fat_bits);
                         });

} // namespace
