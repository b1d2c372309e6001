// The configuration menu and its guided editors, as an operator uses them.
#include "records/system_data.h"
#include "tests/config/config_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace deploytest;
using namespace configtest;

namespace {

const std::string STORED = "\r\n\r\nSystem data stored.  -- Press enter to bring up main menu\r\n";
const std::string STORE_FAILED = "\r\n\r\nError storing system data.\r\n";
const std::string PERIOD_DIVIDE =
    "\r\nSample period must evenly divide hour (e.g. 5, 10, 15, 20, 30 minutes)";
const std::string PERIOD_MAX = "\r\nEnter time less than or equal to 3600 sec";

} // namespace

TEST(ConfigMenu, EnterAloneStoresAndLeaves)
{
    auto o = board("enter", [](systemData& d) { d.sampling_period = 77; });
    auto r = test::run_script(o, typed({"1", ""}), 10);
    EXPECT_NE(r.transcript.find("\r\n\r\n\r\nConfiguration Menu:\r\n1 -- Set Clock\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nEnter Selection [9]: "), std::string::npos);
    EXPECT_NE(r.transcript.find(STORED), std::string::npos);
    EXPECT_EQ(test::count(r.transcript, "Main Menu --"), 2); // back in the main menu
}

TEST(ConfigMenu, StoreFailureIsReported)
{
    auto o = board("storefail");
    o.faults.eeprom_program = true;
    // A changed file name gives the store something to program.
    auto r = test::run_script(o, typed({"1", "2", "new.txt", "", "9"}), 10);
    EXPECT_NE(r.transcript.find(STORE_FAILED), std::string::npos);
    EXPECT_EQ(r.transcript.find(STORED), std::string::npos);
}

TEST(ConfigMenu, IdleMenuSleepsAfter300Seconds)
{
    auto before = test::run_script(board("idle1"), typed({"1"}), 299);
    EXPECT_EQ(before.transcript.find("Sleeping"), std::string::npos);
    auto after = test::run_script(board("idle2"), typed({"1"}), 303);
    EXPECT_NE(after_last(after.transcript, "Configuration Menu:").find("Sleeping"), std::string::npos);
}

TEST(ConfigMenu, SamplePeriodChecks)
{
    auto o = board("period");
    // Aligned: 7 refused, 3601 refused, 3600 accepted; then not aligned: 7
    // accepted, and 0 gives polled mode.
    auto script = typed({"1", "3", "y", "7", "3601", "3600", "", "", "", "", "9"}) +
                  typed({"1", "3", "n", "7", "", "", "", "", "9"}) +
                  typed({"1", "3", "n", "0", "", "", "", "", "9"});
    auto r = test::run_script(o, script, 60);
    EXPECT_EQ(test::count(r.transcript, PERIOD_DIVIDE), 2); // 7 and 3601
    EXPECT_EQ(test::count(r.transcript, PERIOD_MAX), 0);
    EXPECT_NE(r.transcript.find("Sample period now 3600 sec.\r\n\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("Sample period now 7 sec.\r\n\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nSample period is zero - polled mode\r\nSample period now 0 sec."),
              std::string::npos);
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.sampling_period, 0u);
    EXPECT_EQ(d.sample_aligned, 0);
}

TEST(ConfigMenu, PeriodAboveAnHourRefusedWhenNotAligned)
{
    auto r = test::run_script(board("period2"), typed({"1", "3", "n", "3601", "", "", "", "", "", "9"}), 30);
    EXPECT_NE(r.transcript.find(PERIOD_MAX), std::string::npos);
}

