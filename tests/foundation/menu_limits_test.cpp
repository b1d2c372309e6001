// Boundaries of the main menu and of a timed sleep: keys typed ahead of the
// menu, the low-supply warning at its threshold, the floor of a wake time.
#include "app/main.h"
#include "app/sleep.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "serial/uartstdio.h"
#include "tests/support/bench.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

const std::string MENU = "\r\n\r\n\r\nMain Menu -- v4.1.2 Varve revB -- Will sleep in 30 seconds"
                         "\r\n1 -- Configure\r\n2 -- Deploy\r\n3 -- Test\r\n4 -- Sleep\r\n5 -- Files\r\nH -- "
                         "Help\r\nEnter Selection: ";

class SupplyWarning : public test::BenchTest, public ::testing::WithParamInterface<const char*> {
  protected:
    SupplyWarning() { auto_start_ = false; }
};

using WakeFloor = test::BenchTest;

} // namespace

// An operator types "6" Enter (a key that only shows the menu again) and,
// before the menu is back, "4" Enter: the
// menu discards what was typed before it was shown, so the board does not
// go to sleep on the early "4"; it sleeps only after its own time-out.
TEST(MenuInput, KeysTypedBeforeTheMenuIsShownAreDiscarded)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir("typeahead");
    auto r = test::run_script(o, "1 6\\r4\\r\n", 10);
    // Both lines are echoed while the menu is being prepared again; the board
    // is still awake 9 s later.
    EXPECT_EQ(r.transcript, MENU + "6\n\r4\n\r" + MENU);
}

// The warning shows when the supply is below the threshold plus 5 mV,
// compared in double precision.  The supply reading is fixed; the threshold
// is set to the two neighbouring values of a float around that sum.
TEST_P(SupplyWarning, ShowsExactlyBelowTheThresholdPlusItsMargin)
{
    opts.board_dir = test::fresh_board_dir(std::string("supply-") + GetParam());
    opts.params["vbat"] = GetParam();
    opts.params["noise"] = "off";
    start();
    ASSERT_TRUE(started_);
    const float v = read_vbat();
    ASSERT_EQ(read_vbat(), v);
    auto warns = [v](float low) { return static_cast<double>(v) < static_cast<double>(low) + 0.005; };
    float low = static_cast<float>(static_cast<double>(v) - 0.005);
    while (warns(low)) {
        low = std::nextafter(low, -INFINITY);
    }
    while (!warns(low)) {
        low = std::nextafter(low, INFINITY);
    }
    const float lowest_warning = low;
    const float highest_quiet = std::nextafter(low, -INFINITY);

    char warning[160];
    std::snprintf(warning, sizeof warning,
                  "\r\n\r\nVoltage input is low (%.2fv < threshold %.2fv, avoid file operations\r\n",
                  static_cast<double>(v), static_cast<double>(lowest_warning));
    sys_data.low_batt_volt = lowest_warning;
    print_main_menu();
    std::string out = output();
    EXPECT_NE(out.find(std::string(warning) + MENU), std::string::npos) << out;

    clear();
    sys_data.low_batt_volt = highest_quiet;
    print_main_menu();
    out = output();
    EXPECT_EQ(out.find("Voltage input is low"), std::string::npos) << out;
    EXPECT_NE(out.find(MENU), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Supplies, SupplyWarning, ::testing::Values("9.5", "10.2", "12.0", "16.8", "20.0"));

// A timed wake is never sooner than 2 s after the sleep request: a wake time
// now, 1 s or 2 s ahead, or in the past, becomes now + 2; later ones stay.
TEST_F(WakeFloor, WakeTimesUpToTwoSecondsAheadBecomeNowPlusTwo)
{
    sim::RunOptions& o = sim::bench_options();
    o.faults.eeprom_program = true; // sleep returns after arming the clock
    sys_data.test_mode = 0;
    sys_data.output = NORMAL;
    sys_data.averaging_interval += 1; // something to program, so every store fails
    struct Case {
        int64_t ahead;
        int64_t match_ahead;
    };
    const Case cases[] = {{-100, 2}, {-1, 2}, {0, 2}, {1, 2}, {2, 2}, {3, 3}, {600, 600}};
    for (const Case& c : cases) {
        // Start just after the clock's second changes, so that it does not
        // change between here and the sleep request.
        uint32_t was = HibernateRTCGet();
        while (HibernateRTCGet() == was) {
            wait_ms(1);
        }
        uint32_t now = HibernateRTCGet();
        sleep(DEPLOYED, static_cast<uint32_t>(now + c.ahead));
        EXPECT_EQ(HibernateRTCMatchGet(0), static_cast<uint32_t>(now + c.match_ahead)) << "now + " << c.ahead;
        EXPECT_EQ(HibernateWakeGet(), HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);
    }
    o.faults.eeprom_program = false;
}
