// The board tool (varve-sim board show/set) and a run's statistics
// (--stats), as a user of the simulator sees them.
#include "records/i2c_fram.h"
#include "records/system.h"
#include "sim/devices/board_services.h"
#include "sim/run/bench.h"
#include "sim/tools/board_tool.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <sys/stat.h>
#include <type_traits>
#include <vector>

namespace {

const char* const NEW_BOARD_START = "2026-01-15 12:00:00";

int board(const std::string& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), {"board", "--board", dir, "--start", NEW_BOARD_START});
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    return sim::board_main(static_cast<int>(argv.size()), argv.data());
}

// The board tool's standard output for `args`.
std::string board_out(const std::string& dir, const std::vector<std::string>& args, int* status)
{
    testing::internal::CaptureStdout();
    *status = board(dir, args);
    return testing::internal::GetCapturedStdout();
}

std::vector<uint8_t> stores(const std::string& dir)
{
    auto e = test::read_file(dir + "/eeprom.bin");
    auto f = test::read_file(dir + "/fram.bin");
    e.insert(e.end(), f.begin(), f.end());
    return e;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string text_of(const std::string& path)
{
    auto bytes = test::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(BoardTool, SetStoresTheImagesTheFirmwaresOwnStoreWrites)
{
    // One board changed by the tool, by name...
    const std::string a = test::fresh_board_dir("bt-set-a");
    ASSERT_EQ(board(a, {"set", "sampling_period=600", "sample_aligned=1", "data_cfg[CFG_CTD]=1",
                        "app_cfg[APPCFG_MICROSD_ENABLE]=0", "app_cfg[9]=7", "fileName=DATA.TXT",
                        "output=VERBOSE", "TCOffset=-0.25", "shTherm_B=2.5e-4", "pump_spare[15]=4294967295",
                        "spare[63]=1.5", "deploy_note=north mooring", "qa.tester=J. Doe", "qa.comm_pwr=3",
                        "sys_samp.state=DEPLOYED", "sys_samp.current_sample=17", "sys_samp.AD24_std=0.125"}),
              0);
    // ... and one changed by the firmware's own code, the same way.
    const std::string b = test::fresh_board_dir("bt-set-b");
    sim::RunOptions o;
    o.board_dir = b;
    o.start = NEW_BOARD_START;
    o.console = sim::ConsoleMode::None;
    o.params["card"] = "none";
    ASSERT_TRUE(sim::bench_begin(o));
    fram_init();
    retrieveSysDataVariables();
    sys_data.sampling_period = 600;
    sys_data.sample_aligned = 1;
    sys_data.data_cfg[CFG_CTD] = 1;
    sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 0;
    sys_data.app_cfg[9] = 7;
    std::memset(sys_data.fileName, 0, sizeof sys_data.fileName);
    std::strcpy(sys_data.fileName, "DATA.TXT");
    sys_data.output = VERBOSE;
    sys_data.TCOffset = -0.25f;
    sys_data.shTherm_B = 2.5e-4;
    sys_data.pump_spare[15] = 4294967295u;
    sys_data.spare[63] = 1.5f;
    std::memset(sys_data.deploy_note, 0, sizeof sys_data.deploy_note);
    std::strcpy(sys_data.deploy_note, "north mooring");
    std::memset(sys_data.qa.tester, 0, sizeof sys_data.qa.tester);
    std::strcpy(sys_data.qa.tester, "J. Doe");
    sys_data.qa.comm_pwr = 3;
    sys_samp.state = DEPLOYED;
    sys_samp.current_sample = 17;
    sys_samp.AD24_std = 0.125f;
    ASSERT_EQ(storeSysDataVariables(), 0u);
    sim::bench_end();
    EXPECT_EQ(test::read_file(a + "/eeprom.bin"), test::read_file(b + "/eeprom.bin"));
    EXPECT_EQ(test::read_file(a + "/fram.bin"), test::read_file(b + "/fram.bin"));
}

TEST(BoardTool, ShowPrintsBothRecordsByNameAndChangesNothing)
{
    const std::string dir = test::fresh_board_dir("bt-show");
    ASSERT_EQ(board(dir, {"set", "fileName=DATA.TXT", "sys_samp.state=2"}), 0);
    const auto before = stores(dir);
    int status = -1;
    const std::string all = board_out(dir, {"show"}, &status);
    EXPECT_EQ(status, 0);
    const std::size_t data_at = all.find("sys_data (configuration record");
    const std::size_t samp_at = all.find("sys_samp (progress record");
    ASSERT_NE(data_at, std::string::npos);
    ASSERT_NE(samp_at, std::string::npos);
    EXPECT_LT(data_at, all.find("\n  fileName = \"DATA.TXT\"\n"));
    EXPECT_LT(all.find("\n  data_cfg[CFG_OCR] = "), samp_at);
    EXPECT_LT(all.find("\n  qa.firmware_version = \"v4.1.2 Varve revB\"\n"), samp_at);
    EXPECT_GT(all.find("\n  sys_samp.state = 2 (DEPLOYED)\n"), samp_at);
    EXPECT_NE(all.find("\n  sys_samp.start_pump_cntdown = "), std::string::npos);
    // Named fields alone, in the order asked.
    EXPECT_EQ(board_out(dir, {"show", "sys_samp.state", "data_cfg[25]", "sample_aligned"}, &status),
              "  sys_samp.state = 2 (DEPLOYED)\n  data_cfg[CFG_CTD] = 0\n  sample_aligned = 0\n");
    EXPECT_EQ(stores(dir), before);
    // A board that does not exist is not made by show (set made this one).
    const std::string none = test::fresh_board_dir("bt-show-none");
    EXPECT_EQ(board(none, {"show"}), 1);
    EXPECT_FALSE(exists(none));
}

TEST(BoardTool, RefusesBadAssignmentsAndChangesNothing)
{
    const std::string dir = test::fresh_board_dir("bt-refuse");
    ASSERT_EQ(
        board(dir, {"set", "sampling_period=4294967295", "sample_aligned=255", "fileName=ABCDEFGHIJKLMNO"}),
        0);
    const auto before = stores(dir);
    for (const char* bad :
         {"sampling_period=4294967296", "sample_aligned=256", "fileName=ABCDEFGHIJKLMNOP",
          "sampling_period=-1", "sampling_period=", "sampling_period=1.5", "bogus=1", "state=2",
          "data_cfg[CFG_NOPE]=1", "data_cfg[32]=1", "data_cfg=1", "sampling_period[0]=1", "sys_samp.state=4",
          "output=0", "TCOffset=1e39", "TCOffset=nan", "shTherm_A=inf", "user=a\tb", "noassignment"}) {
        // A good assignment beside the bad one is not stored either.
        EXPECT_EQ(board(dir, {"set", "sampling_period=5", bad}), 1) << bad;
        EXPECT_EQ(stores(dir), before) << bad;
    }
    int status = -1;
    EXPECT_EQ(board_out(dir, {"show", "sampling_period", "sample_aligned", "fileName"}, &status),
              "  sampling_period = 4294967295\n  sample_aligned = 255\n  fileName = \"ABCDEFGHIJKLMNO\"\n");
    EXPECT_EQ(board(dir, {"set"}), 2);
    EXPECT_EQ(board(dir, {"frobnicate"}), 2);
}

TEST(BoardTool, TheFirmwareStartsFromWhatSetStored)
{
    const std::string dir = test::fresh_board_dir("bt-route");
    sim::RunOptions o;
    o.board_dir = dir;
    o.params["card_size_mib"] = "40";
    test::run_script(o, "", 31); // the menu, then sleep
    // Changed while it hibernates: a key wakes it into the deployed commands.
    ASSERT_EQ(board(dir, {"set", "debug_flag=1", "sys_samp.state=DEPLOYED"}), 0);
    auto r = test::run_script(o, "1 x\n", 4);
    EXPECT_NE(r.transcript.find("\r\nMAIN: DEPLOYED, calling exec_command\r\n"), std::string::npos)
        << r.transcript;
}

TEST(RunStats, CountBootsByCauseAwakeTimeAndSamples)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir("stats-causes");
    o.params["card_size_mib"] = "40";
    o.stats_file = o.board_dir + ".stats.json";
    // Boot 2 adds 5 samples to the stored counter, boot 3 starts it again
    // from 0 (a new deployment): 5 samples in all.
    o.boot_hook = [](int boot) {
        systemSamplingData s;
        std::memcpy(&s, sim::fram_image() + FRAM_SYS_SAMP_OFFSET, sizeof s);
        s.current_sample = boot == 2 ? s.current_sample + 5 : 0;
        std::memcpy(sim::fram_image() + FRAM_SYS_SAMP_OFFSET, &s, sizeof s);
    };
    // Power-on (the menu sleeps after 30 s), a key at 40 s, the reset line at
    // 100 s; each boot sleeps again after 30 s of the menu.
    test::run_script(o, "40 x\n100 !reset\n", 200);
    const std::string s = text_of(o.stats_file);
    EXPECT_NE(s.find("\"simulated_s\": 200.000000000,"), std::string::npos) << s;
    EXPECT_NE(s.find("\"boots\": {\"total\": 3, \"power_on\": 1, \"rtc\": 0, \"pin\": 1, \"reset\": 1, "
                     "\"software_reset\": 0}"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("\"samples\": 5,"), std::string::npos) << s;
    // About 30 s awake per boot.
    double total = 0, min = 0, mean = 0, max = 0;
    ASSERT_EQ(std::sscanf(s.c_str() + s.find("\"awake_s\""),
                          "\"awake_s\": {\"total\": %lf, \"per_boot_min\": %lf, \"per_boot_mean\": %lf, "
                          "\"per_boot_max\": %lf}",
                          &total, &min, &mean, &max),
              4);
    EXPECT_NEAR(mean * 3, total, 1e-6);
    EXPECT_LE(min, mean);
    EXPECT_LE(mean, max);
    EXPECT_GT(min, 29.9);
    EXPECT_LT(max, 32.0);
    // A supply is never on longer than the board was awake.
    double env = 0;
    ASSERT_EQ(std::sscanf(s.c_str() + s.find("\"env_mon\""), "\"env_mon\": %lf", &env), 1);
    EXPECT_GT(env, 0.0);
    EXPECT_LE(env, total);
}

TEST(RunStats, AnUnwritableFileIsRefusedBeforeTheBoardIsMade)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir("stats-unwritable");
    o.stats_file = o.board_dir + "-missing-folder/stats.json";
    EXPECT_EQ(test::run_script(o, "", 5).status, 1);
    EXPECT_FALSE(exists(o.board_dir));
}

TEST(Determinism, ATwoDayDeploymentGivesIdenticalTranscriptCardAndStatistics)
{
    // Two days of hourly samples, across midnight twice: transcript, card,
    // FRAM, EEPROM and every statistic but the host's time compared.
    auto figures = [](const std::string& path) {
        std::string kept, text = text_of(path);
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            end = end == std::string::npos ? text.size() : end + 1;
            const std::string line = text.substr(at, end - at);
            if (line.find("\"host_s\"") == std::string::npos) {
                kept += line;
            }
            at = end;
        }
        return kept;
    };
    std::vector<std::string> transcripts, stats;
    std::vector<std::vector<uint8_t>> cards, frams, eeproms;
    for (const char* name : {"det-days-a", "det-days-b"}) {
        const std::string dir = test::fresh_board_dir(name);
        ASSERT_EQ(board(dir, {"set", "sampling_period=3600", "fileName=DATA.TXT"}), 0);
        sim::RunOptions o;
        o.board_dir = dir;
        o.params["card_size_mib"] = "40";
        o.stats_file = dir + ".stats.json";
        // "2" at the main menu, then the deployment note.
        transcripts.push_back(test::run_script(o, "1 2\\r\n1 two days\\r\n", 2 * 86400).transcript);
        cards.push_back(test::read_file(dir + "/card.img"));
        frams.push_back(test::read_file(dir + "/fram.bin"));
        eeproms.push_back(test::read_file(dir + "/eeprom.bin"));
        stats.push_back(figures(o.stats_file));
    }
    EXPECT_EQ(transcripts[0], transcripts[1]);
    EXPECT_TRUE(cards[0] == cards[1]);
    EXPECT_TRUE(frams[0] == frams[1]);
    EXPECT_TRUE(eeproms[0] == eeproms[1]);
    EXPECT_EQ(stats[0], stats[1]);
    // Against recorded figures: nothing the firmware does may move when the
    // simulator changes (these were checked equal between the simulator that
    // walked every busy-wait one register access at a time and the one whose
    // pin wait passes over the polls between events).
    EXPECT_EQ(stats[0],
              "{\n"
              "  \"simulated_s\": 172800.000000000,\n"
              "  \"boots\": {\"total\": 49, \"power_on\": 1, \"rtc\": 48, \"pin\": 0, \"reset\": 0, "
              "\"software_reset\": 0},\n"
              "  \"samples\": 48,\n"
              "  \"awake_s\": {\"total\": 128.256955986, \"per_boot_min\": 2.260208046, \"per_boot_mean\": "
              "2.617488897, \"per_boot_max\": 2.626646620},\n"
              "  \"supply_on_s\": {\n"
              "    \"iso\": 112.245650880,\n"
              "    \"env_mon\": 108.443124626,\n"
              "    \"vbat_mon\": 106.537103920,\n"
              "    \"ctd\": 0.000000000,\n"
              "    \"aux_pwr1_pump1\": 0.000000000,\n"
              "    \"aux_pwr2_pump2\": 0.000000000,\n"
              "    \"aux_pwr3\": 0.000000000,\n"
              "    \"solenoid_pg1\": 0.000000000,\n"
              "    \"solenoid_pg3\": 0.000000000,\n"
              "    \"solenoid_pg3_pwm\": 0.000000000,\n"
              "    \"pressure\": 0.000000000,\n"
              "    \"sampling_led\": 0.088450880,\n"
              "    \"led_green\": 128.168487466,\n"
              "    \"optode_port\": 0.000000000\n"
              "  },\n"
              "  \"card_sector_reads\": 318,\n"
              "  \"card_sector_writes\": 177,\n"
              "  \"eeprom_words_programmed\": 3,\n"
              "  \"fram_bytes_written\": 10028,\n"
              "  \"energy\": {\n"
              "    \"supply_V\": 12.500,\n"
              "    \"items\": {\n"
              "      \"iso\": {\"mA\": 6.0000, \"on_s\": 112.245651, \"mAh\": 0.187076085, \"J\": 8.418424, "
              "\"mAh_per_sample\": 0.003897418, \"J_per_sample\": 0.175384, \"mAh_per_day\": 0.093538042, "
              "\"J_per_day\": 4.209212},\n"
              "      \"env_mon\": {\"mA\": 1.5000, \"on_s\": 108.443125, \"mAh\": 0.045184635, \"J\": "
              "2.033309, \"mAh_per_sample\": 0.000941347, \"J_per_sample\": 0.042361, \"mAh_per_day\": "
              "0.022592318, \"J_per_day\": 1.016654},\n"
              "      \"vbat_mon\": {\"mA\": 0.1200, \"on_s\": 106.537104, \"mAh\": 0.003551237, \"J\": "
              "0.159806, \"mAh_per_sample\": 0.000073984, \"J_per_sample\": 0.003329, \"mAh_per_day\": "
              "0.001775618, \"J_per_day\": 0.079903},\n"
              "      \"ctd\": {\"mA\": 0.1000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": 0.000000, "
              "\"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": 0.000000000, "
              "\"J_per_day\": 0.000000},\n"
              "      \"aux_pwr1_pump1\": {\"mA\": 150.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"aux_pwr2_pump2\": {\"mA\": 150.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"aux_pwr3\": {\"mA\": 50.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"solenoid_pg1\": {\"mA\": 200.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"solenoid_pg3\": {\"mA\": 200.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"solenoid_pg3_pwm\": {\"mA\": 200.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, "
              "\"J\": 0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, "
              "\"mAh_per_day\": 0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"pressure\": {\"mA\": 1.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"sampling_led\": {\"mA\": 2.0000, \"on_s\": 0.088451, \"mAh\": 0.000049139, \"J\": "
              "0.002211, \"mAh_per_sample\": 0.000001024, \"J_per_sample\": 0.000046, \"mAh_per_day\": "
              "0.000024570, \"J_per_day\": 0.001106},\n"
              "      \"led_green\": {\"mA\": 2.0000, \"on_s\": 128.168487, \"mAh\": 0.071204715, \"J\": "
              "3.204212, \"mAh_per_sample\": 0.001483432, \"J_per_sample\": 0.066754, \"mAh_per_day\": "
              "0.035602358, \"J_per_day\": 1.602106},\n"
              "      \"optode_port\": {\"mA\": 0.1000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"sbe37\": {\"mA\": 35.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": 0.000000, "
              "\"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": 0.000000000, "
              "\"J_per_day\": 0.000000},\n"
              "      \"aand5860\": {\"mA\": 6.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"optode\": {\"mA\": 4.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": 0.000000, "
              "\"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": 0.000000000, "
              "\"J_per_day\": 0.000000},\n"
              "      \"ocr504\": {\"mA\": 40.0000, \"on_s\": 0.000000, \"mAh\": 0.000000000, \"J\": "
              "0.000000, \"mAh_per_sample\": 0.000000000, \"J_per_sample\": 0.000000, \"mAh_per_day\": "
              "0.000000000, \"J_per_day\": 0.000000},\n"
              "      \"mcu_run\": {\"mA\": 25.0000, \"on_s\": 128.256956, \"mAh\": 0.890673305, \"J\": "
              "40.080299, \"mAh_per_sample\": 0.018555694, \"J_per_sample\": 0.835006, \"mAh_per_day\": "
              "0.445336653, \"J_per_day\": 20.040149},\n"
              "      \"mcu_hibernate\": {\"mA\": 0.0100, \"on_s\": 172671.743044, \"mAh\": 0.479643731, "
              "\"J\": 21.583968, \"mAh_per_sample\": 0.009992578, \"J_per_sample\": 0.449666, "
              "\"mAh_per_day\": 0.239821865, \"J_per_day\": 10.791984},\n"
              "      \"card_read\": {\"mA\": 25.0000, \"on_s\": 0.318000, \"mAh\": 0.002208333, \"J\": "
              "0.099375, \"mAh_per_sample\": 0.000046007, \"J_per_sample\": 0.002070, \"mAh_per_day\": "
              "0.001104167, \"J_per_day\": 0.049688},\n"
              "      \"card_write\": {\"mA\": 40.0000, \"on_s\": 0.531000, \"mAh\": 0.005900000, \"J\": "
              "0.265500, \"mAh_per_sample\": 0.000122917, \"J_per_sample\": 0.005531, \"mAh_per_day\": "
              "0.002950000, \"J_per_day\": 0.132750}\n"
              "    },\n"
              "    \"total\": {\"mAh\": 1.685491181, \"J\": 75.847103, \"mAh_per_sample\": 0.035114400, "
              "\"J_per_sample\": 1.580148, \"mAh_per_day\": 0.842745590, \"J_per_day\": 37.923552}\n"
              "  }\n"
              "}\n");
    // FNV-1a of the transcript and of the stores, as recorded.
    auto fnv = [](const auto& bytes) {
        uint64_t h = 0xcbf29ce484222325ull;
        for (auto b : bytes) {
            h = (h ^ static_cast<uint8_t>(b)) * 0x100000001b3ull;
        }
        return h;
    };
    EXPECT_EQ(fnv(transcripts[0]), 0xe995a426e4869ff3ull);
    EXPECT_EQ(fnv(frams[0]), 0x5d6c5434320d1f76ull);
    EXPECT_EQ(fnv(eeproms[0]), 0xdd8b005bb2adcc00ull);
    EXPECT_EQ(fnv(cards[0]), 0xc0a4537fffa93788ull);
}