TEST(ConfigMenu, LowBatteryBoundsAndSampleTimeEstimate)
{
    auto o = board("lowbatt");
    auto script = typed({"1", "3", "n", "", "", "", "30.1", "30", "", "9"}) +
                  typed({"1", "3", "n", "2", "", "", "0", "", "9"}) +
                  typed({"1", "3", "n", "3", "", "", "", "2", "9"});
    auto r = test::run_script(o, script, 60);
    EXPECT_EQ(test::count(r.transcript, "\r\nEnter voltage less than 30 V"), 1);
    EXPECT_NE(r.transcript.find("\r\nLow battery_voltage now [30.0 V]\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nLow battery_voltage now [0.0 V]\r\n"), std::string::npos);
    // Default configuration: 2.30 s.
    EXPECT_NE(
        r.transcript.find("\r\nEstimated sample time = 2.30 sec in polled mode (sample period is 0)\r\n"),
        std::string::npos);
    EXPECT_NE(
        r.transcript.find("\r\nError: Estimated sample time = 2.30 sec, is greater than sample period = 2 "
                          "sec.  Increase sample period\r\n"),
        std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nEstimated sample time = 2.30 sec, sample period = 3 sec\r\n"),
              std::string::npos);
    EXPECT_NE(r.transcript.find("\r\n\r\nOutput mode now: VERBOSE"), std::string::npos);
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.low_batt_volt, 0.0f);
    EXPECT_EQ(d.output, VERBOSE);
    EXPECT_EQ(d.sampling_period, 3u);
}

TEST(ConfigMenu, TwoPumpSequenceBounds)
{
    auto o = board("pumps");
    auto r = test::run_script(
        o, typed({"1", "P", "3", "2", "18001", "18000", "-1", "5", "1001", "1000", "", "9"}), 30);
    EXPECT_NE(r.transcript.find("\r\nEnter 1 or 2"), std::string::npos);
    EXPECT_EQ(test::count(r.transcript, "\r\nEnter a number less than or equal to 18000 seconds"), 2);
    EXPECT_EQ(test::count(r.transcript, "\r\nEnter a number less than 1000 cycles"), 1);
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.pump_seq_type, 2u);
    EXPECT_EQ(d.pump1_ontime, 18000u);
    EXPECT_EQ(d.pump2_ontime, 5u);
    EXPECT_EQ(d.pump1_cycles, 1000u);
    EXPECT_EQ(d.pump2_cycles, 0u); // empty reply keeps it

    // Back to one pump: Enter may not keep the two-pump run time of 18000 s.
    r = test::run_script(o, typed({"1", "P", "1", "", "60", "9"}), 30);
    EXPECT_EQ(test::count(r.transcript, "\r\nEnter time less than 3600 sec"), 1) << r.transcript;
    EXPECT_EQ(stored_config(o.board_dir).pump1_ontime, 60u);
}

