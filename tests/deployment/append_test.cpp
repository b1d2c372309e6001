// The data file's appends over a deployment: card traffic per record that
// stays flat as the file grows (the end remembered in FRAM), power cut in
// the middle of an append, and a multi-day deployment that two runs
// reproduce byte for byte.
#include "records/system_data.h"
#include "sim/devices/device_counters.h"
#include "tests/deployment/deploy_support.h"

#include "tests/support/fsck_findings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

using namespace deploytest;

namespace {

ConfigFn timed(uint32_t period)
{
    return [=](systemData& d) {
        d.sampling_period = period;
        d.sample_aligned = 0;
    };
}

// Main menu "2", then an empty note.
std::string start_keys()
{
    return keys(1, "2\\r") + keys(1, "\\r");
}

// Card sector reads and writes counted at the start of every boot.
struct Traffic {
    std::vector<std::pair<uint64_t, uint64_t>> at_boot;
    // Reads and writes of boot b (1-based), up to the start of the next.
    std::pair<uint64_t, uint64_t> of_boot(std::size_t b) const
    {
        return {at_boot[b].first - at_boot[b - 1].first, at_boot[b].second - at_boot[b - 1].second};
    }
};

// Logs the card counters at each boot into `log` (the boots run in
// processes of their own).
void count_traffic(sim::RunOptions* o, const std::string& log)
{
    std::remove(log.c_str());
    auto hook = o->boot_hook;
    o->boot_hook = [hook, log](int boot) {
        if (hook) {
            hook(boot);
        }
        std::ofstream(log, std::ios::app) << sim::device_counters().card_sector_reads << " "
                                          << sim::device_counters().card_sector_writes << "\n";
    };
}

Traffic read_traffic(const std::string& log)
{
    Traffic t;
    std::ifstream in(log);
    for (uint64_t r, w; in >> r >> w;) {
        t.at_boot.emplace_back(r, w);
    }
    return t;
}

// A whole record line of the default fields (as records() gives it: from
// the '#' to the "\r" before the line feed), with its 20 fields.
bool whole_record(const std::string& line)
{
    return line.size() > 2 && line.back() == '\r' && line[0] == '#' && fields(line).size() == 20;
}

bool fsck_acceptable(const std::string& out, std::string* bad)
{
    return test::fsck_findings_acceptable(out, "/NONAME.TXT", "files, ", bad);
}

} // namespace

// A record costs the same card traffic in a long file as in a short one:
// the append starts from the end remembered in FRAM instead of walking the
// file's cluster chain (a 20 MB file has thousands of clusters).
TEST(Append, CardTrafficPerRecordIsFlatAsTheFileGrows)
{
    auto measure = [](const std::string& name, std::size_t pregrown) {
        auto o = board(name, timed(60));
        if (pregrown > 0) {
            // The file of a long deployment, put on the card beforehand.
            const std::string big = o.board_dir + "-big.txt";
            {
                std::ofstream f(big, std::ios::binary);
                std::string line = "#0000000\t2026/01/15 12:00:00" + std::string(169, ' ') + "\r\n";
                for (std::size_t i = 0; i < pregrown; ++i) {
                    f << line;
                }
            }
            std::filesystem::create_directories(o.board_dir);
            std::string out;
            EXPECT_EQ(card_cmd(o.board_dir, "put '" + big + "' NONAME.TXT", &out), 0) << out;
        }
        const std::string log = o.board_dir + "-traffic.txt";
        count_traffic(&o, log);
        test::run_script(o, start_keys(), 600);
        const std::string file = card_file(o.board_dir, "noname.txt");
        EXPECT_EQ(records(file).size(), pregrown + 10);
        Traffic t = read_traffic(log);
        EXPECT_GE(t.at_boot.size(), 10u);
        // Boot 1 starts the deployment (headers), boot 2 is the first
        // sample; the later boots are one record each.
        uint64_t reads = 0, writes = 0, max_reads = 0, max_writes = 0;
        std::size_t n = 0;
        for (std::size_t b = 3; b < t.at_boot.size(); ++b, ++n) {
            auto [r, w] = t.of_boot(b);
            reads += r;
            writes += w;
            max_reads = std::max(max_reads, r);
            max_writes = std::max(max_writes, w);
        }
        std::printf("%s: %zu records, %.2f reads and %.2f writes per record (max %llu, %llu)\n", name.c_str(),
                    n, double(reads) / double(n), double(writes) / double(n),
                    static_cast<unsigned long long>(max_reads), static_cast<unsigned long long>(max_writes));
        return std::make_pair(max_reads, max_writes);
    };
    const auto fresh = measure("flat-new", 0);
    const auto grown = measure("flat-grown", 100000);
    // Volume boot sector, directory entry, the FAT entry that checks the
    // remembered end, the file's last sector, the entry again for the
    // update: five reads; a record that starts a new cluster reads the
    // FSInfo sector, the FAT and the entry once more.  Walking the chain of
    // the grown file would read hundreds of FAT sectors.
    EXPECT_LE(fresh.first, 8u);
    EXPECT_LE(grown.first, 8u);
    EXPECT_LE(grown.first, fresh.first);
    EXPECT_LE(grown.second, fresh.second);
}

