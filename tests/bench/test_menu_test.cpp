// Test menu as the bench technician uses it: every key reaches its
// function, the displays run until a key, the hidden entries follow the
// menu level, the idle sleep, and the power outputs on the line timeline.
#include "records/system_data.h"
#include "tests/bench/bench_support.h"
#include "tests/deployment/deploy_support.h"

#include <gtest/gtest.h>

using namespace deploytest;
using benchtest::between;
using benchtest::line_levels;

namespace {

const std::string TEST_TITLE = "\r\r\n\r\r\n\r\r\nTest Menu:\r\r\n";
const std::string LEAVE = "\r\r\nPress enter to bring up main menu\r\r\n";

ConfigFn level(uint8_t menu_level, uint32_t diag = 0)
{
    return [=](systemData& d) {
        d.app_cfg[APPCFG_MENU_LEVEL] = menu_level;
        d.diag = diag;
    };
}

} // namespace

TEST(TestMenu, DisplaysPrintTheirColumnsAndStopOnAKey)
{
    auto o = board("displays", level(0));
    auto r = test::run_script(o,
                              keys(1, "3\\r") + keys(1, "1\\r") + keys(5, "\\r") + keys(1, "2\\r") +
                                  keys(12, "\\r") + keys(1, "3\\r") + keys(6, "7\\r") + keys(1, "4\\r") +
                                  keys(5, "x\\r"),
                              60);
    const std::string& t = r.transcript;
    // Supply display: lines updated in place, then the supply goes off.
    const std::string sup =
        between(t, "iso power on for reading bias batteries\r\r\n", "iso power off, vbat monitoring off");
    EXPECT_NE(sup.find("Bat =  12."), std::string::npos) << sup;
    EXPECT_NE(sup.find("i=0\r"), std::string::npos);
    EXPECT_NE(sup.find("i=1\r"), std::string::npos);
    EXPECT_NE(t.find("iso power off, vbat monitoring off\r\r\n"), std::string::npos);
    // Voltages: eight columns without diag, a row every 5 s.
    const std::string volts = between(t, "    SampTime,         Vrse_B,", TEST_TITLE);
    EXPECT_EQ(volts.find("Vb,"), std::string::npos);
    auto rows = lines(volts);
    int data_rows = 0;
    for (const auto& l : rows) {
        if (l.size() > 17 && l[2] == '/' && l[5] == '/') {
            ++data_rows;
            EXPECT_EQ(test::count(l, ", "), 8) << l;
        }
    }
    EXPECT_GE(data_rows, 2);
    EXPECT_LE(data_rows, 3);
    EXPECT_NE(t.find("pH= "), std::string::npos);
    EXPECT_NE(t.find("Vrsi= "), std::string::npos);
    EXPECT_NE(t.find("pHext= "), std::string::npos);
    // The pH displays leave their key to the menu: "7" reprinted it, "x"
    // ended it.
    EXPECT_NE(t.find(LEAVE), std::string::npos);
    EXPECT_EQ(test::count(t, TEST_TITLE), 6);
    EXPECT_EQ(test::count(t, "Main Menu -- v4.1.2"), 2);
}

