// The controller as a user sees it: the simulator runs the firmware from a
// timed script and the tests read the console transcript and the board folder.
#include "board/board_util.h"
#include "records/system_data.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <sstream>
#include <fstream>

namespace {

const std::string MENU = "\r\n\r\n\r\nMain Menu -- v4.1.2 Varve revB -- Will sleep in 30 seconds"
                         "\r\n1 -- Configure\r\n2 -- Deploy\r\n3 -- Test\r\n4 -- Sleep\r\n5 -- Files\r\nH -- "
                         "Help\r\nEnter Selection: ";
// With a card in its slot the start-up prints nothing before the menu.
const std::string NO_CARD = "";
const std::string SLEEPING = "\r\n\r\nSleeping...*";

sim::RunOptions board(const std::string& name)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir(name);
    return o;
}

systemSamplingData read_sys_samp(const std::string& dir)
{
    auto fram = test::read_file(dir + "/fram.bin");
    systemSamplingData s{};
    std::memcpy(&s, fram.data() + 64, sizeof s);
    return s;
}

void write_sys_samp(const std::string& dir, const systemSamplingData& s)
{
    auto fram = test::read_file(dir + "/fram.bin");
    std::memcpy(fram.data() + 64, &s, sizeof s);
    test::write_file(dir + "/fram.bin", fram);
}

// Leaves a provisioned, hibernating board whose progress record says `state`.
sim::RunOptions board_in_state(const std::string& name, int32_t state)
{
    sim::RunOptions o = board(name);
    test::run_script(o, "", 31); // provision, menu, sleep
    systemSamplingData s = read_sys_samp(o.board_dir);
    s.state = state;
    write_sys_samp(o.board_dir, s);
    return o;
}

} // namespace

TEST(PowerUp, NewBoardShowsTheMenuThenSleepsAfterThirtySeconds)
{
    auto o = board("powerup");
    auto r = test::run_script(o, "", 120);
    EXPECT_EQ(r.status, 0);
    // The menu is printed once, then nothing until the sleep message.
    EXPECT_EQ(r.transcript, NO_CARD + MENU + SLEEPING);
}

TEST(PowerUp, TheMenusIdleLimitCountsFromTheLastByte)
{
    // The menu prints at about 0.2 s; a key at 29.9 s beats the 30 s limit
    // and starts it again: an Enter 25 s later is served.
    auto r = test::run_script(board("latekey"), "29.9 x\n25 \\r\n", 170);
    EXPECT_EQ(r.transcript, NO_CARD + MENU + "x\n\r" + MENU + SLEEPING);
    // A stray byte without Enter: the board sleeps 30 clock seconds after it (within
    // its second), and the byte is not taken for a selection.
    r = test::run_script(board("strayx"), "29.9 x\n", 58.5);
    EXPECT_EQ(r.transcript, NO_CARD + MENU + "x");
    r = test::run_script(board("strayx2"), "29.9 x\n", 61);
    EXPECT_EQ(r.transcript, NO_CARD + MENU + "x" + SLEEPING);
}

TEST(PowerUp, KeyWakesAHibernatingBoardIntoTheMenu)
{
    auto o = board("wake");
    test::run_script(o, "", 40);
    // The first key only wakes the board (the console is unpowered while it
    // hibernates); the menu comes up and the next line is served.
    auto r = test::run_script(o, "5 x\n2 6\\r\n", 20);
    EXPECT_EQ(r.transcript, NO_CARD + MENU + "6\n\r" + MENU);
}

TEST(MainMenu, SelectionsAndEditing)
{
    auto o = board("menu");
    auto r = test::run_script(o, "1 6\\r\n1 x\\r\n1 \\r\n1 0\\r\n1 ab\\x08c\\r\n", 15);
    EXPECT_EQ(test::count(r.transcript, MENU), 6);
    EXPECT_NE(r.transcript.find("ab\b \bc\n\r"), std::string::npos);
}

