// Deployments as a user runs them: varve-sim runs the firmware from a timed
// script; the tests read the console transcript, the card and the stores.
#include "platform/host/host_periph.h"
#include "records/system_data.h"
#include "tests/deployment/deploy_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace deploytest;

namespace {

const std::string START_MSG =
    "\r\n\r\nStarting deployment...       Hit a key, then type 'stop' to end deployment.";
const std::string SLEEPING = "\r\n\r\nSleeping...*";
const std::string MENU_TITLE = "Main Menu -- v4.1.2 Varve revB";

// "HH:MM:SS" of a record's date-form time stamp.
std::string record_time(const std::string& record)
{
    auto f = fields(record);
    return f.size() > 1 && f[1].size() == 19 ? f[1].substr(11) : "";
}

int seconds_of_day(const std::string& hms)
{
    int h = 0, m = 0, s = 0;
    std::sscanf(hms.c_str(), "%d:%d:%d", &h, &m, &s);
    return h * 3600 + m * 60 + s;
}

ConfigFn timed(uint32_t period, bool aligned = false)
{
    return [=](systemData& d) {
        d.sampling_period = period;
        d.sample_aligned = aligned ? 1 : 0;
    };
}

// Main menu "2", then the note (or none).
std::string start_keys(const std::string& note = "")
{
    return keys(1, "2\\r") + keys(1, note + "\\r");
}

} // namespace

TEST(Deployment, TimedDeploymentFillsTheDataFile)
{
    auto o = board("timed", timed(60));
    auto r = test::run_script(o, start_keys("first mooring"), 300);
    EXPECT_NE(r.transcript.find("\r\nEnter Deployment Note [ ]: first mooring"), std::string::npos);
    EXPECT_NE(r.transcript.find(START_MSG + "\r\n"), std::string::npos);
    EXPECT_EQ(r.transcript.find("pump"), std::string::npos); // no pump fitted: no pump questions

    const std::string file = card_file(o.board_dir, "noname.txt");
    ASSERT_EQ(file.rfind("\r\n\r\n//++************** Deployment Settings ***************\r\n", 0), 0u)
        << file;
    EXPECT_EQ(test::count(file, "//++****"), 1);
    EXPECT_NE(file.find("// Deploy note:   \tfirst mooring\r\n"), std::string::npos);
    EXPECT_NE(file.find("// Sampling period (s)\t60\r\n"), std::string::npos);
    EXPECT_NE(file.find("// Deploy time:   \t2026/01/15 12:00:02\r\n"), std::string::npos);
    EXPECT_EQ(test::count(file, " SampNum\t"), 1);
    auto recs = records(file);
    ASSERT_EQ(recs.size(), 5u) << file;
    // Started at 12:00:01 (the "2"): the first sample about 2 s after the
    // dialogue, then every 60 s from the start.
    const int first = seconds_of_day(record_time(recs[0]));
    EXPECT_GE(first, 12 * 3600 + 3);
    EXPECT_LE(first, 12 * 3600 + 5);
    const char* times[] = {"12:01:01", "12:02:01", "12:03:01", "12:04:01"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(record_time(recs[i + 1]), times[i]);
        EXPECT_EQ(recs[i + 1].substr(0, 8), "#000000" + std::to_string(i + 1));
    }
    // Each record is on the console too, and the header names its columns.
    for (const auto& rec : recs) {
        EXPECT_NE(r.transcript.find(rec), std::string::npos);
        EXPECT_EQ(fields(rec).size(), 20u);
    }
    std::string out;
    EXPECT_EQ(card_cmd(o.board_dir, "fsck", &out), 0) << out;
    const systemSamplingData s = stored_progress(o.board_dir);
    EXPECT_EQ(s.state, DEPLOYED);
    EXPECT_EQ(s.current_sample, 5u);
}

