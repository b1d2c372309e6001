// Power cut at every sector write of the sample cycle's append sequence:
// afterwards the volume mounts, every record whose f_close completed is
// intact, other files are untouched, and fsck.fat finds at worst
// unreferenced clusters or the size of the file being appended.  The same
// for changes to the tree (unlink, rename, move, mkdir, a directory that
// grows): after a cut the tree is as before or after the change.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include "tests/support/fsck_findings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

namespace {

std::string record(int i)
{
    std::string r =
        "2024/03/15 12:" + std::to_string(10 + i % 50) + ":00\t" + std::to_string(i) + "\t7.9812\t12.345";
    r.resize(198, static_cast<char>('A' + i % 26));
    return r + "\r\n";
}

bool fsck_acceptable(const std::string& out, std::string* bad)
{
    return test::fsck_findings_acceptable(out, "/DATA.TXT", "card.img: ", bad);
}

struct CutLayout {
    int fat_bits;
    uint32_t size_kib;
    int spc;
};

class PowerCut : public ::testing::TestWithParam<CutLayout> {};

// With `hinted` each append starts from the end kept from the last
// complete append (as the firmware keeps it in FRAM): after a cut that end
// may be one append old, and must not lead to a wrong append.
void cut_at_every_write(const CutLayout& layout, bool hinted)
{
    tools::TempDir tmp;
    const std::string img = tmp.path("card.img");
    tools::make_image(img, {layout.fat_bits, layout.size_kib, layout.spc, 0, ""});
    const std::string other = std::string(3000, 'o');
    tools::write_file(tmp.path("other.txt"), other);
    ASSERT_EQ(tools::run("mcopy -i " + img + " " + tmp.path("other.txt") + " ::/OTHER.TXT").rc, 0);
    ASSERT_EQ(tools::run("mmd -i " + img + " ::/KEEP").rc, 0);
    ASSERT_EQ(tools::run("mcopy -i " + img + " " + tmp.path("other.txt") + " ::/KEEP/K.TXT").rc, 0);
    testdisk::load_image(img);

    // Each record is one wake of the controller: mount, append, close.
    FATFS fs;
    FFHINT hint{};
    bool have = false;
    auto append = [&](int i) {
        if (f_mount(&fs, "", 0) != FR_OK) {
            return FR_NOT_READY;
        }
        return hinted ? fathelp::append_hinted("DATA.TXT", record(i), &hint, &have)
                      : fathelp::append_record("DATA.TXT", record(i));
    };
    std::string done;
    const int base_records = 3;
    for (int i = 0; i < base_records; i++) {
        ASSERT_EQ(append(i), FR_OK);
        done += record(i);
    }
    const auto base = testdisk::sectors();
    const FFHINT base_hint = hint;

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
        hint = base_hint;
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
        const std::string after_cut = got;
        ASSERT_EQ(fathelp::read_all("OTHER.TXT", &got), FR_OK);
        ASSERT_EQ(got, other);
        ASSERT_EQ(fathelp::read_all("KEEP/K.TXT", &got), FR_OK);
        ASSERT_EQ(got, other);

        testdisk::save_image(img);
        tools::Result r = tools::fsck(img, 0);
        std::string bad;
        ASSERT_TRUE(fsck_acceptable(r.out, &bad)) << "fsck.fat: " << bad << "\n" << r.out;

        // The volume stays usable: the next wake appends normally.
        ASSERT_EQ(hinted ? fathelp::append_hinted("DATA.TXT", record(99), &hint, &have)
                         : fathelp::append_record("DATA.TXT", record(99)),
                  FR_OK);
        ASSERT_EQ(fathelp::read_all("DATA.TXT", &got), FR_OK);
        ASSERT_EQ(got, after_cut + record(99));
        testdisk::save_image(img);
        r = tools::fsck(img, 0);
        ASSERT_TRUE(fsck_acceptable(r.out, &bad)) << "fsck.fat after the next append: " << bad << "\n"
                                                  << r.out;
        f_mount(nullptr, "", 0);
    }
    f_mount(nullptr, "", 0);
}

TEST_P(PowerCut, CompletedRecordsSurviveACutAtEverySectorWrite)
{
    cut_at_every_write(GetParam(), false);
}

TEST_P(PowerCut, TheRememberedEndAfterACutLeadsToNoWrongAppend)
{
    cut_at_every_write(GetParam(), true);
}

// Every file (path -> content) and directory (path -> "<DIR>") on the
// volume.
using Tree = std::map<std::string, std::string>;

