// Appends positioned with a kept end-of-file hint (f_gethint, f_open_hinted,
// f_lseek_end): the hint saves the chain walk while it describes the file,
// and any hint that no longer does (another file, a changed or replaced
// file, another volume, a damaged hint) falls back to the walk, so the
// append lands where the walk would put it.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

std::string hint_record(int i)
{
    std::string r = "#" + std::to_string(1000000 + i) + "\t2026/01/15 12:00:00\t7.9812";
    r.resize(150 + i % 61, static_cast<char>('a' + i % 26));
    return r + "\r\n";
}

struct HintLayout {
    int fat_bits;
    uint32_t size_kib;
    int spc;
    uint32_t part_start;
};

class Hint : public ::testing::TestWithParam<HintLayout> {
  protected:
    void SetUp() override
    {
        const HintLayout& l = GetParam();
        img_ = tmp_.path("card.img");
        tools::make_image(img_, {l.fat_bits, l.size_kib, l.spc, l.part_start, ""});
        testdisk::load_image(img_);
    }
    void TearDown() override { f_mount(nullptr, "", 0); }

    // One wake: a fresh mount and the hinted append of record i.
    FRESULT wake_append(const std::string& path, int i)
    {
        f_mount(&fs_, "", 0);
        return fathelp::append_hinted(path, hint_record(i), &hint_, &have_);
    }

    void expect_clean()
    {
        f_mount(nullptr, "", 0);
        testdisk::save_image(img_);
        tools::Result r = tools::fsck(img_, GetParam().part_start);
        EXPECT_EQ(r.rc, 0) << r.out;
        testdisk::load_image(img_);
        f_mount(&fs_, "", 0);
    }

    tools::TempDir tmp_;
    std::string img_;
    FATFS fs_;
    FFHINT hint_{};
    bool have_ = false;
};

// A long, fragmented data file (its clusters interleaved with another
// file's): hinted appends read a fixed number of sectors, the content is
// what was appended, and fsck.fat is clean.
TEST_P(Hint, AppendsReadFlatAndLandWhereTheWalkWould)
{
    std::string expected;
    uint64_t first_reads = 0;
    for (int i = 0; i < 600; i++) {
        testdisk::reset_counters();
        ASSERT_EQ(wake_append("DATA.TXT", i), FR_OK);
        expected += hint_record(i);
        if (i == 5) {
            first_reads = testdisk::counters().sectors_read;
        }
        ASSERT_EQ(fathelp::append_record("LOG.TXT", hint_record(i)), FR_OK);
    }
    // The same record shape as at the start, at the end of a chain of
    // hundreds of clusters.
    uint64_t max_reads = 0;
    for (int i = 600; i < 640; i++) {
        testdisk::reset_counters();
        ASSERT_EQ(wake_append("DATA.TXT", i), FR_OK);
        expected += hint_record(i);
        max_reads = std::max<uint64_t>(max_reads, testdisk::counters().sectors_read);
    }
    EXPECT_LE(first_reads, 5u);
    EXPECT_LE(max_reads, 8u); // 5, and 8 for a record that starts a cluster
    std::string got;
    ASSERT_EQ(fathelp::read_all("DATA.TXT", &got), FR_OK);
    EXPECT_EQ(got, expected);
    expect_clean();
}