TEST(MainMenu, SleepKeyHibernatesAndTheBoardRemembersIt)
{
    auto o = board("sleepkey");
    auto r = test::run_script(o, "1 4\\r\n", 20);
    EXPECT_EQ(r.transcript, NO_CARD + MENU + "4\n\r" + SLEEPING);
    auto hib = test::read_file(o.board_dir + "/hibernate.txt");
    std::string text(hib.begin(), hib.end());
    EXPECT_NE(text.find("hibernating 1"), std::string::npos);
    EXPECT_NE(text.find("wake_flags 16"), std::string::npos); // console pin only
}

TEST(MainMenu, FilesWithCardDisabledExplainsHowToEnable)
{
    auto o = board("nocard");
    test::run_script(o, "", 1);
    auto eeprom = test::read_file(o.board_dir + "/eeprom.bin");
    eeprom[1024 + 232 + APPCFG_MICROSD_ENABLE] = 0;
    test::write_file(o.board_dir + "/eeprom.bin", eeprom);
    auto r = test::run_script(o, "1 5\\r\n", 5);
    EXPECT_NE(r.transcript.find("\r\nMicroSD card is disabled, use 1-Config -> A-App Config Fields to edit "
                                "app_cfg[APPCFG_MICROSD_ENABLE]=1 to enable\r\n"),
              std::string::npos);
    EXPECT_NE(r.transcript.find("5\n\r\r\nMicro SD card disabled, file commands are not available\r\n"
                                "   To enable, use 1-Config -> A-App Config to edit "
                                "app_cfg[APPCFG_MICROSD_ENABLE]=1\r\n"),
              std::string::npos);
}

TEST(Routing, ResetButtonDuringADeploymentReturnsToIdle)
{
    auto o = board_in_state("reset", DEPLOYED);
    // The reset comes while the board hibernates: a start without a wake
    // event.  The decoder makes the state idle; the next store (the menu's
    // sleep) writes it.
    auto r = test::run_script(o, "0.5 !reset\n", 40);
    EXPECT_EQ(r.transcript, MENU + SLEEPING);
    EXPECT_EQ(read_sys_samp(o.board_dir).state, IDLE);
}

TEST(Routing, PowerUpWithADeployedRecordAndNoWakeEventStoresIdle)
{
    auto o = board_in_state("deployed-notset", DEPLOYED);
    // Hibernation state cleared as if the board had been awake: the run
    // begins with a power cycle, which leaves only the write-complete flag;
    // while deployed that resumes sampling, so make the module inactive.
    auto hib = test::read_file(o.board_dir + "/hibernate.txt");
    std::string text(hib.begin(), hib.end());
    text.replace(text.find("hibernating 1"), 13, "hibernating 0");
    text.replace(text.find("active 1"), 8, "active 0");
    test::write_file(o.board_dir + "/hibernate.txt", std::vector<uint8_t>(text.begin(), text.end()));
    auto r = test::run_script(o, "", 2);
    EXPECT_NE(r.transcript.find(MENU), std::string::npos);
    EXPECT_EQ(read_sys_samp(o.board_dir).state, IDLE);
}

TEST(Routing, UnknownStateIsReportedAndTheMenuShown)
{
    auto o = board_in_state("badstate", 7);
    auto r = test::run_script(o, "0.5 x\n", 3);
    EXPECT_NE(r.transcript.find("ERROR in sys_samp.state = 7" + MENU), std::string::npos);
}

TEST(Routing, PowerCycleWhileHibernatingIdleShowsTheMenu)
{
    auto o = board("powercycle");
    test::run_script(o, "", 40);
    auto r = test::run_script(o, "1 !powercycle\n", 5);
    EXPECT_EQ(r.transcript, NO_CARD + MENU);
}

TEST(Failures, StoreFailureKeepsTheBoardAwake)
{
    auto o = board("eeprom-fail");
    test::run_script(o, "", 1); // provision first
    o.faults.eeprom_program = true;
    // The store programs only the words that differ from the EEPROM, and the
    // idle menu changes nothing.  A word of the EEPROM is changed after
    // start-up has read it (as by a bit error), so that every store has one
    // word to program, and fails.
    o.boot_hook = [](int) { sim::schedule(sim::NS_PER_S, [] { sim::eeprom_image()[1024 + 8] ^= 0x01; }); };
    auto r = test::run_script(o, "", 65);
    EXPECT_NE(r.transcript.find(SLEEPING + "Error storing system data (sleep).\r\n"), std::string::npos);
    // It tries again after another time-out instead of flooding the console.
    EXPECT_EQ(test::count(r.transcript, "Error storing system data (sleep).\r\n"), 2);
}

