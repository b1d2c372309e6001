// The pump sequencer (one pump, two alternating pumps, the delayed start,
// test mode, keys that end a pump phase) and the solenoid PWM drive, on a
// bench board with the pump supply lines watched.
#include "app/main.h"
#include "board/board_util.h"
#include "board/pwm.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "tests/support/bench.h"

#include <cstring>
#include <vector>

namespace {

// Switching of one board line: times (simulated seconds) it went high and low.
struct LineLog {
    std::vector<double> on, off;
};

class Pump : public test::BenchTest {
  protected:
    void SetUp() override
    {
        test::BenchTest::SetUp();
        std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
        sys_data.data_cfg[CFG_SAMPLE_NUM] = 1;
        watch('D', 1, &pump1_);
        watch('D', 2, &pump2_);
    }
    static void watch(char port, int pin, LineLog* log)
    {
        sim::gpio_watch(port, pin, [log](bool level) {
            (level ? log->on : log->off).push_back(static_cast<double>(sim::now()) / sim::NS_PER_S);
        });
    }
    static void type_at(double seconds_from_now, const std::string& text)
    {
        sim::schedule(sim::now() + static_cast<sim::Time>(seconds_from_now * sim::NS_PER_S),
                      [text] { sim::bench_type(text); });
    }
    static double now_s() { return static_cast<double>(sim::now()) / sim::NS_PER_S; }
    std::string take()
    {
        std::string out = output();
        clear();
        return out;
    }
    LineLog pump1_, pump2_;
};

TEST_F(Pump, SinglePumpRunsItsOnTimeThenSamples)
{
    sys_data.pump1_ontime = 3;
    sys_data.pump_seq_type = 1;
    sys_samp.current_sample = 0;
    const double t0 = now_s();
    EXPECT_EQ(pump_and_sample(1, 0), 0);
    ASSERT_EQ(pump1_.on.size(), 1u);
    ASSERT_EQ(pump1_.off.size(), 1u);
    EXPECT_NEAR(pump1_.off[0] - pump1_.on[0], 3.0, 0.15);
    EXPECT_LT(pump1_.on[0] - t0, 0.01);
    EXPECT_EQ(sys_samp.current_sample, 1u);
    EXPECT_EQ(sys_samp.pump_seq_state, 0u);
    EXPECT_EQ(take(), "#0000000\r\n");
}

TEST_F(Pump, CtrlXOrEnterEndsTheSinglePumpPhaseAndTheSampleFollows)
{
    sys_data.pump1_ontime = 30;
    sys_data.pump_seq_type = 1;
    sys_data.output = VERBOSE;
    struct Case {
        const char* key;
        const char* message;
    };
    const Case cases[] = {
        {"\x18", "Pump cycle ended early due to 0x18 / 24 key\r\n"},
        {"\r", "Pump cycle ended early due to 0x0d / 13 key\r\n"},
    };
    for (const Case& c : cases) {
        pump1_ = LineLog{};
        type_at(1.0, "a");
        type_at(2.0, c.key);
        const uint32_t before = sys_samp.current_sample;
        pump_and_sample(1, 0);
        std::string out = take();
        EXPECT_NE(out.find("Pump cycle active, hit Ctrl-X then <Enter> to terminate cycle\r\n"
                           "\r\nPumping before sample, please wait..."),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        ASSERT_EQ(pump1_.off.size(), 1u);
        EXPECT_NEAR(pump1_.off[0] - pump1_.on[0], 2.0, 0.15);
        EXPECT_EQ(sys_samp.current_sample, before + 1);
    }
}

TEST_F(Pump, TwoPumpsTakeTurnsByTheirCycles)
{
    sys_data.pump_seq_type = 2;
    sys_data.pump1_ontime = 1;
    sys_data.pump2_ontime = 2;
    sys_data.pump1_cycles = 2;
    sys_data.pump2_cycles = 1;
    pump_and_sample_start();
    const char* texts[] = {"P1 01/02\t", "P1 02/02\t", "P2 01/01\t", "P1 01/02\t", "P1 02/02\t"};
    const uint32_t next[] = {2, 4, 2, 2, 4};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pump_and_sample(0, 0), 0);
        EXPECT_STREQ(pumpBuf, texts[i]);
        // The pump text's own tab ends its column in the record.
        const std::string text = std::string(texts[i]).substr(0, 8);
        EXPECT_EQ(std::string(prnBuf), "#000000" + std::to_string(i) + "\t" + text + "\r\n");
        EXPECT_EQ(sys_samp.pump_seq_state, next[i]) << i;
    }
    ASSERT_EQ(pump1_.on.size(), 4u);
    ASSERT_EQ(pump2_.on.size(), 1u);
    ASSERT_EQ(pump2_.off.size(), 1u);
    // On-times resolved to the 250 ms steps.
    EXPECT_NEAR(pump1_.off[0] - pump1_.on[0], 1.0, 0.3);
    EXPECT_NEAR(pump2_.off[0] - pump2_.on[0], 2.0, 0.3);
    // Pump 2 ran between the second and third pump 1 phases.
    EXPECT_GT(pump2_.on[0], pump1_.off[1]);
    EXPECT_LT(pump2_.off[0], pump1_.on[2]);
}