TEST(Deployment, WakesStoreNoConfigurationWordsWhenNothingChanged)
{
    auto o = board("eeprom-words", timed(60));
    auto config_hook = o.boot_hook;
    const std::string log = o.board_dir + "-words.txt";
    std::remove(log.c_str());
    o.boot_hook = [config_hook, log](int boot) {
        config_hook(boot);
        std::ofstream(log, std::ios::app) << sim::eeprom_words_programmed() << "\n";
    };
    test::run_script(o, start_keys(), 300);
    std::ifstream in(log);
    std::vector<unsigned long long> at_boot;
    for (unsigned long long n; in >> n;) {
        at_boot.push_back(n);
    }
    // The count includes the provisioning of the new board (the whole
    // record, 318 words).  Boot 1 starts the deployment: only the words of
    // the deploy time change.  Boots 2 to 6 are the sampling wakes.
    ASSERT_EQ(at_boot.size(), 6u);
    EXPECT_EQ(at_boot[0], 318u);
    EXPECT_EQ(at_boot[1] - at_boot[0], 1u);
    for (std::size_t i = 2; i < at_boot.size(); ++i) {
        EXPECT_EQ(at_boot[i], at_boot[1]) << "wake " << i;
    }
}

TEST(Deployment, NoNoteWithinThirtySecondsLeavesASpace)
{
    auto o = board("no-note", timed(600));
    auto r = test::run_script(o, keys(1, "2\\r"), 60);
    EXPECT_NE(r.transcript.find("\r\nEnter Deployment Note [ ]: \r\n \r\n\r\n\r\n//++***"), std::string::npos)
        << r.transcript;
    EXPECT_NE(card_file(o.board_dir, "noname.txt").find("// Deploy note:   \t \r\n"), std::string::npos);
    auto recs = records(r.transcript);
    ASSERT_EQ(recs.size(), 1u);
    // The note prompt gave up after 30 s; the first sample 2 s later.
    const int first = seconds_of_day(record_time(recs[0]));
    EXPECT_GE(first, 12 * 3600 + 33);
    EXPECT_LE(first, 12 * 3600 + 35);
}

TEST(Deployment, PumpQuestionsAndThePumpBeforeEachSample)
{
    auto o = board("pump", [](systemData& d) {
        d.sampling_period = 60;
        d.pump1_ontime = 5;
        d.pump_seq_type = 1;
    });
    o.timeline_file = o.board_dir + "-timeline.txt";
    auto r = test::run_script(o, keys(1, "2\\r") + keys(1, "n\\r") + keys(1, "n\\r") + keys(1, "\\r"), 90);
    EXPECT_NE(r.transcript.find("\r\nSBE pump will run and must be immersed at start time!\r\n"),
              std::string::npos);
    EXPECT_NE(r.transcript.find(
                  "\r\n\r\n    Pump Test Mode ([Y] allows testing without activating pump)? (Y/N) [N]? "),
              std::string::npos);
    EXPECT_NE(r.transcript.find("\r\n\r\n    Enter pump delayed start? (Y/N) [N]? "), std::string::npos);
    EXPECT_NE(r.transcript.find(START_MSG + "  Ctrl-X <Enter> to terminate pump cycle\r\n"),
              std::string::npos);
    const std::string file = card_file(o.board_dir, "noname.txt");
    EXPECT_NE(file.find("// Pump start delay: \t0\r\n// Pump seq type:   \tPUMP_SINGLE\r\n"
                        "// Pump on time (s):\t5\r\n"),
              std::string::npos);
    ASSERT_EQ(records(file).size(), 2u);
    // Pump 1 (PD1) runs 5 s before each sample.
    std::ifstream tl(o.timeline_file);
    std::string line;
    std::vector<double> on, off;
    while (std::getline(tl, line)) {
        double t;
        char name[32];
        int level;
        if (std::sscanf(line.c_str(), "%lf %31s %d", &t, name, &level) == 3 && std::string(name) == "PD1") {
            (level != 0 ? on : off).push_back(t);
        }
    }
    ASSERT_EQ(on.size(), 2u);
    ASSERT_EQ(off.size(), 2u);
    EXPECT_NEAR(off[0] - on[0], 5.0, 0.2);
    EXPECT_NEAR(off[1] - on[1], 5.0, 0.2);
    // The schedule starts when the last pump question is answered
    // (12:00:03), not at the "2": the 12:01:03 wake.
    EXPECT_NEAR(on[1], 63.0, 0.6);
    EXPECT_NE(file.find("// Deploy time:   \t2026/01/15 12:00:04\r\n"), std::string::npos) << file;
}