FRESULT walk(const std::string& dir, Tree* tree)
{
    std::map<std::string, fathelp::Entry> entries;
    FRESULT res = fathelp::list_dir(dir.empty() ? "/" : dir, &entries);
    for (auto it = entries.begin(); res == FR_OK && it != entries.end(); ++it) {
        const std::string path = dir + "/" + it->first;
        if (it->second.attr & AM_DIR) {
            (*tree)[path] = "<DIR>";
            res = walk(path, tree);
        } else {
            res = fathelp::read_all(path, &(*tree)[path]);
        }
    }
    return res;
}

std::string show(const Tree& t)
{
    std::string s;
    for (const auto& [path, content] : t) {
        s += path + " (" + (content == "<DIR>" ? content : std::to_string(content.size()) + " bytes") + ")\n";
    }
    return s;
}

// One change to the tree.  `extra` adds states a cut may leave besides
// "before" and "after"; `cross_link` lets fsck.fat report two names on one
// chain (a move cut between writing the new entry and removing the old).
struct TreeOp {
    const char* name;
    FRESULT (*run)();
    void (*extra)(const Tree& before, const Tree& after, std::vector<Tree>* states);
    bool cross_link;
};

void both_names(const Tree& before, const Tree& after, std::vector<Tree>* states)
{
    Tree both = before;
    both.insert(after.begin(), after.end());
    states->push_back(both);
}

void empty_new_file(const Tree& before, const Tree& after, std::vector<Tree>* states)
{
    Tree t = after;
    for (auto& [path, content] : t) {
        if (before.count(path) == 0) {
            content.clear();
        }
    }
    states->push_back(t);
}

const TreeOp tree_ops[] = {
    {"unlink a file", [] { return f_unlink("/DATA.TXT"); }, nullptr, false},
    {"unlink a directory", [] { return f_unlink("/EMPTY"); }, nullptr, false},
    {"rename in place", [] { return f_rename("/OLD.TXT", "/NEW.TXT"); }, nullptr, false},
    {"move a file", [] { return f_rename("/OLD.TXT", "/SUB/MOVED.TXT"); }, both_names, true},
    {"move a directory", [] { return f_rename("/D1", "/SUB/D1"); }, both_names, true},
    {"mkdir", [] { return f_mkdir("/SUB/NEWDIR"); }, nullptr, false},
    {"mkdir that grows its parent", [] { return f_mkdir("/GROW/NEWDIR"); }, nullptr, false},
    {"new file that grows its directory",
     [] { return fathelp::write_all("/GROW/NEW.TXT", std::string(1500, 'n')); }, empty_new_file, false},
};

class PowerCutTree : public ::testing::TestWithParam<CutLayout> {};

// fsck.fat findings a cut during a tree change may leave: unreferenced
// clusters, differing FAT copies, a free count marked unknown, and (after a
// move only) the moved object under both names.
bool tree_fsck_acceptable(const std::string& out, bool cross_link, std::string* bad)
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
                                         "card.img: "};
        static const char* const link[] = {
            "  Cluster ", "share clusters", "/SUB/",          "/OLD.TXT",
            "/D1",        "  Truncating",   "  File size is", "  Invalid '..' entry"};
        bool fine = line.empty();
        for (const char* p : ok) {
            fine = fine || line.find(p) != std::string::npos;
        }
        for (const char* p : link) {
            fine = fine || (cross_link && line.find(p) != std::string::npos);
        }
        if (!fine) {
            *bad = line;
            return false;
        }
    }
    return true;
}