TEST_F(Pump, EnterEndsATwoPumpPhaseWithinAStep)
{
    sys_data.pump_seq_type = 2;
    sys_data.pump1_ontime = 30;
    sys_data.pump1_cycles = 1;
    pump_and_sample_start();
    type_at(1.0, "\r");
    pump_and_sample(0, 0);
    EXPECT_NE(take().find("Pump1 cycle ended early due to 0x0d / 13 key\r\n"), std::string::npos);
    ASSERT_EQ(pump1_.off.size(), 1u);
    EXPECT_LT(pump1_.off[0] - pump1_.on[0], 1.0 + 0.3);
    EXPECT_STREQ(pumpBuf, "P1 01/01\t");
}

TEST_F(Pump, ZeroCyclesCountAsOne)
{
    sys_data.pump_seq_type = 2;
    sys_data.pump1_ontime = 1;
    sys_data.pump2_ontime = 1;
    sys_data.pump1_cycles = 0;
    sys_data.pump2_cycles = 0;
    pump_and_sample_start();
    pump_and_sample(0, 0);
    EXPECT_STREQ(pumpBuf, "P1 01/00\t");
    pump_and_sample(0, 0);
    EXPECT_STREQ(pumpBuf, "P2 01/00\t");
    pump_and_sample(0, 0);
    EXPECT_STREQ(pumpBuf, "P1 01/00\t");
}

TEST_F(Pump, TestModeNeverSwitchesThePumps)
{
    sys_data.test_mode = 1;
    sys_data.pump1_ontime = 1;
    sys_data.pump_seq_type = 1;
    pump_and_sample(1, 0);
    std::string out = take();
    EXPECT_NE(out.find("\r\nSampling..."), std::string::npos);
    EXPECT_NE(out.find("\r\nPump on (test mode)\r\n"), std::string::npos);
    EXPECT_NE(out.find("\r\nPump off (test mode)\r\nPump off\r\n"), std::string::npos);
    EXPECT_NE(out.find("\r\nPump is finished\r\n"), std::string::npos);

    sys_data.pump_seq_type = 2;
    sys_data.pump2_ontime = 1;
    sys_data.pump1_cycles = 1;
    sys_data.pump2_cycles = 1;
    pump_and_sample_start();
    pump_and_sample(0, 0);
    pump_and_sample(0, 0);
    out = take();
    EXPECT_NE(out.find("\r\nPump1 on (test mode)\r\n"), std::string::npos);
    EXPECT_NE(out.find("\r\nPump2 on (test mode)\r\n"), std::string::npos);
    EXPECT_STREQ(pumpBuf, "P2 01/01\t");
    EXPECT_TRUE(pump1_.on.empty());
    EXPECT_TRUE(pump2_.on.empty());
    EXPECT_EQ(sys_samp.current_sample, 3u);
}