TEST(ConfigMenu, CalibrationCoefficientsRangeAndEmptyReplies)
{
    auto o = board("coeff");
    // k0int 2.5 refused then -0.39; k0ext garbage keeps; the rest kept;
    // c0 600 refused then 341.5.
    auto r = test::run_script(
        o, typed({"1", "4", "2.5", "-0.39", "abc", "", "", "401", "", "", "600", "341.5", "", "", "", "9"}),
        40);
    EXPECT_NE(r.transcript.find("Enter number between -2 and 2 (ex. -0.4)\r\n\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("Enter a reasonable TCOffset such as 0.0\r\n\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("c0 = 341.50000000000"), std::string::npos);
    const systemData d = stored_config(o.board_dir);
    EXPECT_FLOAT_EQ(d.k0int, -0.39f);
    EXPECT_FLOAT_EQ(d.k0ext, -1.3f);
    EXPECT_FLOAT_EQ(d.TCOffset, 0.0f);
    EXPECT_DOUBLE_EQ(d.quadTherm_c0, 341.5);
    EXPECT_DOUBLE_EQ(d.quadTherm_c1, -9.10257E-05);
}

TEST(ConfigMenu, DataFieldLettersAndCoupledFields)
{
    auto o = board("fields", [](systemData& d) {
        for (auto& c : d.data_cfg) {
            c = 0;
        }
    });
    // K switches on five fields; h switches off the thermistor and both pH
    // fields; V then X leave only the radiometer; W then Ctrl-X leaves no CTD;
    // B then Ctrl-X leaves the date time stamp; 'a' after 'A' clears.
    auto r = test::run_script(
        o, typed({"1", "7", "K", "M", "h", "A", "a", "V", "X", "W", "\\x18", "B", "\\x18", "9", "9"}), 40);
    EXPECT_NE(r.transcript.find("Select CTD type[0]:  1 -- SBE37 MicroCat, 2 -- Aanderaa 5860  "),
              std::string::npos);
    EXPECT_NE(r.transcript.find("Select Timestamp type[1]:  1 -- MM/DD/YYYY HH:MM:SS, 2 -- Epoch millisec "),
              std::string::npos);
    EXPECT_NE(r.transcript.find("\r\n\r\nSystem data stored. (910) -- Press enter to bring up main menu\r\n"),
              std::string::npos);
    const systemData d = stored_config(o.board_dir);
    const unsigned char* c = d.data_cfg;
    EXPECT_EQ(c[CFG_CALC_PH_VRSI], 0);
    EXPECT_EQ(c[CFG_CALC_PH_VRSE], 0);
    EXPECT_EQ(c[CFG_V_THERMISTOR], 0);
    EXPECT_EQ(c[CFG_V_THERMISTOR_STD], 0);
    EXPECT_EQ(c[CFG_CALC_TEMP], 1);
    EXPECT_EQ(c[CFG_VRSI], 1);
    EXPECT_EQ(c[CFG_VRSE], 1);
    EXPECT_EQ(c[CFG_VRSI_STD], 0);
    EXPECT_EQ(c[CFG_SAMPLE_NUM], 0);
    EXPECT_EQ(c[CFG_OPTODE], 0);
    EXPECT_EQ(c[CFG_OCR], 1);
    EXPECT_EQ(c[CFG_CTD], 0);
    EXPECT_EQ(c[CFG_TIMESTAMP], 1);
    EXPECT_EQ(d.fast_mode, 1u);
}

TEST(ConfigMenu, PresetsStoreTheirFields)
{
    struct Case {
        const char* key;
        std::vector<int> on;
        const char* line;
    };
    const Case cases[] = {
        {"0", {}, "\r\n0 -- Zero (Clear) all config fields"},
        {"2", {0, 1, 8, 9, 15, 16, 17, 18, 19, 20}, "Default ADS1248 sps and trial settings\r\n"},
        {"3",
         {0, 1, 2, 3, 4, 5, 6, 7, 15, 16, 17, 18, 19, 20, 21, 22, 23},
         "Default ADS1248 sps and trial settings\r\n"},
        {"5",
         {0, 2, 3, 4, 5, 6, 7, 11, 15, 16, 17, 18, 19, 20, 21, 22, 23},
         "MicroSD data logging is Disabled\r\nConsole echo of deployment commands is disabled\r\n"},
        {"6", {0, 1, 2, 3, 4, 8, 9, 15, 16, 17, 18, 20, 22, 23}, "Data logging is Disabled\r\n"},
    };
    for (const Case& k : cases) {
        auto o = board(std::string("preset") + k.key, [](systemData& d) { d.data_cfg[CFG_SPARE3] = 1; });
        auto r = test::run_script(o, typed({"1", "7", k.key, "9", "9"}), 20);
        EXPECT_NE(r.transcript.find(k.line), std::string::npos) << k.key;
        const systemData d = stored_config(o.board_dir);
        for (int i = 0; i <= CFG_OCR; ++i) {
            const bool on = std::find(k.on.begin(), k.on.end(), i) != k.on.end();
            EXPECT_EQ(d.data_cfg[i], on ? 1 : 0) << "preset " << k.key << " index " << i;
        }
        EXPECT_EQ(d.data_cfg[CFG_SPARE3], 1) << k.key; // spares never touched
    }
}

TEST(ConfigMenu, PresetsWithTypePromptsAndWireWalker)
{
    auto o = board("preset147");
    auto r = test::run_script(o, typed({"1", "7", "1", "1", "4", "2", "7", "9", "9"}), 30);
    EXPECT_NE(r.transcript.find("\r\nVORN config and fast sample for wire walker\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find(
                  "Changes from default ADS1248 sps and trials:\r\n   Vrse_sps = 20\r\n   Vrse_trials = "
                  "5\r\n   Vk_sps = 320\r\n   Vk_trials = 3\r\n   Ik_sps = 160\r\n   Ik_trials = 1\r\n  "
                  " Ib_sps = 160\r\n   Ib_trials = 1\r\n\r\nSampling period = 2\r\nMicroSD data logging "
                  "is Disabled\r\nTimestamp in Epoch millisec format\r\n"),
              std::string::npos);
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.data_cfg[CFG_SAMPLE_NUM], 0);
    EXPECT_EQ(d.data_cfg[CFG_TIMESTAMP], 2);
    EXPECT_EQ(d.data_cfg[CFG_CTD], 0); // preset 7 after 4 (which chose the 5860)
    EXPECT_EQ(d.data_cfg[CFG_OPTODE], 0);
    EXPECT_EQ(d.Vk_sps, 320u);
    EXPECT_EQ(d.sampling_period, 2u);
    EXPECT_EQ(d.app_cfg[APPCFG_MICROSD_ENABLE], 0);
    // Preset 1 chose the SBE37 through its prompt; preset 4 the 5860.
    EXPECT_NE(r.transcript.find("Select CTD type[0]:"), std::string::npos);
    EXPECT_NE(r.transcript.find("Select CTD type[1]:"), std::string::npos);
}