TEST_P(PowerCutTree, EveryCutLeavesTheTreeBeforeOrAfterTheChange)
{
    tools::TempDir tmp;
    const std::string img = tmp.path("card.img");
    tools::make_image(img, {GetParam().fat_bits, GetParam().size_kib, GetParam().spc, 0, ""});
    testdisk::load_image(img);
    FATFS fs;
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    // Free clusters of a used card hold old data: here, entries that would
    // show up in any directory cluster that is linked before it is cleared.
    std::string ghosts;
    for (int i = 0; ghosts.size() < 64u * 512 * GetParam().spc; i++) {
        std::string e = "GHOST" + std::to_string(1000 + i % 1000).substr(1) + "TXT";
        e.resize(32, '\0');
        e[11] = AM_ARC;
        ghosts += e;
    }
    ASSERT_EQ(f_mkdir("/GROW"), FR_OK); // its next cluster will be an old one
    ASSERT_EQ(fathelp::write_all("/GHOSTS.BIN", ghosts), FR_OK);
    ASSERT_EQ(fathelp::write_all("/DATA.TXT", std::string(3000, 'd')), FR_OK);
    ASSERT_EQ(fathelp::write_all("/OLD.TXT", std::string(2000, 'o')), FR_OK);
    ASSERT_EQ(f_mkdir("/EMPTY"), FR_OK);
    ASSERT_EQ(f_mkdir("/D1"), FR_OK);
    ASSERT_EQ(fathelp::write_all("/D1/F1.TXT", std::string(700, '1')), FR_OK);
    ASSERT_EQ(f_mkdir("/D1/D11"), FR_OK);
    ASSERT_EQ(f_mkdir("/SUB"), FR_OK);
    ASSERT_EQ(fathelp::write_all("/SUB/INNER.TXT", std::string(900, 'i')), FR_OK);
    // GROW's first cluster is full: its next entry needs a new cluster.
    const int per_cluster = GetParam().spc * 16;
    for (int i = 0; i < per_cluster - 2; i++) {
        ASSERT_EQ(fathelp::write_all("/GROW/G" + std::to_string(i) + ".TXT", std::to_string(i)), FR_OK);
    }
    ASSERT_EQ(f_unlink("/GHOSTS.BIN"), FR_OK);
    f_mount(nullptr, "", 0);
    const auto base = testdisk::sectors();

    for (const TreeOp& op : tree_ops) {
        SCOPED_TRACE(op.name);
        // Dry run: the tree before and after, and the sector writes taken.
        testdisk::sectors() = base;
        testdisk::restore_power();
        ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
        Tree before;
        ASSERT_EQ(walk("", &before), FR_OK);
        testdisk::reset_counters();
        ASSERT_EQ(op.run(), FR_OK);
        const long total_writes = static_cast<long>(testdisk::counters().sectors_written);
        Tree after;
        ASSERT_EQ(walk("", &after), FR_OK);
        ASSERT_NE(before, after);
        ASSERT_GT(total_writes, 0);
        std::vector<Tree> states{before, after};
        if (op.extra != nullptr) {
            op.extra(before, after, &states);
        }

        for (long k = 0; k < total_writes; k++) {
            SCOPED_TRACE("cut after sector write " + std::to_string(k));
            testdisk::sectors() = base;
            testdisk::restore_power();
            ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
            testdisk::cut_power_after(k);
            ASSERT_NE(op.run(), FR_OK);
            ASSERT_TRUE(testdisk::power_cut());
            testdisk::restore_power();

            FATFS fresh;
            ASSERT_EQ(f_mount(&fresh, "", 1), FR_OK);
            Tree got;
            ASSERT_EQ(walk("", &got), FR_OK);
            ASSERT_NE(std::find(states.begin(), states.end(), got), states.end()) << show(got);

            testdisk::save_image(img);
            tools::Result r = tools::fsck(img, 0);
            std::string bad;
            const bool both = op.cross_link && got != before && got != after;
            ASSERT_TRUE(tree_fsck_acceptable(r.out, both, &bad)) << "fsck.fat: " << bad << "\n" << r.out;

            // The volume stays usable: records append, directories are made.
            ASSERT_EQ(fathelp::append_record("/SUB/LOG.TXT", record(1)), FR_OK);
            ASSERT_EQ(f_mkdir("/LATER"), FR_OK);
            ASSERT_EQ(fathelp::append_record("/LATER/LOG.TXT", record(2)), FR_OK);
            std::string text;
            ASSERT_EQ(fathelp::read_all("/LATER/LOG.TXT", &text), FR_OK);
            ASSERT_EQ(text, record(2));
            f_mount(nullptr, "", 0);
        }
    }
    f_mount(nullptr, "", 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PowerCutTree,
                         ::testing::Values(CutLayout{32, 40960, 1}, CutLayout{16, 8192, 2},
                                           CutLayout{12, 2048, 1}),
                         [](const ::testing::TestParamInfo<CutLayout>& i) {
                             return "FAT" + std::to_string(i.param.fat_bits);
                         });

INSTANTIATE_TEST_SUITE_P(Layouts, PowerCut,
                         ::testing::Values(CutLayout{32, 40960, 1}, CutLayout{16, 8192, 2},
                                           CutLayout{12, 2048, 1}),
                         [](const ::testing::TestParamInfo<CutLayout>& i) {
                             return "FAT" + std::to_string(i.param.fat_bits);
                         });

} // namespace