namespace {

// One member of a stored record, with a value for it that only its real C++
// type stores and shows as given: a float with a fraction (refused by an
// integer field, other bits in a double), a double that a float cannot hold,
// an unsigned above the signed range, a byte above 127, a text filling the
// field.  Arrays: their last element.
struct Probe {
    std::string name;
    bool progress;     // in sys_samp
    std::size_t start; // of the whole member
    std::size_t size;
    std::size_t align;
    std::size_t offset; // of the probed element
    std::string value;
    std::string shown;
    std::vector<uint8_t> bytes;
};

template <typename T> std::vector<uint8_t> bytes_of(T v)
{
    std::vector<uint8_t> b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

template <typename M> Probe probe(const char* name, bool progress, std::size_t offset)
{
    Probe p{name, progress, offset, sizeof(M), alignof(M), offset, "", "", {}};
    using E = std::remove_extent_t<M>;
    if constexpr (std::is_array_v<M> && std::is_same_v<E, char>) {
        p.value = std::string(sizeof(M) - 1, 'k');
        p.shown = "\"" + p.value + "\"";
        p.bytes.assign(p.value.begin(), p.value.end());
        p.bytes.push_back(0);
        return p;
    } else {
        if constexpr (std::is_array_v<M>) {
            const std::size_t last = std::extent_v<M> - 1;
            p.name += "[" + std::to_string(last) + "]";
            p.offset += last * sizeof(E);
        }
        if constexpr (std::is_same_v<E, float>) {
            p.value = p.shown = "-2.75";
            p.bytes = bytes_of(-2.75f);
        } else if constexpr (std::is_same_v<E, double>) {
            p.value = "0.1";
            p.shown = "0.10000000000000001";
            p.bytes = bytes_of(0.1);
        } else if constexpr (std::is_same_v<E, uint32_t>) {
            p.value = p.shown = "4000000000";
            p.bytes = bytes_of(4000000000u);
        } else if constexpr (std::is_same_v<E, unsigned char>) {
            p.value = p.shown = "200";
            p.bytes = bytes_of(static_cast<unsigned char>(200));
        } else if constexpr (std::is_same_v<E, output_mode>) {
            p.value = "VERBOSE";
            p.shown = "2 (VERBOSE)";
            p.bytes = bytes_of(VERBOSE);
        } else if constexpr (std::is_same_v<E, int32_t>) { // sys_samp.state holds a deploy_state
            p.value = "COMMAND";
            p.shown = "3 (COMMAND)";
            p.bytes = bytes_of(static_cast<int32_t>(COMMAND));
        } else {
            static_assert(sizeof(E) == 0, "a member type without a probe");
        }
        return p;
    }
}

#define SD(m) probe<decltype(systemData::m)>(#m, false, offsetof(systemData, m))
#define QA(m) probe<decltype(qaData::m)>("qa." #m, false, offsetof(systemData, qa) + offsetof(qaData, m))
#define SS(m) probe<decltype(systemSamplingData::m)>("sys_samp." #m, true, offsetof(systemSamplingData, m))

} // namespace

TEST(BoardTool, EveryFieldIsSetAndShownAsItsOwnType)
{
    std::vector<Probe> probes = {
        SD(sampling_period),
        SD(chksum),
        SD(averaging_interval),
        SD(low_batt_volt),
        SD(TCOffset),
        SD(TCSlope),
        SD(k0ext),
        SD(k0int),
        SD(k2ext),
        SD(k2int),
        SD(quadTherm_c0),
        SD(quadTherm_c1),
        SD(quadTherm_c2),
        SD(quadTherm_c3),
        SD(shTherm_A),
        SD(shTherm_B),
        SD(shTherm_C),
        SD(default_sal),
        SD(Vrsi_sps),
        SD(Vrsi_trials),
        SD(Vrse_sps),
        SD(Vrse_trials),
        SD(Vtherm_sps),
        SD(Vtherm_trials),
        SD(Ik_sps),
        SD(Ik_trials),
        SD(Vk_sps),
        SD(Vk_trials),
        SD(Ib_sps),
        SD(Ib_trials),
        SD(Vb_sps),
        SD(Vb_trials),
        SD(Vbias_sps),
        SD(Vbias_trials),
        SD(offset_Ik),
        SD(offset_Ib),
        SD(output),
        SD(test_mode),
        SD(fast_mode),
        SD(solenoid_on2hold_msec),
        SD(solenoid_hold_pwm),
        SD(solenoid_holdtime),
        SD(baud_rate),
        SD(data_cfg),
        SD(app_cfg),
        SD(GMT),
        SD(sample_aligned),
        SD(diag),
        SD(debug_flag),
        SD(deploy_time),
        SD(start_pump_time),
        SD(pump_seq_type),
        SD(sampleCnt_duty_on),
        SD(sampleCnt_duty_off),
        SD(pump1_cycles),
        SD(pump2_cycles),
        SD(pump1_ontime),
        SD(pump2_ontime),
        SD(pump_spare),
        SD(pHOffset),
        SD(pHSlope),
        SD(sensor_ctd_TC),
        SD(sensor_optode_TC),
        SD(spare),
        SD(fileName),
        SD(user),
        SD(board_SN),
        SD(tamb_SN),
        SD(durafet_SN),
        SD(package_name),
        SD(optode_SN),
        SD(ctd_SN),
        SD(pump_SN),
        SD(pump2_SN),
        SD(pump3_SN),
        SD(board_fab_note),
        SD(deploy_note),
        QA(microSD),
        QA(time),
        QA(test_time),
        QA(eeprom),
        QA(sys_data_init),
        QA(fram),
        QA(adc12onchip),
        QA(adc24),
        QA(Vrsi),
        QA(Vrsi_std),
        QA(Vrsi_err),
        QA(Vrse),
        QA(Vrse_std),
        QA(Vrse_err),
        QA(Vtherm),
        QA(Vtherm_std),
        QA(Vtherm_err),
        QA(Ik),
        QA(Ik_std),
        QA(Ik_err),
        QA(Vk),
        QA(Vk_std),
        QA(Vk_err),
        QA(Ib),
        QA(Ib_std),
        QA(Ib_err),
        QA(Vb),
        QA(Vb_std),
        QA(Vb_err),
        QA(Vbias_pos),
        QA(Vbias_neg),
        QA(aux_pwr1),
        QA(aux_pwr2),
        QA(aux_pwr3),
        QA(ctd),
        QA(optode),
        QA(comm_pwr),
        QA(tester),
        QA(firmware_version),
        SS(state),
        SS(nextWakeUp),
        SS(next_gdata_fptr),
        SS(current_sample),
        SS(AD24_std),
        SS(sensor_sal),
        SS(spare1),
        SS(spare2),
        SS(spare3),
        SS(spare4),
        SS(initNum),
        SS(pump_seq_state),
        SS(pump1_cnt),
        SS(pump2_cnt),
        SS(start_pump_cntdown),
    };
    // Every member of both records is probed: each starts where the one
    // before it ends (after the padding its alignment needs).
    std::size_t end[2] = {0, 0};
    for (const Probe& p : probes) {
        std::size_t& e = end[p.progress ? 1 : 0];
        EXPECT_EQ(p.start, (e + p.align - 1) / p.align * p.align) << p.name;
        e = p.start + p.size;
    }
    EXPECT_EQ((end[0] + alignof(systemData) - 1) / alignof(systemData) * alignof(systemData),
              sizeof(systemData));
    EXPECT_EQ(end[1], sizeof(systemSamplingData));

    // The progress record's validity mark keeps its own value (a record
    // without it is replaced by a fresh one).
    for (Probe& p : probes) {
        if (p.name == "sys_samp.initNum") {
            p.value = p.shown = std::to_string(SYS_SAMP_INIT_NUM);
            p.bytes = bytes_of(SYS_SAMP_INIT_NUM);
        }
    }
    const std::string dir = test::fresh_board_dir("bt-kinds");
    std::vector<std::string> set = {"set"}, show = {"show"};
    for (const Probe& p : probes) {
        set.push_back(p.name + "=" + p.value);
        show.push_back(p.name);
    }
    ASSERT_EQ(board(dir, set), 0);
    int status = -1;
    std::istringstream shown(board_out(dir, show, &status));
    EXPECT_EQ(status, 0);
    std::string line;
    for (const Probe& p : probes) {
        ASSERT_TRUE(std::getline(shown, line)) << p.name;
        const std::size_t eq = line.find(" = ");
        EXPECT_EQ(eq == std::string::npos ? line : line.substr(eq + 3), p.shown) << p.name;
    }

    // The stores as the firmware reads them: each value where its member is.
    sim::RunOptions o;
    o.board_dir = dir;
    o.start = NEW_BOARD_START;
    o.console = sim::ConsoleMode::None;
    o.params["card"] = "none";
    ASSERT_TRUE(sim::bench_begin(o));
    fram_init();
    retrieveSysDataEEPROMVariables();
    fram_sys_samp_retrieve();
    for (const Probe& p : probes) {
        const auto* base = reinterpret_cast<const uint8_t*>(p.progress ? static_cast<const void*>(&sys_samp)
                                                                       : static_cast<const void*>(&sys_data));
        EXPECT_EQ(std::vector<uint8_t>(base + p.offset, base + p.offset + p.bytes.size()), p.bytes) << p.name;
    }
    sim::bench_end();
}
