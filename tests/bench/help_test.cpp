// Help menu as the operator uses it: pages, the sampling-time page, the
// switches and what reaches the stored record, the sayings display.
#include "app/help.h"
#include "records/system_data.h"
#include "tests/bench/bench_support.h"
#include "tests/deployment/deploy_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace deploytest;

namespace {

const std::string HELP_TITLE = "\r\n\r\n\r\nHelp Menu\r\n";

} // namespace

TEST(Help, PagesAndSamplingTimesFromTheRecord)
{
    auto o = board("help_pages", [](systemData& d) {
        d.Vrsi_sps = 20;
        d.Vrsi_trials = 3;
        d.Vb_sps = 0; // no rate: shown as 0 ms, not a division fault
        // A time no unsigned holds is shown as the largest one the float
        // conversion reaches, the same on every chip.
        d.Ik_sps = 5;
        d.Ik_trials = 4294967295u;
        d.app_cfg[APPCFG_MENU_LEVEL] = 0;
    });
    auto r = test::run_script(o,
                              keys(1, "H\\r") + keys(1, "C\\r") + keys(1, "T\\r") + keys(1, "d\\r") +
                                  keys(1, "p\\r") + keys(1, "S\\r") + keys(1, "b\\r") + keys(1, "h\\r") +
                                  keys(1, "x\\r"),
                              30);
    const std::string& t = r.transcript;
    EXPECT_NE(t.find("\r\n\r\nVersion -- v4.1.2 Varve revB, Nonvol mem: i2c Ferroelectric RAM \r\n "),
              std::string::npos);
    EXPECT_NE(t.find("--------- Configuration --------------\r\nConfiguration checklist: (use Main Menu "
                     "1--Configure)"),
              std::string::npos);
    EXPECT_NE(t.find("--------- Test Mode commands ---------\r\n"), std::string::npos);
    EXPECT_NE(t.find("------ Deployment Mode commands ------\r\n"), std::string::npos);
    EXPECT_NE(t.find("VrsiBiased ~= 60mV \xb1 30 mV"), std::string::npos);
    EXPECT_NE(t.find("  Vrsi= 150 ms,   trials= 3, sps=20\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("    Vb=   0 ms,   trials="), std::string::npos);
    EXPECT_NE(t.find("    Ik=4294967040 ms,   trials=4294967295, sps=5\r\n"), std::string::npos);
    EXPECT_NE(t.find("Bug Hunt!!!"), std::string::npos);
    // Level 0: the switches are not listed.
    EXPECT_EQ(t.find("M/m -MicroSD Logging"), std::string::npos);
    // Menu on entry and after each of the seven pages and "h"; "x" leaves.
    EXPECT_EQ(test::count(t, HELP_TITLE), 8);
    EXPECT_EQ(test::count(t, "Main Menu -- v4.1.2"), 2);
}

TEST(Help, SwitchesChangeAndStoreTheRecord)
{
    auto o = board("help_switches", [](systemData& d) {
        d.app_cfg[APPCFG_MENU_LEVEL] = 0;
        d.app_cfg[APPCFG_MICROSD_ENABLE] = 1;
        d.debug_flag = 0;
        d.diag = 0;
    });
    // "m" with the menus off does nothing; "Q" turns them on, then "m" and
    // "Z" work; the main menu's time-out sleeps, which stores the record.
    auto r = test::run_script(o,
                              keys(1, "H\\r") + keys(1, "m\\r") + keys(1, "Q\\r") + keys(1, "m\\r") +
                                  keys(1, "Z\\r") + keys(1, "9\\r"),
                              80);
    const std::string& t = r.transcript;
    const std::size_t q = t.find("Experimental menus enabled, sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1\r\n");
    ASSERT_NE(q, std::string::npos);
    EXPECT_EQ(t.find("MicroSD card DISabled"), t.rfind("MicroSD card DISabled")); // once only
    EXPECT_GT(t.find("MicroSD card DISabled, no Logging\r\n\r\n"), q);
    EXPECT_NE(t.find("M/m -MicroSD Logging Enable / disable\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\nDebug Printf statements are enabled\r\n"), std::string::npos);
    EXPECT_NE(t.find("Sleeping...*"), std::string::npos);
    systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.app_cfg[APPCFG_MICROSD_ENABLE], 0);
    EXPECT_EQ(d.app_cfg[APPCFG_MENU_LEVEL], 1);
    EXPECT_EQ(d.diag, 1u);
    EXPECT_EQ(d.debug_flag, 1u);

    // "q" and "z": "z" is refused once the menus are off again.
    auto o2 = o;
    o2.boot_hook = nullptr;
    auto r2 = test::run_script(o2,
                               keys(1, "\\r") + keys(2, "H\\r") + keys(1, "z\\r") + keys(1, "q\\r") +
                                   keys(1, "Z\\r") + keys(1, "9\\r"),
                               80);
    EXPECT_NE(r2.transcript.find("Debug Printf statements are disabled"), std::string::npos);
    EXPECT_NE(r2.transcript.find("\r\nExperimental menus disabled\r\n"), std::string::npos);
    EXPECT_EQ(r2.transcript.find("statements are enabled"), std::string::npos);
    d = stored_config(o.board_dir);
    EXPECT_EQ(d.app_cfg[APPCFG_MENU_LEVEL], 0);
    EXPECT_EQ(d.debug_flag, 0u);
}

TEST(Help, SayingsRotateInPlaceUntilAKey)
{
    ASSERT_EQ(wisdom_arr[WISDOM_COUNT], nullptr);
    std::size_t longest = 0;
    for (int i = 0; i < WISDOM_COUNT; ++i) {
        ASSERT_NE(wisdom_arr[i], nullptr) << i;
        const std::size_t n = std::strlen(wisdom_arr[i]);
        EXPECT_GE(n, 7u) << i;
        EXPECT_LE(n, 219u) << i;
        EXPECT_EQ(std::strchr(wisdom_arr[i], '\r'), nullptr) << i;
        longest = std::max(longest, n);
    }

    auto o = board("help_sayings");
    // Sayings for two minutes without a key, then "n" for the next one,
    // then "x" leaves the display (and "9" the menu).
    auto r = test::run_script(
        o, keys(1, "H\\r") + keys(1, "H\\r") + keys(120, "n") + keys(5, "x") + keys(1, "9\\r"), 160);
    const std::string shown = benchtest::between(r.transcript, "Enter Selection [9]: H", HELP_TITLE);
    std::set<std::string> seen;
    const std::string erase = std::string(WISDOM_ERASE_WIDTH, ' ') + "\r";
    // Each saying is "  TEXT\r" followed by the erasing blank line (a
    // typed key's echo may come between).
    int shown_count = 0;
    std::size_t start = 0, end;
    while ((end = shown.find(erase, start)) != std::string::npos) {
        const std::string piece = shown.substr(start, end - start);
        const std::size_t a = piece.find("  ");
        const std::size_t cr = piece.find('\r', a == std::string::npos ? 0 : a);
        ASSERT_NE(a, std::string::npos) << piece;
        ASSERT_NE(cr, std::string::npos) << piece;
        const std::string text = piece.substr(a + 2, cr - a - 2);
        bool known = false;
        for (int i = 0; i < WISDOM_DRAWN; ++i) {
            known = known || text == wisdom_arr[i];
        }
        EXPECT_TRUE(known) << text;
        seen.insert(text);
        ++shown_count;
        start = end + erase.size();
    }
    // Each is shown for 8 to 36 s: two minutes and a key show at least five.
    EXPECT_GE(shown_count, 5) << r.transcript;
    EXPECT_GE(seen.size(), 3u);
    EXPECT_EQ(shown.find("\n", shown.find("  ")), std::string::npos); // in place, no line feed
    EXPECT_EQ(test::count(r.transcript, HELP_TITLE), 2);
}