TEST(Failures, HibernationThatDoesNotHappenResetsTheController)
{
    auto o = board("hib-fail");
    o.faults.hibernate = true;
    auto r = test::run_script(o, "", 35);
    EXPECT_NE(r.transcript.find(
                  SLEEPING +
                  "\r\n\r\n\r\nHibernation error!  Possible cause: remove JP1 on VORN board \r\n\r\n\r\n"
                  "\r\n\r\n\r\nCalling SysCtrlReset...\r\n\r\n\r\n" +
                  NO_CARD + MENU),
              std::string::npos);
}

TEST(Failures, FramThatDoesNotAnswerIsReported)
{
    auto o = board("fram-absent");
    test::run_script(o, "", 1);
    o.faults.fram_absent = true;
    auto r = test::run_script(o, "", 2);
    EXPECT_EQ(r.transcript.rfind("\r\nERROR: FRAM fails probe - switch to HIB module\r\n"
                                 "FRAM sys_samp.initNum is not 0x55AA55AA\r\n",
                                 0),
              0u);
    EXPECT_NE(r.transcript.find(MENU), std::string::npos);
}

TEST(Failures, CrashPrintsTheFaultMessageAndStops)
{
    auto o = board("crash");
    auto r = test::run_script(o, "2 !fault\n", 10);
    EXPECT_EQ(r.status, 3);
    const std::string msg =
        "\n\nBrackwell Crash!!!, entering FaultISR infinte loop.  Hit Reset and report problem\n\n";
    ASSERT_GE(r.transcript.size(), msg.size());
    EXPECT_EQ(r.transcript.substr(r.transcript.size() - msg.size()), msg);
}

TEST(BlankBoard, UnprovisionedBoardStartsIdleAndWarnsAboutTheFirmwareVersion)
{
    auto o = board("blank");
    o.blank = true;
    auto r = test::run_script(o, "", 2);
    EXPECT_EQ(r.transcript.rfind("FRAM sys_samp.initNum is not 0x55AA55AA\r\n", 0), 0u);
    EXPECT_NE(
        r.transcript.find("************* ERROR: EEPROM data check failed (firmware upgrade) **************"),
        std::string::npos);
    // The erased version field reads as such, not as 32 bytes of 0xFF.
    EXPECT_NE(r.transcript.find("*  QA: none (blank EEPROM), does not match firmware: v"), std::string::npos)
        << r.transcript;
    EXPECT_EQ(read_sys_samp(o.board_dir).initNum, SYS_SAMP_INIT_NUM);
}

TEST(ResetModel, EveryWakeStartsFromTheLoadImage)
{
    auto o = board("ram");
    std::string log = o.board_dir + ".boots";
    o.boot_hook = [log](int boot) {
        std::ofstream f(log, std::ios::app);
        f << boot << ":" << profileTarget << "\n";
        profileTarget = 42; // a firmware static changed during the boot
    };
    test::run_script(o, "40 x\n", 45);
    std::ifstream f(log);
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "1:0\n2:0\n");
}

TEST(Determinism, SameBoardAndScriptGiveIdenticalTranscripts)
{
    const std::string script = "1 h\\r\n2 5\\r\n40 x\n1 \\r\n50 z\n";
    auto a = board("det-a");
    auto b = board("det-b");
    a.params["card_size_mib"] = b.params["card_size_mib"] = "40";
    a.stats_file = a.board_dir + ".stats.json";
    b.stats_file = b.board_dir + ".stats.json";
    auto ra = test::run_script(a, script, 200);
    auto rb = test::run_script(b, script, 200);
    EXPECT_EQ(ra.transcript, rb.transcript);
    // Every figure of the statistics but the host's time.
    auto figures = [](const std::string& path) {
        auto bytes = test::read_file(path);
        std::string text(bytes.begin(), bytes.end()), kept;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.find("\"host_s\"") == std::string::npos) {
                kept += line + "\n";
            }
        }
        return kept;
    };
    const std::string stats_a = figures(a.stats_file);
    EXPECT_NE(stats_a.find("\"boots\": {\"total\": 3"), std::string::npos) << stats_a;
    EXPECT_EQ(stats_a, figures(b.stats_file));
    EXPECT_EQ(test::read_file(a.board_dir + "/eeprom.bin"), test::read_file(b.board_dir + "/eeprom.bin"));
    EXPECT_EQ(test::read_file(a.board_dir + "/fram.bin"), test::read_file(b.board_dir + "/fram.bin"));
    EXPECT_EQ(test::read_file(a.board_dir + "/card.img"), test::read_file(b.board_dir + "/card.img"));
}