// A power cut at any card write of the deployment's start and of the
// appends after it: once power is back the deployment goes on, the data
// file holds every record completed before the cut, each whole (at most the
// one in flight is missing), and fsck.fat finds no more than lost clusters.
TEST(Append, PowerCutDuringAnAppend)
{
    // Dry run: which sector writes belong to which boot.
    auto dry = board("cut-dry", timed(60));
    dry.params["card_size_mib"] = "40";
    const std::string log = dry.board_dir + "-traffic.txt";
    count_traffic(&dry, log);
    test::run_script(dry, start_keys(), 200);
    Traffic t = read_traffic(log);
    ASSERT_GE(t.at_boot.size(), 5u);
    // Every write of the deployment's start (boot 1: metadata and header)
    // and of the first three sample wakes (boots 2 to 4).
    const uint64_t first = t.at_boot[0].second + 1;
    const uint64_t last = t.at_boot[4].second;
    ASSERT_GT(last, first + 6);

    for (uint64_t n = first; n <= last; ++n) {
        SCOPED_TRACE("power cut at card write " + std::to_string(n));
        auto o = board("cut-" + std::to_string(n), timed(60));
        o.params["card_size_mib"] = "40";
        o.params["card_cut_after_writes"] = std::to_string(n);
        // A cut while the headers are written ends the start before the
        // deployment is stored: the board comes back to the menu, and the
        // user starts again.
        const bool in_start = n <= t.at_boot[1].second;
        auto r = test::run_script(o, start_keys() + (in_start ? keys(4, "2\\r") + keys(1, "\\r") : ""), 200);
        ASSERT_NE(r.transcript.find("Starting deployment"), std::string::npos) << r.transcript;

        const std::string file = card_file(o.board_dir, "noname.txt");
        const auto recs = records(file);
        // Every record in the file is whole and was printed by the
        // firmware; every record printed was stored except at most one.
        const auto printed = records(r.transcript);
        std::set<std::string> in_file(recs.begin(), recs.end());
        for (const auto& rec : recs) {
            EXPECT_TRUE(whole_record(rec)) << rec;
            EXPECT_NE(r.transcript.find(rec), std::string::npos) << rec;
        }
        EXPECT_EQ(in_file.size(), recs.size()) << "a record stored twice\n" << file;
        // No number is given twice: a cut after a record's last card write
        // does not reuse its number.
        std::set<std::string> numbers;
        for (const auto& rec : recs) {
            numbers.insert(rec.substr(0, 8));
        }
        EXPECT_EQ(numbers.size(), recs.size()) << "a sample number used twice\n" << file;
        std::size_t missing = 0;
        for (const auto& rec : printed) {
            missing += in_file.count(rec) == 0 ? 1 : 0;
        }
        EXPECT_LE(missing, 1u) << file;
        // Sampling went on after the cut: the record of the last wake.
        ASSERT_FALSE(recs.empty()) << file;
        EXPECT_GE(recs.back().substr(0, 8), "#0000003") << file;
        // Records in order, in one file with one header.
        EXPECT_TRUE(std::is_sorted(recs.begin(), recs.end())) << file;
        EXPECT_LE(test::count(file, " SampNum\t"), in_start ? 2 : 1) << file;

        std::string out;
        card_cmd(o.board_dir, "fsck", &out);
        std::string bad;
        EXPECT_TRUE(fsck_acceptable(out, &bad)) << "fsck.fat: " << bad << "\n" << out;
    }
}