// Hints that no longer describe the file: each append must still land at
// the file's end.
TEST_P(Hint, StaleHintsFallBackToTheWalk)
{
    std::string data, other;
    int n = 0;
    auto append_data = [&](bool hinted) {
        f_mount(&fs_, "", 0);
        const FRESULT res = hinted ? fathelp::append_hinted("DATA.TXT", hint_record(n), &hint_, &have_)
                                   : fathelp::append_record("DATA.TXT", hint_record(n));
        data += hint_record(n++);
        return res;
    };
    auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        std::string got;
        ASSERT_EQ(fathelp::read_all("DATA.TXT", &got), FR_OK);
        ASSERT_EQ(got, data);
        ASSERT_EQ(fathelp::read_all("OTHER.TXT", &got), FR_OK);
        ASSERT_EQ(got, other);
        expect_clean();
    };
    for (int i = 0; i < 40; i++) {
        ASSERT_EQ(append_data(true), FR_OK);
        other += hint_record(500 + i);
        ASSERT_EQ(fathelp::append_record("OTHER.TXT", hint_record(500 + i)), FR_OK);
    }
    const FFHINT old = hint_;

    // The file grew without the hint being kept (a cut before the store).
    for (int i = 0; i < 30; i++) {
        ASSERT_EQ(append_data(false), FR_OK);
    }
    hint_ = old;
    ASSERT_EQ(append_data(true), FR_OK);
    check("file grew since");

    // Another file's end.
    bool have_other = false;
    FFHINT other_hint{};
    f_mount(&fs_, "", 0);
    ASSERT_EQ(fathelp::append_hinted("OTHER.TXT", hint_record(900), &other_hint, &have_other), FR_OK);
    other += hint_record(900);
    hint_ = other_hint;
    ASSERT_EQ(append_data(true), FR_OK);
    check("another file's hint");

    // A damaged hint: every byte changed in turn.
    const FFHINT good = hint_;
    for (std::size_t b = 0; b < sizeof good; b++) {
        hint_ = good;
        reinterpret_cast<BYTE*>(&hint_)[b] ^= 0x5A;
        f_mount(&fs_, "", 0);
        FIL f;
        ASSERT_EQ(f_open_hinted(&f, "DATA.TXT", FA_READ | FA_WRITE | FA_OPEN_APPEND, &hint_), FR_OK) << b;
        EXPECT_EQ(f_tell(&f), data.size()) << b;
        ASSERT_EQ(f_close(&f), FR_OK);
    }
    hint_ = good;
    ASSERT_EQ(append_data(true), FR_OK);
    check("damaged hints");

    // The file replaced by one of the same size: deleted and written anew.
    const FFHINT before = hint_;
    ASSERT_EQ(f_unlink("DATA.TXT"), FR_OK);
    ASSERT_EQ(fathelp::append_record("FILL.TXT", std::string(3000, 'f')), FR_OK);
    ASSERT_EQ(fathelp::write_all("DATA.TXT", data), FR_OK);
    hint_ = before;
    ASSERT_EQ(append_data(true), FR_OK);
    check("file replaced");

    // The file moved into a directory (its chain, ending at the hinted
    // cluster, goes with it) and a new one made in its entry's place.
    const FFHINT moved = hint_;
    const std::string old_data = data;
    ASSERT_EQ(f_mkdir("OLD"), FR_OK);
    ASSERT_EQ(f_rename("DATA.TXT", "OLD/DATA.TXT"), FR_OK);
    data = std::string(2000, 'n') + "\r\n";
    ASSERT_EQ(fathelp::write_all("DATA.TXT", data), FR_OK);
    hint_ = moved;
    ASSERT_EQ(append_data(true), FR_OK);
    check("file moved, another in its place");
    std::string got;
    ASSERT_EQ(fathelp::read_all("OLD/DATA.TXT", &got), FR_OK);
    EXPECT_EQ(got, old_data);
}

namespace {

// Raw FAT access on the test disk (every copy), for changing a chain the
// way another system would.
struct RawFat {
    const FATFS& fs;

    uint32_t get(uint32_t c) const
    {
        auto at = [&](uint32_t o) { return testdisk::read_sector(fs.fatbase + o / 512)[o % 512]; };
        switch (fs.fs_type) {
        case FS_FAT12: {
            const uint32_t o = c + c / 2;
            const uint32_t w = at(o) | (at(o + 1) << 8);
            return (c & 1) ? w >> 4 : w & 0xFFF;
        }
        case FS_FAT16:
            return at(2 * c) | (at(2 * c + 1) << 8);
        default:
            return (at(4 * c) | (at(4 * c + 1) << 8) | (at(4 * c + 2) << 16) | (at(4 * c + 3) << 24)) &
                   0x0FFFFFFF;
        }
    }
    void put_byte(uint32_t o, uint8_t v, uint8_t mask) const
    {
        for (uint32_t k = 0; k < fs.n_fats; k++) {
            const uint32_t lba = fs.fatbase + k * fs.fsize + o / 512;
            auto s = testdisk::read_sector(lba);
            s[o % 512] = static_cast<uint8_t>((s[o % 512] & ~mask) | (v & mask));
            testdisk::write_sector(lba, s);
        }
    }
    void set(uint32_t c, uint32_t v) const
    {
        switch (fs.fs_type) {
        case FS_FAT12: {
            const uint32_t o = c + c / 2;
            if (c & 1) {
                put_byte(o, static_cast<uint8_t>(v << 4), 0xF0);
                put_byte(o + 1, static_cast<uint8_t>(v >> 4), 0xFF);
            } else {
                put_byte(o, static_cast<uint8_t>(v), 0xFF);
                put_byte(o + 1, static_cast<uint8_t>(v >> 8), 0x0F);
            }
            break;
        }
        case FS_FAT16:
            put_byte(2 * c, static_cast<uint8_t>(v), 0xFF);
            put_byte(2 * c + 1, static_cast<uint8_t>(v >> 8), 0xFF);
            break;
        default:
            for (uint32_t i = 0; i < 4; i++) {
                put_byte(4 * c + i, static_cast<uint8_t>(v >> (8 * i)), i == 3 ? 0x0F : 0xFF);
            }
        }
    }
    uint32_t eoc() const
    {
        return fs.fs_type == FS_FAT12 ? 0xFFF : fs.fs_type == FS_FAT16 ? 0xFFFF : 0x0FFFFFFF;
    }
    uint32_t first_sector(uint32_t c) const { return fs.database + (c - 2) * fs.csize; }
};

} // namespace

