// Wake decoding and the preparation of a timed sleep.
#include "app/main.h"
#include "app/sleep.h"
#include "platform/host/chip.h"
#include "platform/platform.h"
#include "records/system.h"
#include "serial/uartstdio.h"
#include "tests/support/bench.h"

namespace {

using WakeDecoder = test::BenchTest;
using TimedSleep = test::BenchTest;

struct Row {
    uint32_t status;
    int32_t state_before;
    uint32_t wake;
    int32_t state_after;
};

} // namespace

TEST_F(WakeDecoder, EveryLatchedFlagInItsOrder)
{
    const Row rows[] = {
        {HIBERNATE_INT_PIN_WAKE, DEPLOYED, WAKE_PIN, DEPLOYED},
        {HIBERNATE_INT_PIN_WAKE | HIBERNATE_INT_RTC_MATCH_0, DEPLOYED, WAKE_PIN, DEPLOYED}, // pin wins
        {HIBERNATE_INT_RTC_MATCH_0, DEPLOYED, WAKE_RTC, DEPLOYED},
        {HIBERNATE_INT_VDDFAIL, DEPLOYED, WAKE_NOTSET, IDLE},
        {HIBERNATE_INT_RESET_WAKE, DEPLOYED, WAKE_NOTSET, IDLE},
        {HIBERNATE_INT_GPIO_WAKE, COMMAND, WAKE_NOTSET, IDLE},
        {HIBERNATE_INT_WR_COMPLETE, DEPLOYED, WAKE_RTC, DEPLOYED},  // power cycle resumes sampling
        {HIBERNATE_INT_WR_COMPLETE, COMMAND, WAKE_NOTSET, COMMAND}, // polled mode serves commands again
        {HIBERNATE_INT_WR_COMPLETE | HIBERNATE_INT_LOW_BAT, IDLE, WAKE_NOTSET, IDLE},
        {HIBERNATE_INT_LOW_BAT, DEPLOYED, WAKE_NOTSET, IDLE},
        {0, DEPLOYED, WAKE_NOTSET, IDLE}, // reset button
    };
    for (const Row& r : rows) {
        sim::hib_state().active = 1;
        sim::hib_state().raw_status = r.status;
        sys_samp.state = r.state_before;
        EXPECT_EQ(sleep_handler(), r.wake) << "status 0x" << std::hex << r.status;
        EXPECT_EQ(sys_samp.state, r.state_after) << "status 0x" << std::hex << r.status;
        EXPECT_EQ(sim::hib_state().raw_status, 0u) << "flags are cleared";
    }
}

TEST_F(WakeDecoder, FirstPowerUpConfiguresTheClockWithoutChangingIt)
{
    sim::hib_state().active = 0;
    sim::hib_state().raw_status = HIBERNATE_INT_PIN_WAKE; // not read while inactive
    sim::hib_state().trim = 0;
    uint32_t before = HibernateRTCGet();
    sys_samp.state = DEPLOYED;
    EXPECT_EQ(sleep_handler(), WAKE_NOTSET);
    EXPECT_EQ(sys_samp.state, DEPLOYED);
    EXPECT_EQ(sim::hib_state().trim, 0x7FFFu);
    EXPECT_NE(sim::hib_state().active, 0u);
    uint32_t after = HibernateRTCGet();
    EXPECT_GE(after, before);
    EXPECT_LE(after - before, 1u); // the 200 ms settling wait only
}

TEST_F(TimedSleep, WakeTimeHasATwoSecondFloor)
{
    // With the records unstorable, sleep returns after arming the clock.
    sim::RunOptions& o = sim::bench_options();
    o.faults.eeprom_program = true;
    sys_data.test_mode = 0;
    sys_data.output = NORMAL;
    sys_data.averaging_interval += 1; // something to program, so every store fails

    uint32_t now = HibernateRTCGet();
    sleep(DEPLOYED, now + 2);
    EXPECT_EQ(HibernateRTCMatchGet(0), now + 2);
    EXPECT_EQ(HibernateWakeGet(), HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);

    now = HibernateRTCGet();
    sleep(DEPLOYED, now + 3);
    EXPECT_EQ(HibernateRTCMatchGet(0), now + 3);

    now = HibernateRTCGet();
    sleep(DEPLOYED, now - 100); // in the past
    EXPECT_EQ(HibernateRTCMatchGet(0), now + 2);

    sleep(DEPLOYED, 0); // polled mode: the console pin only
    EXPECT_EQ(HibernateWakeGet(), HIBERNATE_WAKE_PIN);
    EXPECT_EQ(sys_samp.state, DEPLOYED);
    wait_consoleTx();
    wait_ms(5);
    EXPECT_EQ(test::count(output(), "Error storing system data (sleep).\r\n"), 4);
    EXPECT_NE(output().find("\r\n\r\nSleeping in polled mode..\r\n\r\n\r\n"), std::string::npos);
    o.faults.eeprom_program = false;
}

TEST_F(TimedSleep, VerboseOutputShowsTheWakeTime)
{
    sim::RunOptions& o = sim::bench_options();
    o.faults.eeprom_program = true;
    sys_data.output = VERBOSE;
    sleep(DEPLOYED, HibernateRTCGet() + 600);
    wait_consoleTx();
    wait_ms(5);
    EXPECT_NE(output().find("\r\n\r\nSleeping until 01/15/26 12:10:00"), std::string::npos);
    sys_data.output = NORMAL;
    o.faults.eeprom_program = false;
}