TEST(ConfigMenu, AppOptionsStoredAfterEachAnswer)
{
    auto o = board("appcfg");
    // Stop the run while the echo question waits: the first answer is stored.
    auto r = test::run_script(o, typed({"1", "A", "n"}), 4.5);
    EXPECT_NE(r.transcript.find("MicroSD card DISabled, no Logging\r\n\r\n"), std::string::npos);
    EXPECT_EQ(stored_config(o.board_dir).app_cfg[APPCFG_MICROSD_ENABLE], 0);
    EXPECT_EQ(stored_config(o.board_dir).app_cfg[APPCFG_DEPLOY_UARTECHO], 1);
    auto o2 = board("appcfg2");
    auto r2 = test::run_script(o2, typed({"1", "A", "", "n"}), 6);
    EXPECT_NE(r2.transcript.find("Deployment command character echo Disabled for m2m\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(stored_config(o2.board_dir).app_cfg[APPCFG_DEPLOY_UARTECHO], 0);
    EXPECT_EQ(stored_config(o2.board_dir).app_cfg[APPCFG_MICROSD_ENABLE], 1);
}

TEST(ConfigMenu, ClockFileNameAndInitials)
{
    auto o = board("clock");
    auto r = test::run_script(
        o, typed({"1", "1", "y", "03/04/26 05:06:07", "2", "averyveryverylongname.txt", "ABCDEFGHIJ", "9"}),
        30);
    EXPECT_NE(r.transcript.find("\r\nTime now: 03/04/26 05:06:0"), std::string::npos);
    EXPECT_NE(r.transcript.find(" GMT\r\n\r\nNote: Daylight Savings not observed."), std::string::npos);
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.GMT, 1);
    EXPECT_STREQ(d.fileName, "averyveryverylo"); // cut at 15 characters
    EXPECT_STREQ(d.user, "ABCDEFG");

    // Enter at both questions keeps the clock and its GMT flag.
    auto o2 = o;
    auto r2 = test::run_script(o2, typed({"1", "1", "", "", "9"}), 20);
    EXPECT_NE(r2.transcript.find("\r\n\r\nIs time GMT? (Y/N) [Y]? "), std::string::npos) << r2.transcript;
    EXPECT_EQ(stored_config(o.board_dir).GMT, 1);
}
