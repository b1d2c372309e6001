// Console baud rate: a change takes effect at once, bytes then take ten
// bit-times at the new rate, and the stored rate survives a reset.
#include "operator/config.h"
#include "serial/user_io.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"
#include "tests/config/config_support.h"
#include "tests/support/bench.h"

#include <gtest/gtest.h>

#include <iomanip>

using namespace deploytest;
using namespace configtest;

class BaudBench : public test::BenchTest {};

TEST_F(BaudBench, ConsoleBytesTakeTenBitTimesAtTheNewRate)
{
    type("5\r");
    change_baud_rate();
    EXPECT_EQ(sys_data.baud_rate, 9600u);
    EXPECT_EQ(sim::uart_baud(UART0_BASE), 9600u);
    settle();
    const std::string text(96, 'x');
    const auto t0 = sim::now();
    uprintf("%s", text.c_str());
    wait_consoleTx();
    settle();
    const double s = static_cast<double>(sim::now() - t0) / 1e9;
    // 96 bytes of 10 bits at 9600 baud = 0.1 s (at most a byte more).
    EXPECT_GE(s, 0.1 - 1e-6) << std::setprecision(12) << s;
    EXPECT_LE(s, 0.1 + 10.0 / 9600 * 2);
}

TEST(Baud, RateIsStoredAndKeptAcrossAReset)
{
    auto o = board("baud");
    // Select 9600, verify, store with 6 then 9, leave; sleep and wake.
    auto script = typed({"1", "6", "5", "6", "V", "6", "9", "9", "4"}) + keys(5, "\\r") + keys(2, "\\r");
    auto r = test::run_script(o, script, 30);
    EXPECT_NE(r.transcript.find("baud rate = 9600\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nBaud rate verify 9600\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\n\r\nSystem data stored.  -- Press enter to bring up main menu\r\n"),
              std::string::npos);
    EXPECT_EQ(stored_config(o.board_dir).baud_rate, 9600u);
    EXPECT_GE(test::count(r.transcript, "Main Menu --"), 3) << r.transcript; // after the wake too
}