TEST(TestMenu, KeysReachTheirFunctionsAndTheLevelHidesEntries)
{
    auto o = board("keys0", level(0));
    auto r = test::run_script(o,
                              keys(1, "3\\r") + keys(1, "7\\r") + keys(1, "S\\r") + keys(1, "M\\r") +
                                  keys(1, "R\\r") + keys(1, "Q\\r") + keys(1, "n\\r") + keys(1, "5\\r") +
                                  keys(1, "4\\r") + keys(1, "o\\r") + keys(1, "8\\r") + keys(1, "S\\r") +
                                  keys(5, "\\r") + keys(1, "9\\r") + keys(1, "9\\r"),
                              60);
    const std::string& t = r.transcript;
    EXPECT_EQ(t.find("sys_data structure:"), std::string::npos); // "S" hidden at level 0
    EXPECT_NE(t.find("//++************** Deployment Settings ***************\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\r\n\r\r\nQA Report:  \r\r\n\r\r\nTester: "), std::string::npos);
    EXPECT_NE(t.find("do you wish to proceed? [N]? n"), std::string::npos);
    EXPECT_EQ(t.find("QA: ----- EEPROM"), std::string::npos); // declined
    EXPECT_NE(t.find("COMM-PWR port not supported on VARVE, RS232 level shifter is not stuffed"),
              std::string::npos);
    EXPECT_EQ(t.find("o/O- DEBUG Test Optode Setup"), std::string::npos);
    EXPECT_NE(t.find("Test pH (24bit ADC and Mux) Menu\r\n"), std::string::npos);
    EXPECT_NE(t.find("    Date Time,         Vrsi,      Vrsi_B,"), std::string::npos);
    EXPECT_NE(t.find("\r\nPress enter to bring up menu\r\niso power off\r\n"), std::string::npos);
    EXPECT_NE(t.find(LEAVE), std::string::npos);

    auto o1 = board("keys1", level(1, 1));
    auto r1 = test::run_script(o1,
                               keys(1, "3\\r") + keys(1, "S\\r") + keys(1, "5\\r") + keys(1, "o\\r") +
                                   keys(8, "9\\r") + keys(1, "9\\r"),
                               60);
    const std::string& t1 = r1.transcript;
    EXPECT_NE(t1.find("sys_data structure:\r\r\n\r\r\n"), std::string::npos);
    EXPECT_NE(t1.find("sizeof sys_data = 1272\r\r\nEEPROM Size 2048 bytes\r\r\n"), std::string::npos);
    EXPECT_NE(t1.find("o/O- DEBUG Test Optode Setup\r\n"), std::string::npos);
    // The header's lone percent sign is printed as it is.
    EXPECT_NE(t1.find("Power Optode with 5v, wait for %, send crlf, wait for !"), std::string::npos);
    EXPECT_NE(t1.find("Debug Optode Read Time = "), std::string::npos);
}

TEST(TestMenu, IdleForThirtyThousandSecondsSleeps)
{
    // A stray byte without Enter at the menu does not keep it awake.
    auto o = board("idle");
    auto r = test::run_script(o, keys(1, "3\\r") + keys(1, "x"), 30100);
    const std::string& t = r.transcript;
    ASSERT_NE(t.find("Sleeping...*"), std::string::npos);
    EXPECT_GT(t.find("Sleeping...*"), t.find(TEST_TITLE));
    EXPECT_EQ(test::count(t, TEST_TITLE), 1);
    // Not after the main menu's 30 s: the test menu was still waiting.
    auto o2 = board("idle_short");
    auto r2 = test::run_script(o2, keys(1, "3\\r") + keys(1, "x"), 29000);
    EXPECT_EQ(r2.transcript.find("Sleeping...*"), std::string::npos);
}

