// Power cut at every sector write of the sample cycle's append sequence:
// afterwards the volume mounts, every record whose f_close completed is
// intact, other files are untouched, and fsck.fat finds at worst
// unreferenced clusters or the size of the file being appended.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string record(int i)
{
    std::string r =
        "2024/03/15 12:" + std::to_string(10 + i % 50) + ":00\t" + std::to_string(i) + "\t7.9812\t12.345";
    r.resize(198, static_cast<char>('A' + i % 26));
    return r + "\r\n";
}

// fsck.fat -n findings a power cut may leave: unreferenced clusters, FAT
// copies that differ by the newest change, the appended file's size.  Any
// other line (cross-links, bad entries, orphaned long names...) fails.
bool fsck_acceptable(const std::string& out, std::string* bad)
{
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        static const char* const ok[] = {"fsck.fat ",
                                         "Reclaimed ",
                                         "Leaving filesystem unchanged",
                                         "FATs differ but appear to be intact",
                                         "  Using first FAT",
                                         "Free cluster summary uninitialized",
                                         "/DATA.TXT",
                                         "  File size is",
                                         "  Truncating",
                                         "card.img: "};
        bool fine = line.empty();
        for (const char* p : ok) {
            fine = fine || line.find(p) != std::string::npos;
        }
        if (!fine) {
            *bad = line;
            return false;
        }
    }
    return true;
}

struct CutLayout {
    int fat_bits;
    uint32_t size_kib;
    int spc;
};

class PowerCut : public ::testing::TestWithParam<CutLayout> {};

TEST_P(PowerCut, CompletedRecordsSurviveACutAtEverySectorWrite)
{
    tools::TempDir tmp;
    const std::string img = tmp.path("card.img");
    tools::make_image(img, {GetParam().fat_bits, GetParam().size_kib, GetParam().spc, 0, ""});
    const std::string other = std::string(3000, 'o');
    tools::write_file(tmp.path("other.txt"), other);
    ASSERT_EQ(tools::run("mcopy -i " + img + " " + tmp.path("other.txt") + " ::/OTHER.TXT").rc, 0);
    ASSERT_EQ(tools::run("mmd -i " + img + " ::/KEEP").rc, 0);
    ASSERT_EQ(tools::run("mcopy -i " + img + " " + tmp.path("other.txt") + " ::/KEEP/K.TXT").rc, 0);
    testdisk::load_image(img);

    // Each record is one wake of the controller: mount, append, close.
    FATFS fs;
    auto append = [&](int i) {
        if (f_mount(&fs, "", 0) != FR_OK) {
            return FR_NOT_READY;
        }
        return fathelp::append_record("DATA.TXT", record(i));
    };
    std::string done;
    const int base_records = 3;
    for (int i = 0; i < base_records; i++) {
        ASSERT_EQ(append(i), FR_OK);
        done += record(i);
    }
    const auto base = testdisk::sectors();

    // Dry run: how many sector writes the records below take.
    const int records = 12;
    testdisk::reset_counters();
    for (int i = base_records; i < base_records + records; i++) {
        ASSERT_EQ(append(i), FR_OK);
    }
    const long total_writes = static_cast<long>(testdisk::counters().sectors_written);
    ASSERT_GT(total_writes, records * 2);

    for (long k = 0; k < total_writes; k++) {
        SCOPED_TRACE("cut after sector write " + std::to_string(k));
        testdisk::sectors() = base;
        testdisk::restore_power();
        testdisk::cut_power_after(k);
        std::string expected = done;
        int i = base_records;
        for (; i < base_records + records; i++) {
            if (append(i) != FR_OK) {
                break;
            }
            expected += record(i);
        }
        ASSERT_TRUE(testdisk::power_cut());
        testdisk::restore_power();

        FATFS fresh; // a reset: new work area (the old one stays registered no longer)
        ASSERT_EQ(f_mount(&fresh, "", 1), FR_OK);
        std::string got;
        ASSERT_EQ(fathelp::read_all("DATA.TXT", &got), FR_OK);
        // The record in flight is either absent or complete.
        if (got != expected) {
            ASSERT_EQ(got, expected + record(i));
        }
        ASSERT_EQ(fathelp::read_all("OTHER.TXT", &got), FR_OK);
        ASSERT_EQ(got, other);
        ASSERT_EQ(fathelp::read_all("KEEP/K.TXT", &got), FR_OK);
        ASSERT_EQ(got, other);

        testdisk::save_image(img);
        tools::Result r = tools::fsck(img, 0);
        std::string bad;
        ASSERT_TRUE(fsck_acceptable(r.out, &bad)) << "fsck.fat: " << bad << "\n" << r.out;

        // The volume stays usable: the next wake appends normally.
        ASSERT_EQ(fathelp::append_record("DATA.TXT", record(99)), FR_OK);
        ASSERT_EQ(fathelp::read_all("DATA.TXT", &got), FR_OK);
        ASSERT_EQ(got.substr(got.size() - record(99).size()), record(99));
        f_mount(nullptr, "", 0);
    }
    f_mount(nullptr, "", 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PowerCut,
                         ::testing::Values(CutLayout{32, 40960, 1}, CutLayout{16, 8192, 2},
                                           CutLayout{12, 2048, 1}),
                         [](const ::testing::TestParamInfo<CutLayout>& i) {
                             return "FAT" + std::to_string(i.param.fat_bits);
                         });

} // namespace