TEST(MainMenu, LowSupplyIsWarnedButNothingRefused)
{
    auto o = board("lowbatt");
    o.params["vbat"] = "9.5";
    o.params["noise"] = "off";
    auto r = test::run_script(o, "1 5\\r\n", 5);
    const std::string warn = "\r\n\r\nVoltage input is low (9.50v < threshold 10.00v, avoid file operations";
    EXPECT_NE(r.transcript.find(warn + "\r\n" + MENU), std::string::npos);
    // The file selection warns louder and goes on.
    EXPECT_NE(r.transcript.find("5\n\r" + warn + "!!!\r\n"), std::string::npos);
}

TEST(MainMenu, HealthySupplyGivesNoWarning)
{
    auto o = board("goodbatt");
    auto r = test::run_script(o, "", 2);
    EXPECT_EQ(r.transcript.find("Voltage input is low"), std::string::npos);
}

namespace {

// A hibernating board in `state` whose debug output is on, so that the
// start-up's routing decisions show on the console.
sim::RunOptions traced_board_in_state(const std::string& name, int32_t state)
{
    sim::RunOptions o = board_in_state(name, state);
    auto eeprom = test::read_file(o.board_dir + "/eeprom.bin");
    eeprom[1024 + offsetof(systemData, debug_flag)] = 1;
    test::write_file(o.board_dir + "/eeprom.bin", eeprom);
    return o;
}

void arm_rtc_wake(const std::string& dir, int seconds_ahead)
{
    auto hib = test::read_file(dir + "/hibernate.txt");
    std::string text(hib.begin(), hib.end());
    std::size_t pos = text.find("rtc_seconds ");
    unsigned long now = std::stoul(text.substr(pos + 12));
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("match0 ", 0) == 0) {
            line = "match0 " + std::to_string(now + static_cast<unsigned long>(seconds_ahead));
        } else if (line.rfind("wake_flags ", 0) == 0) {
            line = "wake_flags 24"; // pin and RTC
        }
        out += line + "\n";
    }
    test::write_file(dir + "/hibernate.txt", std::vector<uint8_t>(out.begin(), out.end()));
}

} // namespace

TEST(Routing, DeployedAndWokenByTheConsoleServesCommands)
{
    auto o = traced_board_in_state("route-pin", DEPLOYED);
    auto r = test::run_script(o, "1 x\n", 4);
    EXPECT_NE(r.transcript.find("\r\nMAIN: DEPLOYED, calling exec_command\r\n"), std::string::npos);
}

TEST(Routing, DeployedAndWokenByTheClockTakesTheSample)
{
    auto o = traced_board_in_state("route-rtc", DEPLOYED);
    arm_rtc_wake(o.board_dir, 5);
    auto r = test::run_script(o, "", 8);
    EXPECT_NE(r.transcript.find("\r\nMAIN: calling deploy(DEPLOYED)\r\n"), std::string::npos);
}

TEST(Routing, CommandStateGoesToPolledMode)
{
    auto o = traced_board_in_state("route-command", COMMAND);
    auto r = test::run_script(o, "1 x\n", 4);
    EXPECT_NE(r.transcript.find("\r\nMAIN: calling deploy(COMMAND)\r\n"), std::string::npos);
}

TEST(Routing, ResetButtonWhileDeployedRoutesAsIdle)
{
    auto o = traced_board_in_state("route-none", DEPLOYED);
    auto r = test::run_script(o, "1 !reset\n", 4);
    // The reset button clears the state in the decoder: straight to the menu.
    EXPECT_NE(r.transcript.find("\r\nMAIN: state = IDLE\r\n" + MENU), std::string::npos);
}