TEST_F(Pump, NoOnTimeSamplesAtOnceWhateverTheType)
{
    sys_data.pump1_ontime = 0;
    sys_data.pump_seq_type = 2;
    sys_samp.pump_seq_state = 4;
    const double t0 = now_s();
    EXPECT_EQ(pump_and_sample(0, 0), 0);
    EXPECT_LT(now_s() - t0, 1.0);
    EXPECT_EQ(sys_samp.pump_seq_state, 0u);
    EXPECT_EQ(sys_samp.current_sample, 1u);
    EXPECT_TRUE(pump1_.on.empty());
    EXPECT_TRUE(pump2_.on.empty());
}

TEST_F(Pump, DelayedStartCountsDownBySamplingPeriods)
{
    sys_data.pump_seq_type = 2;
    sys_data.pump1_ontime = 1;
    sys_data.pump1_cycles = 1;
    sys_data.sampling_period = 100;
    sys_data.test_mode = 1;
    sys_samp.pump_seq_state = ST_SEQ_WAIT_TO_START;
    sys_samp.start_pump_cntdown = 250;
    EXPECT_EQ(pump_and_sample(0, 0), ST_SEQ_WAIT_TO_START);
    EXPECT_EQ(take(), "  150\b\b\b\b\b\r\nST_SEQ_WAIT_TO_START\r\n");
    EXPECT_EQ(sys_samp.pump_seq_state, 6u);
    EXPECT_EQ(sys_samp.current_sample, 0u);

    // 50 s left, less than a period: the pump starts in this wake.
    EXPECT_EQ(pump_and_sample(0, 0), 0);
    std::string out = take();
    EXPECT_EQ(out.rfind("   50\b\b\b\b\b\r\nPump Start: 01/15/26 12:00:0", 0), 0u) << out;
    EXPECT_NE(out.find("\r\nPump1 on (test mode)\r\n"), std::string::npos);
    EXPECT_EQ(sys_samp.current_sample, 1u);
    EXPECT_EQ(sys_samp.start_pump_cntdown, 50u);
}

// A damaged state (or one no wake starts from) restarts the sequence and
// the sample is taken; an unknown pump type runs as the single pump.
TEST_F(Pump, BadStoredStateRestartsTheSequenceAndSamples)
{
    sys_data.pump_seq_type = 2;
    sys_data.pump1_ontime = 1;
    sys_data.pump1_cycles = 2;
    for (uint32_t bad : {99u, 0u, 3u}) {
        SCOPED_TRACE(bad);
        sys_samp.pump_seq_state = bad;
        sys_samp.current_sample = 0;
        EXPECT_EQ(pump_and_sample(0, 0), 0);
        EXPECT_NE(take().find("\r\npump_seq_state " + std::to_string(bad) +
                              " is not a waiting state: pump sequence restarted\r\n"),
                  std::string::npos);
        EXPECT_EQ(sys_samp.current_sample, 1u);
        EXPECT_EQ(sys_samp.pump_seq_state, static_cast<uint32_t>(ST_SEQ_PUMP1_START));
    }
    sys_data.pump_seq_type = 7;
    sys_samp.current_sample = 0;
    EXPECT_EQ(pump_and_sample(0, 0), 0);
    EXPECT_NE(take().find("\r\npump_seq_type 7 is not 1 or 2: set to 1\r\n"), std::string::npos);
    EXPECT_EQ(sys_samp.current_sample, 1u);
    EXPECT_EQ(sys_data.pump_seq_type, 1u);
}

using Pwm = test::BenchTest;

