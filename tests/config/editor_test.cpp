// The record editor: the nine-batch walk, the dump and the metadata entry,
// and a deployment configured entirely from the console.
#include "records/system_data.h"
#include "tests/config/config_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace deploytest;
using namespace configtest;

namespace {

// Prompts of the walk, in order, Re-visit questions included: 5 + 13 + 19 +
// 7 + 32 + 6 + 16 + 7 + 12 field prompts and nine Re-visit questions.
constexpr int WALK_REPLIES = 5 + 13 + 19 + 7 + 32 + 6 + 16 + 7 + 12 + 9;

std::string walk(const std::vector<std::pair<int, std::string>>& answers)
{
    std::string s = typed({"1", "E"});
    for (int i = 0; i < WALK_REPLIES; ++i) {
        std::string reply;
        for (const auto& a : answers) {
            if (a.first == i) {
                reply = a.second;
            }
        }
        s += keys(0.2, reply + "\\r");
    }
    return s + typed({"9"});
}

} // namespace

TEST(RecordEditor, EmptyWalkChangesOnlyTheStampedFields)
{
    auto o = board("walk", [](systemData& d) {
        d.data_cfg[CFG_V_THERMISTOR_STD] = 0;
        d.app_cfg[9] = 5;
        d.deploy_time = 1234;
        std::snprintf(d.qa.firmware_version, sizeof d.qa.firmware_version, "old");
    });
    auto r0 = test::run_script(o, "", 1);
    const systemData before = stored_config(o.board_dir);
    auto r = test::run_script(o, walk({}), 60);
    EXPECT_NE(r.transcript.find("// ------ sys_data structure, size = 1272 ---- \r\n"), std::string::npos);
    EXPECT_EQ(test::count(r.transcript, "\r\n\r\nRe-visit? (Y/N) [N]? "), 9);
    EXPECT_NE(
        r.transcript.find("\r\nOld firmware version: old\r\nNew firmware version: v4.1.2 Varve revB\r\n"),
        std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nEEPROM sys_data copy/edit is complete\r\n\r\n"), std::string::npos);
    systemData after = stored_config(o.board_dir);
    EXPECT_EQ(after.deploy_time, 0u);
    EXPECT_EQ(after.data_cfg[CFG_V_THERMISTOR_STD], after.data_cfg[CFG_V_THERMISTOR]);
    EXPECT_EQ(after.app_cfg[9], 0);
    EXPECT_STREQ(after.qa.firmware_version, "v4.1.2 Varve revB");
    EXPECT_NE(after.start_pump_time, 0u);
    // Everything else is as it was.
    systemData expect = before;
    expect.deploy_time = 0;
    expect.start_pump_time = after.start_pump_time;
    expect.data_cfg[CFG_V_THERMISTOR_STD] = expect.data_cfg[CFG_V_THERMISTOR];
    expect.app_cfg[9] = 0;
    std::memcpy(expect.qa.firmware_version, after.qa.firmware_version, sizeof expect.qa.firmware_version);
    EXPECT_EQ(std::memcmp(&expect, &after, sizeof after), 0);
}

TEST(RecordEditor, WalkChangesExactlyTheAnsweredFields)
{
    auto o = board("walk2");
    test::run_script(o, "", 1);
    const systemData before = stored_config(o.board_dir);
    // Index of replies: batch 1 prompts 0-4, re-visit 5; batch 2 6-18, re-visit
    // 19; batch 3 20-38, 39; batch 4 40-46, 47; batch 5 48-79 (CFG_SAMPLE_NUM
    // first), 80; batch 6 81-86, 87; batch 7 88-103, 104; batch 8 105-111, 112;
    // batch 9 113-124 (Filename first), 125.
    const std::string long_name(30, 'x');
    auto r = test::run_script(o, walk({{0, "120"}, {7, "-1.25"}, {48, "7"}, {113, long_name}}), 60);
    EXPECT_NE(r.transcript.find("sys_data.data_cfg[CFG_SAMPLE_NUM] [1]: 7"), std::string::npos);
    EXPECT_NE(r.transcript.find("sys_data.data_cfg[CFG_TIMESTAMP] [1]: "), std::string::npos);
    systemData after = stored_config(o.board_dir);
    EXPECT_EQ(after.sampling_period, 120u);
    EXPECT_FLOAT_EQ(after.k0ext, -1.25f);
    EXPECT_EQ(after.data_cfg[CFG_SAMPLE_NUM], 7);
    EXPECT_EQ(std::string(after.fileName), std::string(15, 'x'));
    EXPECT_EQ(after.data_cfg[CFG_TIMESTAMP], before.data_cfg[CFG_TIMESTAMP]);
    EXPECT_FLOAT_EQ(after.k0int, before.k0int);
    EXPECT_STREQ(after.user, before.user);
}

// The whole dump, as recorded in record_dump.txt (lines end in "\r\n" on the
// console). Fields that share a format hold distinct values, so a field
// printed under another's name shows.
TEST(RecordEditor, DumpPrintsEveryFieldAsRecorded)
{
    auto o = board("dump", [](systemData& d) {
        d.TCOffset = 0.125f;
        d.pHOffset = 0.25f;
        d.sensor_ctd_TC = 0.5f;
        d.sensor_optode_TC = 0.75f;
        for (int i = 0; i < 4; ++i) {
            d.spare[i] = static_cast<float>(i) + 1.5f;
        }
        d.offset_Ib = 3;
        d.pump1_ontime = 7;
        std::snprintf(d.pump_SN, sizeof d.pump_SN, "P1");
        std::snprintf(d.pump2_SN, sizeof d.pump2_SN, "P2");
        std::snprintf(d.deploy_note, sizeof d.deploy_note, "DN");
        std::snprintf(d.board_fab_note, sizeof d.board_fab_note, "BF");
    });
    auto r = test::run_script(o, typed({"1", "S", "9"}), 20);
    std::ifstream in(VARVE_CONFIG_TEST_DIR "/record_dump.txt", std::ios::binary);
    std::string expect;
    for (std::string line; std::getline(in, line);) {
        expect += line + "\r\n";
    }
    ASSERT_FALSE(expect.empty());
    const auto at = r.transcript.find("\r\n// ------ sys_data EEPROM structure");
    ASSERT_NE(at, std::string::npos) << r.transcript;
    EXPECT_EQ(r.transcript.substr(at + 2, expect.size()), expect);
}

TEST(RecordEditor, MetadataRepliesCutToTheirLimit)
{
    auto o = board("meta");
    auto r = test::run_script(
        o, typed({"1", "8", "", "", std::string(40, 'S'), "T1", "", "", "", "", "", "", "", "9"}), 30);
    EXPECT_NE(r.transcript.find("\r\nMetadata Settings:\r\n"), std::string::npos);
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(std::string(d.board_SN), std::string(22, 'S'));
    EXPECT_STREQ(d.tamb_SN, "T1");
    EXPECT_STREQ(d.fileName, "noname.txt");
}

TEST(RecordEditor, DeploymentConfiguredFromTheConsole)
{
    auto o = board("fullcfg");
    auto script = typed({"1", "2", "moor1.txt", "JS", "3", "n", "60",    "", "", "9.5", "", "8",
                         "",  "",  "VB-7",      "",   "",  "",  "DF-42", "", "", "",    "", "9"}) +
                  typed({"2", "first"});
    auto r = test::run_script(o, script, 200);
    const std::string file = card_file(o.board_dir, "moor1.txt");
    ASSERT_FALSE(file.empty()) << r.transcript;
    EXPECT_NE(file.find("// Board SN:      \tVB-7\r\n"), std::string::npos);
    EXPECT_NE(file.find("// DuraFET SN:    \tDF-42\r\n"), std::string::npos);
    EXPECT_NE(file.find("// User initials: \tJS\r\n"), std::string::npos);
    EXPECT_NE(file.find("// Low battery voltage:\t9.5\r\n"), std::string::npos);
    EXPECT_NE(file.find("// Deploy note:   \tfirst\r\n"), std::string::npos);
    EXPECT_NE(file.find("// Sampling period (s)\t60\r\n"), std::string::npos);
    EXPECT_GE(records(file).size(), 2u);
}

// nan and inf parse as numbers: the walk keeps the stored value and says so.
TEST(RecordEditor, WalkRefusesNumbersThatAreNotFinite)
{
    auto o = board("walk-nan");
    test::run_script(o, "", 1);
    const systemData before = stored_config(o.board_dir);
    // low_batt_volt (4), k0int (8), shTherm_A (15), default_sal (17).
    auto r = test::run_script(o, walk({{4, "nan"}, {8, "inf"}, {15, "-inf"}, {17, "-nan"}}), 60);
    EXPECT_EQ(test::count(r.transcript, "\r\nNot a finite number: value kept\r\n"), 4);
    const systemData after = stored_config(o.board_dir);
    EXPECT_EQ(after.low_batt_volt, before.low_batt_volt);
    EXPECT_EQ(after.k0int, before.k0int);
    EXPECT_EQ(after.shTherm_A, before.shTherm_A);
    EXPECT_EQ(after.default_sal, before.default_sal);
}

// Key Z: a data rate the converter does not have is asked again, also when
// Enter would keep a stored one.
TEST(ConverterFields, RatesTheConverterDoesNotHaveAreRefused)
{
    auto o = board("rates", [](systemData& d) {
        d.Vrsi_sps = 20;
        d.Vrse_sps = 7;
    });
    // Vrsi_sps: 0, then -1, then 40; Vrsi_trials: Enter; Vrse_sps: Enter
    // (the stored 7 is refused too), then 2000; the other sixteen prompts
    // Enter.
    std::string script = typed({"1", "Z", "0", "-1", "40", "", "", "2000"});
    for (int i = 0; i < 16; ++i) {
        script += keys(0.2, "\\r");
    }
    auto r = test::run_script(o, script + typed({"9"}), 40);
    const std::string rates =
        ": the converter's data rates are 5, 10, 20, 40, 80, 160, 320, 640, 1000 and 2000\r\n";
    EXPECT_NE(r.transcript.find("\r\nVrsi_sps 0" + rates), std::string::npos) << r.transcript;
    EXPECT_NE(r.transcript.find("\r\nVrsi_sps 4294967295" + rates), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nVrse_sps 7" + rates), std::string::npos);
    EXPECT_EQ(test::count(r.transcript, rates), 3);
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.Vrsi_sps, 40u);
    EXPECT_EQ(d.Vrse_sps, 2000u);
}