TEST(Deployment, PumpTestModeAndDelayedStartEntries)
{
    auto cfg = [](systemData& d) {
        d.sampling_period = 600;
        d.pump1_ontime = 5;
        d.pump_seq_type = 1;
    };
    // Test mode, a delay of 5 minutes.
    auto o = board("pump-delay", cfg);
    auto r = test::run_script(o,
                              keys(1, "2\\r") + keys(1, "y\\r") + keys(1, "y\\r") + keys(1, "y\\r") +
                                  keys(1, "5\\r") + keys(1, "\\r"),
                              30);
    EXPECT_NE(r.transcript.find("\r\nPump test mode active\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nEnter delay [0] min: 5"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nPump start delay is 5 minutes, pump starts at 01/15/26 12:05:0"),
              std::string::npos)
        << r.transcript;
    std::string file = card_file(o.board_dir, "noname.txt");
    EXPECT_NE(file.find("// Pump delay until:\t2026/01/15 12:05:0"), std::string::npos);
    EXPECT_NE(file.find("// Pump on time (s):\t5  (TEST MODE, pump disabled)\r\n"), std::string::npos);
    EXPECT_EQ(stored_config(o.board_dir).test_mode, 1u);
    EXPECT_NE(r.transcript.find("\r\nPump on (test mode)\r\n"), std::string::npos);

    // A delay that is not a number: no delayed start.
    o = board("pump-abc", cfg);
    r = test::run_script(o,
                         keys(1, "2\\r") + keys(1, "n\\r") + keys(1, "y\\r") + keys(1, "\\r") +
                             keys(1, "abc\\r") + keys(1, "\\r"),
                         20);
    file = card_file(o.board_dir, "noname.txt");
    EXPECT_NE(file.find("// Pump start delay: \t0\r\n"), std::string::npos) << r.transcript;
    EXPECT_EQ(stored_config(o.board_dir).start_pump_time, 0u);
}

TEST(Deployment, AlignedScheduleFollowsTheHour)
{
    auto o = board("aligned", timed(600, true));
    test::run_script(o, start_keys(), 1500);
    auto recs = records(card_file(o.board_dir, "noname.txt"));
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(record_time(recs[1]), "12:10:00");
    EXPECT_EQ(record_time(recs[2]), "12:20:00");
}

TEST(Deployment, HourlyAlignedStartJustBeforeTheHour)
{
    auto o = board("aligned-hour", timed(3600, true));
    o.start = "2026-01-15 10:59:57";
    // The "2" arrives at 10:59:59.
    auto r = test::run_script(o, keys(2.5, "2\\r") + keys(0.1, "\\r"), 3 * 3600 + 60);
    auto recs = records(r.transcript);
    ASSERT_EQ(recs.size(), 4u) << r.transcript;
    const int first = seconds_of_day(record_time(recs[0]));
    EXPECT_GE(first, 11 * 3600 + 1);
    EXPECT_LE(first, 11 * 3600 + 2);
    EXPECT_EQ(record_time(recs[1]), "12:00:00");
    EXPECT_EQ(record_time(recs[2]), "13:00:00");
    EXPECT_EQ(record_time(recs[3]), "14:00:00");
}

TEST(Deployment, OverrunIsCaughtUpAndAConsoleWakeKeepsThePendingSlot)
{
    auto o = board("catch-up", timed(600));
    o.start = "2026-01-15 10:03:15";
    // Started at 10:03:17.  At 10:12:00 a key wakes the controller and an
    // exchange of empty lines keeps it awake until 10:48:00.
    std::string script;
    double last = 0;
    auto at = [&](double when, const std::string& text) {
        script += keys(when - last, text);
        last = when;
    };
    at(2.2, "2\\r");
    at(2.3, "\\r");
    const double wake_at = 525;    // 10:12:00
    const double resume_at = 2685; // 10:48:00
    at(wake_at, "x");
    int empty_lines = 0;
    for (double t = wake_at + 1; t < resume_at; t += 4) {
        at(t, "\\r");
        ++empty_lines;
    }
    at(resume_at, "go\\r");
    auto r = test::run_script(o, script, 3725);
    auto recs = records(r.transcript);
    ASSERT_EQ(recs.size(), 7u) << r.transcript.substr(r.transcript.size() - 3000);
    const int first = seconds_of_day(record_time(recs[0]));
    EXPECT_GE(first, 10 * 3600 + 3 * 60 + 19);
    EXPECT_LE(first, 10 * 3600 + 3 * 60 + 20);
    // The pending 10:13:17 slot was kept: its sample and those of the
    // 10:23:17, 10:33:17 and 10:43:17 slots follow the exchange back to
    // back, about 2 s plus a sample apart, until the 10:53:17 slot lies
    // ahead.
    const int resumed = 10 * 3600 + 48 * 60;
    int prev = resumed;
    for (int i = 1; i <= 4; ++i) {
        const int t = seconds_of_day(record_time(recs[i]));
        EXPECT_GE(t - prev, 2) << i;
        EXPECT_LE(t - prev, 6) << i;
        prev = t;
    }
    EXPECT_EQ(record_time(recs[5]), "10:53:17");
    EXPECT_EQ(record_time(recs[6]), "11:03:17");
    EXPECT_EQ(test::count(r.transcript, "NAK\r\n"), empty_lines);
}

TEST(Deployment, TakeSampleAtAConsoleWakeLeavesTheScheduleAlone)
{
    auto o = board("ts-timed", timed(600));
    // Started 12:00:01; wakes due at 12:10:01, 12:20:01.  At 12:05 "ts".
    auto r = test::run_script(o, start_keys() + keys(300, "x") + keys(1, "ts\\r"), 1300);
    auto recs = records(r.transcript);
    ASSERT_EQ(recs.size(), 4u) << r.transcript;
    EXPECT_EQ(record_time(recs[1]).substr(0, 5), "12:05");
    EXPECT_EQ(record_time(recs[2]), "12:10:01");
    EXPECT_EQ(record_time(recs[3]), "12:20:01");
    EXPECT_EQ(records(card_file(o.board_dir, "noname.txt")).size(), 4u);
}

TEST(Deployment, AHostCheckingEveryPeriodCancelsNoSample)
{
    auto o = board("host-checks", timed(60));
    // Started 12:00:01.  From 12:00:31 on, a host wakes the board every
    // minute, half way between the slots, and fetches the new records.
    std::string script = start_keys();
    script += keys(28, "x") + keys(0.5, "gdata\\r");
    for (int i = 1; i < 12; ++i) {
        script += keys(59.5, "x") + keys(0.5, "gdata\\r");
    }
    auto r = test::run_script(o, script, 12 * 60 + 10);
    auto recs = records(card_file(o.board_dir, "noname.txt"));
    // The first sample and one for each of the twelve minutes.
    ASSERT_EQ(recs.size(), 13u) << r.transcript;
    for (int i = 1; i < 13; ++i) {
        char t[16];
        std::snprintf(t, sizeof t, "12:%02d:01", i);
        EXPECT_EQ(record_time(recs[i]), t);
    }
    EXPECT_EQ(stored_progress(o.board_dir).state, DEPLOYED);
}

TEST(Deployment, StopEndsTheDeploymentAtAConsoleWake)
{
    auto o = board("stop-timed", timed(600));
    auto r = test::run_script(o, start_keys() + keys(300, "x") + keys(1, "stopping\\r"), 400);
    EXPECT_NE(r.transcript.find("stopping"), std::string::npos);
    EXPECT_NE(r.transcript.find(MENU_TITLE, r.transcript.find("stopping")), std::string::npos);
    EXPECT_EQ(stored_progress(o.board_dir).state, IDLE);
}

TEST(Deployment, ASecondDeploymentStartsItsOwnProgress)
{
    // Deployed (12:00:01), stopped at 12:02:31 after three samples, deployed
    // again at 12:02:34 on the same board: the second deployment numbers its
    // samples from 0 with its own schedule, and "gdata" starts after its own
    // metadata.
    auto o = board("redeploy", timed(60));
    auto r = test::run_script(
        o, start_keys("one") + keys(148, "x") + keys(1, "stop\\r") + keys(3, "2\\r") + keys(1, "two\\r"),
        420);
    const std::string file = card_file(o.board_dir, "noname.txt");
    const std::size_t second = file.find("// Deploy note:   \ttwo\r\n");
    ASSERT_NE(second, std::string::npos) << file;
    auto first_recs = records(file.substr(0, second));
    auto recs = records(file.substr(second));
    ASSERT_EQ(first_recs.size(), 3u) << file;
    ASSERT_EQ(recs.size(), 5u) << file.substr(second);
    for (std::size_t i = 0; i < recs.size(); ++i) {
        EXPECT_EQ(recs[i].substr(0, 8), "#000000" + std::to_string(i)) << recs[i];
    }
    // The first sample a few seconds after the start (12:02:34), the next a
    // period after the start: not on the first deployment's schedule.
    const int start = 12 * 3600 + 2 * 60 + 34;
    EXPECT_GE(seconds_of_day(record_time(recs[0])) - start, 2);
    EXPECT_LE(seconds_of_day(record_time(recs[0])) - start, 6);
    EXPECT_GE(seconds_of_day(record_time(recs[1])) - start, 60);
    EXPECT_LE(seconds_of_day(record_time(recs[1])) - start, 62);
    const systemSamplingData s = stored_progress(o.board_dir);
    EXPECT_EQ(s.current_sample, 5u);
    EXPECT_GT(s.next_gdata_fptr, second);
    EXPECT_LE(s.next_gdata_fptr, file.find(recs[0]));
}

TEST(Deployment, RefusedWithoutACard)
{
    auto o = board("no-card", timed(600));
    o.params["card"] = "none";
    auto r = test::run_script(o, start_keys(), 60);
    EXPECT_EQ(r.transcript.rfind("\r\nError: MicroSD card is not detected\r\n", 0), 0u);
    EXPECT_NE(r.transcript.find("f_open error: "), std::string::npos);
    EXPECT_NE(
        r.transcript.find("\r\n\r\nFile system error, check SD Card, sleeping in IDLE state\r\n" + SLEEPING),
        std::string::npos)
        << r.transcript;
    EXPECT_EQ(r.transcript.find("Starting deployment"), std::string::npos);
    EXPECT_EQ(stored_progress(o.board_dir).state, IDLE);
    EXPECT_TRUE(records(r.transcript).empty());
}

TEST(Deployment, LowBatteryEndsTheDeployment)
{
    auto o = board("low-battery", timed(60));
    o.params["vbat"] = "9.0";
    o.params["noise"] = "off";
    auto r = test::run_script(o, start_keys(), 200);
    EXPECT_EQ(test::count(r.transcript, "\r\nLow battery voltage (9.00 < 10.00) !\r\n"), 4);
    EXPECT_NE(
        r.transcript.find("\r\nLow battery voltage (9.00 < 10.00) ! Exiting deploy mode...\r\n" + SLEEPING),
        std::string::npos);
    EXPECT_TRUE(records(r.transcript).empty());
    EXPECT_EQ(stored_progress(o.board_dir).state, IDLE);
    EXPECT_NE(card_file(o.board_dir, "Error.txt").find(" Low battery! Exiting deploy mode"),
              std::string::npos);
    EXPECT_TRUE(records(card_file(o.board_dir, "noname.txt")).empty());
}

// --- Polled mode -----------------------------------------------------------------------

class Polled : public ::testing::Test {
  protected:
    // A polled deployment started and asleep.
    void start(const std::string& name, ConfigFn cfg = nullptr)
    {
        o = board(name, cfg);
        auto r = test::run_script(o, start_keys(), 10);
        ASSERT_NE(r.transcript.find("\r\n\r\nDeployed in polled mode, space to wake, then ts ...\r\n\r\n"),
                  std::string::npos);
        ASSERT_EQ(stored_progress(o.board_dir).state, COMMAND);
        o.boot_hook = nullptr;
    }
    // Wakes the controller with a key and sends the lines, `gap` s apart.
    std::string exchange(const std::vector<std::string>& lines, double until = 30, double gap = 1)
    {
        std::string script = keys(1, "x");
        for (const auto& l : lines) {
            script += keys(gap, l + "\\r");
        }
        return test::run_script(o, script, until).transcript;
    }
    sim::RunOptions o;
};

TEST_F(Polled, HostTakesAndCollectsSamples)
{
    start("polled");
    std::string t = exchange({"ts"});
    ASSERT_EQ(records(t).size(), 1u);
    EXPECT_EQ(records(t)[0].substr(0, 8), "#0000000");
    EXPECT_EQ(stored_progress(o.board_dir).state, COMMAND);

    // "ss" then "sl": the record is sent once, after it was logged.
    t = exchange({"ss", "sl"}, 30, 3);
    ASSERT_EQ(records(t).size(), 1u) << t;
    EXPECT_EQ(records(t)[0].substr(0, 8), "#0000001");

    // "ss" then another line: not sent; the exchange goes on.
    t = exchange({"ss", "xx", "gh"}, 30, 3);
    EXPECT_NE(t.find("\r\nexpected sl, received xx\r\n"), std::string::npos) << t;
    EXPECT_TRUE(records(t).empty());
    EXPECT_NE(t.find(" SampNum\t"), std::string::npos);

    // "gdata" sends the three logged records; a second one sends nothing.
    t = exchange({"gdata", "gdata", "go"}, 30, 2);
    auto recs = records(t);
    ASSERT_EQ(recs.size(), 3u) << t;
    EXPECT_EQ(recs[0].substr(0, 8), "#0000000");
    EXPECT_EQ(recs[2].substr(0, 8), "#0000002");
    EXPECT_EQ(t.find("//"), std::string::npos); // no metadata, no header
    EXPECT_EQ(test::count(t, " SampNum"), 0);
    const std::string file = card_file(o.board_dir, "noname.txt");
    EXPECT_EQ(stored_progress(o.board_dir).next_gdata_fptr, file.size());

    // One more sample, then "gdata" sends only it.
    exchange({"ts"});
    t = exchange({"gdata", "go"});
    ASSERT_EQ(records(t).size(), 1u);
    EXPECT_EQ(records(t)[0].substr(0, 8), "#0000003");
}

TEST_F(Polled, HeadersDumpAndInvalidLines)
{
    start("polled-misc");
    std::string t = exchange({"gm"});
    EXPECT_NE(t.find("//++************** Deployment Settings"), std::string::npos);
    EXPECT_NE(t.find("// s-h c0"), std::string::npos);
    const std::string file = card_file(o.board_dir, "noname.txt");

    t = exchange({"", "hello", "dump", "resume"});
    EXPECT_EQ(test::count(t, "NAK\r\n"), 2);
    EXPECT_NE(t.find("\r\n\r\nCOMMAND\r\nnow "), std::string::npos) << t;
    EXPECT_NE(t.find(", sampling period 0\r\n"), std::string::npos);
    EXPECT_EQ(card_file(o.board_dir, "noname.txt"), file); // "gm" left the file alone
}

TEST_F(Polled, PumpOnIsSwitchedOffWhenTheHostFallsSilent)
{
    start("polled-pumpon");
    o.timeline_file = o.board_dir + "-timeline.txt";
    std::string t = exchange({"pumpon"}, 30);
    EXPECT_NE(t.find("AUX-PWR1 ON\r\n"), std::string::npos);
    EXPECT_NE(t.find("AUX-PWR1 OFF (no serial activity after 10 sec, sleeping)\r\n"), std::string::npos) << t;
    std::ifstream tl(o.timeline_file);
    std::stringstream ss;
    ss << tl.rdbuf();
    EXPECT_NE(ss.str().find(" PD1 1\n"), std::string::npos);
    EXPECT_NE(ss.str().find(" PD1 0\n"), std::string::npos);

    t = exchange({"pumpon", "pumpoff"}, 30);
    EXPECT_NE(t.find("AUX-PWR1 OFF\r\n"), std::string::npos);
    EXPECT_EQ(t.find("no serial activity"), std::string::npos);
}

TEST_F(Polled, StopReturnsToTheMenu)
{
    start("polled-stop");
    std::string t = exchange({"exit"}, 20);
    EXPECT_NE(t.find(MENU_TITLE), std::string::npos);
    EXPECT_EQ(stored_progress(o.board_dir).state, IDLE);
}

TEST_F(Polled, GdataWithTheCardDisabledIsInvalid)
{
    start("polled-nocard", [](systemData& d) { d.app_cfg[APPCFG_MICROSD_ENABLE] = 0; });
    exchange({"ts"});
    std::string t = exchange({"gdata", "go"});
    EXPECT_NE(t.find("NAK\r\n"), std::string::npos) << t;
    EXPECT_TRUE(records(t).empty());
    EXPECT_EQ(card_file(o.board_dir, "noname.txt"), "");
}

// --- Instruments ---------------------------------------------------------------------

TEST(Instruments, RadiometerColumnsFollowTheHeader)
{
    auto o = board("ocr", [](systemData& d) {
        d.sampling_period = 60;
        d.data_cfg[CFG_OCR] = 1;
    });
    o.params["optode_port"] = "ocr504";
    test::run_script(o, start_keys(), 70);
    const std::string file = card_file(o.board_dir, "noname.txt");
    auto all = lines(file);
    std::string header;
    for (const auto& l : all) {
        if (l.rfind(" SampNum\t", 0) == 0) {
            header = l;
        }
    }
    ASSERT_FALSE(header.empty());
    EXPECT_NE(header.find("\tOCR_PN  \tChan_1 \tChan_2 \tChan_3 \tChan_4 \r"), std::string::npos);
    auto recs = records(file);
    ASSERT_EQ(recs.size(), 2u);
    for (const auto& rec : recs) {
        auto f = fields(rec);
        ASSERT_EQ(f.size(), fields(header).size()) << rec;
        EXPECT_EQ(f[20].rfind("SATFI", 0), 0u) << rec; // the radiometer's frame
    }
}

TEST(Instruments, OptodeAndRadiometerBothOnTakeTurnsOnTheirPort)
{
    // A stored record with both on (the menus never make one), an optode on
    // the port: the radiometer runs only after the optode has finished, so
    // the optode's reading is whole (started together, the radiometer would
    // switch the port to its own baud rate under the optode's reply); the
    // radiometer, which is not there, reports its failure.
    auto o = board("optode-ocr", [](systemData& d) {
        d.sampling_period = 60;
        d.data_cfg[CFG_OPTODE] = 1;
        d.data_cfg[CFG_OCR] = 1;
    });
    o.params["optode_port"] = "optode";
    test::run_script(o, start_keys(), 70);
    auto recs = records(card_file(o.board_dir, "noname.txt"));
    ASSERT_EQ(recs.size(), 2u);
    for (const auto& rec : recs) {
        auto f = fields(rec);
        ASSERT_GT(f.size(), 33u) << rec;
        EXPECT_EQ(f[20], "4831") << rec; // the optode's product number
        EXPECT_EQ(f[f.size() - 5], "SATFI4_ERR") << rec;
    }
}

// A timed deployment with the CTD and optode fields on, the instruments (or
// their faults) given on the command line: the header line and the records of
// its data file.
struct InstrumentRun {
    std::string header;
    std::vector<std::string> records;
};

InstrumentRun instrument_run(const std::string& name, const std::string& ctd_fault,
                             const std::string& optode_fault)
{
    auto o = board(name, [](systemData& d) {
        d.sampling_period = 60;
        d.data_cfg[CFG_OPTODE] = 1;
        d.data_cfg[CFG_CTD] = 1;
    });
    o.params["ctd"] = "sbe37";
    o.params["optode_port"] = "optode";
    o.params["noise"] = "off";
    o.params["sal"] = "34.25";
    o.params["ctd_fault"] = ctd_fault;
    o.params["optode_fault"] = optode_fault;
    test::run_script(o, start_keys(), 130);
    const std::string file = card_file(o.board_dir, "noname.txt");
    InstrumentRun run;
    for (const auto& l : lines(file)) {
        if (l.rfind(" SampNum\t", 0) == 0) {
            run.header = l;
        }
    }
    run.records = records(file);
    return run;
}

int column_of(const std::string& header, const std::string& name)
{
    auto f = fields(header);
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TEST(Instruments, CtdAndOptodeRepliesInTheirColumns)
{
    InstrumentRun run = instrument_run("ctd-optode", "none", "none");
    ASSERT_FALSE(run.header.empty());
    EXPECT_NE(run.header.find("\tTC_MCat\tCond\tpSal\tDate_MC\tTime_MC\r"), std::string::npos);
    ASSERT_EQ(run.records.size(), 3u);
    for (const auto& rec : run.records) {
        auto f = fields(rec);
        ASSERT_EQ(f.size(), fields(run.header).size()) << rec;
        EXPECT_EQ(f[column_of(run.header, "Opt_PN")], "4831") << rec;
        EXPECT_EQ(f[column_of(run.header, "O2satper")], "95.000") << rec;
        EXPECT_EQ(f[column_of(run.header, "TC_MCat")], "  12.0000") << rec;
        EXPECT_EQ(f[column_of(run.header, "pSal")], "   34.2500") << rec;
        EXPECT_EQ(f[column_of(run.header, "Date_MC")], " 15 Jan 2026") << rec;
    }
}

TEST(Instruments, EachFaultGivesItsTextAndTheDeploymentGoesOn)
{
    const std::string sbe37_silent =
        "CTD not responding with SBE37 data, check connection, make sure data config is SBE37";
    const std::string optode_silent = "Optode not responding with % char after power up";
    struct Case {
        std::string ctd_fault, optode_fault, ctd_text, optode_text;
    };
    // An empty text: the instrument's reading (its first value checked).
    const Case cases[] = {
        {"silent", "gap", sbe37_silent,
         "Optode Err ST4: inter-character delay exceeded 50msec receiving do_sample string"},
        {"long-line", "long-line", "ST7: error in ctd driver bufIndx exceeds buf size, ctd",
         "Optode Err ST4: do_sample string exceeds buf size"},
        {"garbage", "silent", "CTD Err: SBE37 reply is not temperature, conductivity, salinity, date, time",
         optode_silent},
        {"wrong-baud", "wrong-baud", sbe37_silent, optode_silent},
        {"no-line-end", "no-line-end", "", ""},
        {"gap", "garbage", "", "?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("ctd-" + c.ctd_fault + ", optode-" + c.optode_fault);
        InstrumentRun run =
            instrument_run("fault-" + c.ctd_fault + "-" + c.optode_fault, c.ctd_fault, c.optode_fault);
        const int opt = column_of(run.header, "Opt_PN");
        const int ctd = column_of(run.header, "TC_MCat");
        ASSERT_GE(opt, 0);
        ASSERT_GE(ctd, 0);
        // Two minutes of a one-minute period: every sample taken.
        ASSERT_EQ(run.records.size(), 3u);
        for (const auto& rec : run.records) {
            auto f = fields(rec);
            ASSERT_EQ(f.size(), fields(run.header).size()) << rec;
            if (c.ctd_text.empty()) {
                EXPECT_EQ(f[ctd], "  12.0000") << rec;
            } else {
                EXPECT_EQ(f[ctd], c.ctd_text) << rec;
                EXPECT_EQ(f[ctd + 4], "") << rec; // the other CTD columns empty
            }
            if (c.optode_text.empty()) {
                EXPECT_EQ(f[opt], "4831") << rec;
            } else if (c.optode_text == "?") {
                EXPECT_NE(f[opt], "4831") << rec; // the nonsense, as sent
                EXPECT_FALSE(f[opt].empty()) << rec;
            } else {
                EXPECT_EQ(f[opt], c.optode_text) << rec;
            }
        }
    }
}

TEST_F(Polled, AKeyEndsGdataAtALineEndAndTheNextGdataGoesOnFromThere)
{
    start("polled-gdata-key");
    for (int i = 0; i < 3; ++i) {
        exchange({"ts"});
    }
    // A key right behind "gdata": the transfer stops at the end of the
    // first record.
    std::string t = exchange({"gdata\\rx", "go"});
    auto recs = records(t);
    ASSERT_EQ(recs.size(), 1u) << t;
    EXPECT_EQ(recs[0].substr(0, 8), "#0000000");
    EXPECT_EQ(fields(recs[0]).size(), 20u);
    // The next transfer sends the other two whole, nothing twice.
    t = exchange({"gdata", "go"});
    recs = records(t);
    ASSERT_EQ(recs.size(), 2u) << t;
    EXPECT_EQ(recs[0].substr(0, 8), "#0000001");
    EXPECT_EQ(recs[0].find("gdata"), std::string::npos);
    EXPECT_EQ(fields(recs[0]).size(), 20u);
    EXPECT_EQ(recs[1].substr(0, 8), "#0000002");
}
