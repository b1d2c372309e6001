// The simulated clock across hibernation: a boot after a wake starts at the
// wake time, so the firmware's clock, its time-outs and the timed input
// agree with the time the board spent asleep.
#include "platform/platform.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

const std::string MENU = "\r\n\r\n\r\nMain Menu -- v4.1.2 Varve revB -- Will sleep in 30 seconds"
                         "\r\n1 -- Configure\r\n2 -- Deploy\r\n3 -- Test\r\n4 -- Sleep\r\n5 -- Files\r\nH -- "
                         "Help\r\nEnter Selection: ";
const std::string SLEEPING = "\r\n\r\nSleeping...*";

sim::RunOptions board(const std::string& name)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir(name);
    o.params["card_size_mib"] = "40";
    return o;
}

// Makes every boot of the run note the RTC count the firmware reads as it
// leaves reset; returns the file the counts go to.
std::string log_rtc_at_boot(sim::RunOptions* o)
{
    std::string log = o->board_dir + ".rtc";
    std::remove(log.c_str());
    o->boot_hook = [log](int) {
        std::ofstream f(log, std::ios::app);
        f << HibernateRTCGet() << "\n";
    };
    return log;
}

std::vector<uint32_t> read_counts(const std::string& path)
{
    std::ifstream f(path);
    std::vector<uint32_t> v;
    for (uint32_t c; f >> c;) {
        v.push_back(c);
    }
    return v;
}

// Edits a field of the board's saved hibernation module.
void set_hib_field(const std::string& dir, const std::string& key, unsigned long value)
{
    auto bytes = test::read_file(dir + "/hibernate.txt");
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + " ", 0) == 0) {
            line = key + " " + std::to_string(value);
        }
        out += line + "\n";
    }
    test::write_file(dir + "/hibernate.txt", std::vector<uint8_t>(out.begin(), out.end()));
}

unsigned long hib_field(const std::string& dir, const std::string& key)
{
    auto bytes = test::read_file(dir + "/hibernate.txt");
    std::string text(bytes.begin(), bytes.end());
    std::size_t pos = text.find("\n" + key + " ");
    if (text.rfind(key + " ", 0) == 0) {
        pos = 0;
    } else if (pos != std::string::npos) {
        ++pos;
    } else {
        return 0;
    }
    return std::stoul(text.substr(pos + key.size() + 1));
}

} // namespace

TEST(WakeClock, KeyAfterALongNapStartsTheBootAtTheWakeTime)
{
    auto o = board("nap-key");
    std::string log = log_rtc_at_boot(&o);
    // The menu times out at 30 s; the key comes 40 s after that.
    auto r = test::run_script(o, "70 x\n", 75);
    EXPECT_EQ(r.transcript, MENU + SLEEPING + MENU);
    auto rtc = read_counts(log);
    ASSERT_EQ(rtc.size(), 2u);
    EXPECT_EQ(rtc[1] - rtc[0], 70u);
}

TEST(WakeClock, TheMenuTimeOutCountsFromTheWake)
{
    // Woken at 70 s, the menu sleeps at 100 s: an Enter at 99 s is served,
    // one at 101 s wakes the sleeping board again.
    auto o = board("nap-before");
    auto r = test::run_script(o, "70 x\n29 4\\r\n", 120);
    EXPECT_EQ(r.transcript, MENU + SLEEPING + MENU + "4\n\r" + SLEEPING);

    o = board("nap-after");
    r = test::run_script(o, "70 x\n31 4\\r\n", 120);
    EXPECT_EQ(r.transcript, MENU + SLEEPING + MENU + SLEEPING + MENU);
}

TEST(WakeClock, TheWakeBurstIsLost)
{
    // The first byte wakes the board, the rest arrive while it starts: none
    // reaches the menu, which times out 30 s after the wake.
    auto o = board("burst");
    auto r = test::run_script(o, "70 abc\\r\n", 110);
    EXPECT_EQ(r.transcript, MENU + SLEEPING + MENU + SLEEPING);

    // The same on a board that starts the run hibernating.
    r = test::run_script(o, "5 4\\r\n", 30);
    EXPECT_EQ(r.transcript, MENU);
}

TEST(WakeClock, ClockMatchWakeReadsTheMatch)
{
    auto o = board("match");
    test::run_script(o, "", 31); // provision, menu, sleep
    unsigned long count = hib_field(o.board_dir, "rtc_seconds");
    set_hib_field(o.board_dir, "match0", count + 50);
    set_hib_field(o.board_dir, "wake_flags", 24); // console pin and clock
    std::string log = log_rtc_at_boot(&o);
    test::run_script(o, "", 55);
    auto rtc = read_counts(log);
    ASSERT_EQ(rtc.size(), 1u);
    EXPECT_EQ(rtc[0], count + 50);
}

TEST(WakeClock, TimelineTimesRunOnAcrossBoots)
{
    auto o = board("timeline");
    o.timeline_file = o.board_dir + ".timeline";
    test::run_script(o, "70 x\n", 75);
    std::ifstream f(o.timeline_file);
    std::vector<double> times;
    for (std::string line; std::getline(f, line);) {
        times.push_back(std::stod(line));
    }
    ASSERT_FALSE(times.empty());
    for (std::size_t i = 1; i < times.size(); ++i) {
        ASSERT_LE(times[i - 1], times[i]) << "entry " << i;
    }
    // The first boot sleeps at about 30 s and the board hibernates until the
    // key at 70 s; the second boot's lines follow the wake at once.
    bool after_wake = false;
    for (double t : times) {
        EXPECT_FALSE(t > 31.0 && t < 70.0) << "line change at " << t << " s while hibernating";
        after_wake = after_wake || (t >= 70.0 && t < 71.0);
    }
    EXPECT_TRUE(after_wake);
}