TEST(TestMenu, PowerOutputKeysSwitchTheirLines)
{
    auto o = board("power", [](systemData& d) { d.solenoid_hold_pwm = 98; });
    o.timeline_file = o.board_dir + ".timeline";
    auto r = test::run_script(
        o,
        keys(1, "3\\r") + keys(1, "6\\r") + keys(1, "A\\r") + keys(1, "a\\r") + keys(1, "B\\r") +
            keys(1, "b\\r") + keys(1, "C\\r") + keys(1, "c\\r") + keys(1, "F\\r") + keys(1, "f\\r") +
            keys(1, "G\\r") + keys(1, "g\\r") + keys(1, "R\\r") + keys(1, "r\\r") + keys(1, "S\\r") +
            keys(1, "s\\r") + keys(1, "P\\r") + keys(1, "P") + keys(1, "P") + keys(1, "P") + keys(1, "p") +
            keys(1, "s") + keys(1, "x") + keys(1, "9\\r") + keys(1, "9\\r"),
        60);
    const std::string& t = r.transcript;
    const std::string tl = benchtest::text_file(o.timeline_file);
    auto ends_with = [](const std::vector<std::string>& v, const std::vector<std::string>& tail) {
        return v.size() >= tail.size() && std::equal(tail.begin(), tail.end(), v.end() - tail.size());
    };
    EXPECT_TRUE(ends_with(line_levels(tl, "PD1"), {"1", "0"}));
    EXPECT_TRUE(ends_with(line_levels(tl, "PD2"), {"1", "0"}));
    EXPECT_TRUE(ends_with(line_levels(tl, "PD3"), {"1", "0"}));
    EXPECT_TRUE(ends_with(line_levels(tl, "PL2"), {"1", "0"}));
    EXPECT_TRUE(ends_with(line_levels(tl, "PE3"), {"1", "0"}));
    EXPECT_NE(t.find("AUX-PWR1 J12 (Pump1) ON\r\n"), std::string::npos);
    EXPECT_NE(t.find("AUX-PWR3 J14 (COMM-PWR) OFF \r\n"), std::string::npos);
    EXPECT_NE(t.find("Solenoid On (J9 SO/1)"), std::string::npos);
    // Hold PWM from 98: up once to 99, the next two "P" change nothing,
    // down to 98, stored.
    EXPECT_NE(t.find("X to exit\r\n098\b\b\b099\b\b\b098\r\nsys_data.solenoid_hold updated to 098\r\n098"),
              std::string::npos)
        << t;
    auto pwm = line_levels(tl, "PG3_PWM");
    ASSERT_GE(pwm.size(), 2u);
    EXPECT_EQ(stored_config(o.board_dir).solenoid_hold_pwm, 98u);
}

TEST(TestMenu, HoldPwmStaysWithinZeroAndTakesEveryKey)
{
    // Five quick "P" move the value five steps.
    auto o = board("pwm0", [](systemData& d) { d.solenoid_hold_pwm = 0; });
    auto r =
        test::run_script(o,
                         keys(1, "3\\r") + keys(1, "6\\r") + keys(1, "p\\r") + keys(1, "p") + keys(1, "P") +
                             keys(1, "PPPPP") + keys(1, "x") + keys(1, "9\\r") + keys(1, "9\\r"),
                         30);
    EXPECT_NE(r.transcript.find("X to exit\r\n000\b\b\b001"), std::string::npos) << r.transcript;
    EXPECT_EQ(r.transcript.find("\b\b\b000"), std::string::npos);
    EXPECT_NE(r.transcript.find("\b\b\b005\b\b\b006"), std::string::npos) << r.transcript;
}

TEST(TestMenu, HeadersAboveLevelOneMatchTheirRows)
{
    // Menu level 2 with diagnostics: the converter menu's ambient display
    // shows nine limits, nine header columns and nine values a row; the QA
    // report's header is a line of its own before the data row.
    auto o = board("level2", level(2, 1));
    auto r = test::run_script(o,
                              keys(1, "3\\r") + keys(1, "8\\r") + keys(1, "X\\r") + keys(11, "\\r") +
                                  keys(1, "9\\r") + keys(1, "R\\r") + keys(1, "9\\r"),
                              60);
    const std::string& t = r.transcript;
    const std::string amb = between(t, "               MIN:", "Test pH (24bit ADC and Mux) Menu");
    std::vector<std::string> rows;
    for (const auto& l : lines(amb)) {
        if (l.find("MIN:") != std::string::npos || l.find("MAX:") != std::string::npos) {
            EXPECT_EQ(test::count(l, ",  "), 8) << l;
        } else if (l.find("Date Time,") != std::string::npos) {
            EXPECT_EQ(test::count(l, ","), 9) << l;
        } else if (l.size() > 17 && l[2] == '/' && l[5] == '/') {
            rows.push_back(l);
        }
    }
    ASSERT_GE(rows.size(), 2u) << amb;
    rows.pop_back(); // the key may cut the last row short
    for (const auto& row : rows) {
        EXPECT_EQ(test::count(row, ","), 9) << row;
    }
    EXPECT_NE(t.find("\t Vbias+ \t  Vbias-\r\n\t    0   \t"), std::string::npos) << t;
}