// Another system moved the file's last cluster (content, link and end
// mark) without touching the directory entry, and freed the old one: the
// entry still matches the hint, but the hinted cluster no longer ends the
// chain, so the append walks.  Using the hint would write the record into
// the freed cluster and lose it.
TEST_P(Hint, AChainChangedBehindTheEntryIsWalked)
{
    std::string data;
    for (int i = 0; i < 30; i++) {
        ASSERT_EQ(wake_append("DATA.TXT", i), FR_OK);
        data += hint_record(i);
    }
    f_mount(&fs_, "", 1);
    const RawFat fat{fs_};
    const uint32_t last = hint_.clust;
    uint32_t c = hint_.entry[26] | (hint_.entry[27] << 8) | (hint_.entry[20] << 16) | (hint_.entry[21] << 24);
    ASSERT_NE(c, last);
    while (fat.get(c) != last) {
        c = fat.get(c);
        ASSERT_GE(c, 2u);
        ASSERT_LT(c, fs_.n_fatent);
    }
    uint32_t moved = fs_.n_fatent - 1;
    while (fat.get(moved) != 0 || (fs_.fs_type == FS_FAT12 && (moved + moved / 2) % 512 == 511)) {
        moved--;
    }
    for (uint32_t k = 0; k < fs_.csize; k++) {
        testdisk::write_sector(fat.first_sector(moved) + k,
                               testdisk::read_sector(fat.first_sector(last) + k));
    }
    fat.set(moved, fat.eoc());
    fat.set(c, moved);
    fat.set(last, 0);
    f_mount(nullptr, "", 0);

    ASSERT_EQ(wake_append("DATA.TXT", 30), FR_OK);
    data += hint_record(30);
    std::string got;
    ASSERT_EQ(fathelp::read_all("DATA.TXT", &got), FR_OK);
    EXPECT_EQ(got, data);
    expect_clean();
}

// A hint from another card (another volume serial number, the volume at
// another sector) is not used: the mount reads the partition table and the
// append walks.
TEST_P(Hint, AHintFromAnotherCardIsNotUsed)
{
    for (int i = 0; i < 30; i++) {
        ASSERT_EQ(wake_append("DATA.TXT", i), FR_OK);
    }
    const FFHINT from_first = hint_;
    f_mount(nullptr, "", 0);

    // Another card: the same files written the same way, formatted anew
    // (another serial number) and, with a partition table, at another
    // sector.
    const HintLayout& l = GetParam();
    tools::make_image(img_, {l.fat_bits, l.size_kib, l.spc, l.part_start ? l.part_start * 2 : 0, ""});
    testdisk::load_image(img_);
    std::string data;
    hint_ = {};
    have_ = false;
    f_mount(&fs_, "", 0);
    ASSERT_EQ(fathelp::append_record("PAD.TXT", std::string(5000, 'p')), FR_OK);
    for (int i = 0; i < 30; i++) {
        ASSERT_EQ(wake_append("DATA.TXT", i), FR_OK);
        data += hint_record(i);
    }
    hint_ = from_first;
    ASSERT_EQ(wake_append("DATA.TXT", 30), FR_OK);
    data += hint_record(30);
    std::string got;
    ASSERT_EQ(fathelp::read_all("DATA.TXT", &got), FR_OK);
    EXPECT_EQ(got, data);
    f_mount(nullptr, "", 0);
    testdisk::save_image(img_);
    tools::Result r = tools::fsck(img_, l.part_start ? l.part_start * 2 : 0);
    EXPECT_EQ(r.rc, 0) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Layouts, Hint,
                         ::testing::Values(HintLayout{32, 40960, 1, 2048}, HintLayout{16, 8192, 1, 0},
                                           HintLayout{12, 2048, 1, 0}),
                         [](const ::testing::TestParamInfo<HintLayout>& i) {
                             return "FAT" + std::to_string(i.param.fat_bits);
                         });

} // namespace