TEST_F(Pwm, HoldLevelsOnPG3)
{
    pwmSoln_set(150); // limited to 99 %
    sim::PwmView v = sim::pwm1_view();
    EXPECT_EQ(v.clock_config, SYSCTL_PWMDIV_8);
    EXPECT_EQ(v.gen0_period, 624u);
    EXPECT_EQ(v.out1_width, 617u);
    EXPECT_TRUE(v.gen0_enabled);
    EXPECT_TRUE(v.out1_enabled);
    EXPECT_EQ(v.pg3_duty_permille, 988);
    EXPECT_EQ(sim::gpio_mode('G', 3), sim::PinMode::Peripheral);

    pwmSoln_set(40);
    EXPECT_EQ(sim::pwm1_view().out1_width, 249u);
    pwmSoln_set(0);
    EXPECT_EQ(sim::pwm1_view().out1_width, 0u);
    EXPECT_EQ(sim::pwm1_view().pg3_duty_permille, 0);

    pwmSoln_stop(0);
    v = sim::pwm1_view();
    EXPECT_FALSE(v.gen0_enabled);
    EXPECT_FALSE(v.out1_enabled);
    EXPECT_EQ(v.pg3_duty_permille, -1);
    EXPECT_EQ(sim::gpio_mode('G', 3), sim::PinMode::Output);
    EXPECT_FALSE(sim::gpio_level('G', 3));

    // Running again after a stop configures the generator afresh.
    solenoid_hold(50);
    EXPECT_EQ(sim::pwm1_view().pg3_duty_permille, 500);
    solenoid_on();
    EXPECT_TRUE(sim::gpio_level('G', 3));
    EXPECT_EQ(sim::pwm1_view().pg3_duty_permille, -1);
}

TEST_F(Pwm, StopWithoutStartOnlyDrivesTheLine)
{
    pwmSoln_stop(1);
    sim::PwmView v = sim::pwm1_view();
    EXPECT_FALSE(v.configured);
    EXPECT_EQ(v.clock_config, 0u);
    EXPECT_EQ(sim::gpio_mode('G', 3), sim::PinMode::Output);
    EXPECT_TRUE(sim::gpio_level('G', 3));
    solenoid_off();
    EXPECT_FALSE(sim::gpio_level('G', 3));
    EXPECT_FALSE(sim::pwm1_view().configured);
}

// The pump line (PD1) stepped once per tick from the off phase: over ten
// periods it is on for the set share of the time, in periods of about 100
// ticks.
TEST_F(Pwm, PumpDutyOnTheLine)
{
    for (unsigned percent : {50u, 20u, 80u}) {
        pwmPump.percent = percent;
        pump_off();
        pwmPump_stateMachine(3);
        int on = 0, rises = 0;
        bool was = sim::gpio_level('D', 1);
        const int ticks = 1020;
        for (int t = 0; t < ticks; ++t) {
            pwmPump_stateMachine(-1);
            const bool now = sim::gpio_level('D', 1);
            on += now ? 1 : 0;
            rises += now && !was ? 1 : 0;
            was = now;
        }
        EXPECT_NEAR(100.0 * on / ticks, percent, 2.0) << percent << " %";
        EXPECT_EQ(rises, 10) << percent << " %";
    }
    // The pump machine ignores states it does not know: the line stays.
    const bool before = sim::gpio_level('D', 1);
    EXPECT_EQ(pwmPump_stateMachine(7), 7);
    EXPECT_EQ(sim::gpio_level('D', 1), before);
}

TEST_F(Pwm, SolenoidDutyMachineSwitchesBothLines)
{
    EXPECT_EQ(pwmSoln_stateMachine(2), 2);
    EXPECT_TRUE(sim::gpio_level('G', 1));
    EXPECT_TRUE(sim::gpio_level('G', 3));
    EXPECT_EQ(pwmSoln.gpio, 1u);
    EXPECT_EQ(pwmSoln_stateMachine(0), 0); // idle: nothing changes
    EXPECT_TRUE(sim::gpio_level('G', 1));
    EXPECT_EQ(pwmSoln_stateMachine(9), 9); // unknown: switched off
    EXPECT_FALSE(sim::gpio_level('G', 1));
    EXPECT_EQ(pwmSoln.gpio, 0u);
    pwmSoln_stateMachine(2);
    pwmSoln_stateMachine(1);
    EXPECT_FALSE(sim::gpio_level('G', 3));
}

} // namespace
