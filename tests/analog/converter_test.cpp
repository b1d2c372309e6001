// The isolated converter driver against the simulated ADS1248, ADG1609 and
// analog world.
#include "tests/analog/analog_fixture.h"

#include "analog/ads1248_iso.h"
#include "board/board_util.h"
#include "platform/host/sim_core.h"
#include "records/system_data.h"

#include <cmath>
#include <cstdio>

namespace {

using Converter = test::AnalogBench;
using ConverterTiming = test::AnalogBench;
using ConverterFaults = test::AnalogBench;

// Input voltage of one code step at gain 1.
constexpr double STEP = 2.048 / 8388607.0;

constexpr uint8_t REG_MUX0 = 0x00;
constexpr uint8_t REG_MUX1 = 0x02;
constexpr uint8_t REG_SYS0 = 0x03;
constexpr uint8_t REG_GPIOCFG = 0x0C;
constexpr uint8_t REG_GPIODIR = 0x0D;
constexpr uint8_t REG_GPIODAT = 0x0E;

void open_ready()
{
    openADS1248_iso();
    ADS1248_gpio_init();
}

} // namespace

TEST(ConverterCodes, TwosComplementOf24Bits)
{
    EXPECT_EQ(ADS1248_code_value(0x800000), -8388608);
    EXPECT_EQ(ADS1248_code_value(0x7FFFFF), 8388607);
    EXPECT_EQ(ADS1248_code_value(0xFFFFFF), -1);
    EXPECT_EQ(ADS1248_code_value(0x000000), 0);
    EXPECT_EQ(ADS1248_code_value(0x000001), 1);
}

TEST(ConverterCodes, GainAndRateCodes)
{
    EXPECT_EQ(ADS1248_gain_sps(1, 5), 0x00);
    EXPECT_EQ(ADS1248_gain_sps(4, 20), 0x22);
    EXPECT_EQ(ADS1248_gain_sps(128, 2000), 0x79);
    EXPECT_EQ(ADS1248_gain_sps(16, 640), 0x47);
    EXPECT_EQ(ADS1248_gain_sps(2, 1000), 0x18);
}

TEST_F(Converter, SetUpWritesTheRegistersAndTheMultiplexerAddress)
{
    begin({{"noise", "off"}});
    open_ready();
    EXPECT_TRUE(converter().powered());
    EXPECT_EQ(converter().reg(REG_GPIOCFG), 0x0F);
    EXPECT_EQ(converter().reg(REG_GPIODIR), 0x00);
    EXPECT_EQ(converter().reg(REG_GPIODAT), 0x00);

    pollADS1248_iso(1, 6, 1, 4, 40);
    EXPECT_EQ(converter().reg(REG_MUX0), (1 << 3) | 6);
    EXPECT_EQ(converter().reg(REG_MUX1), 0x30);
    EXPECT_EQ(converter().reg(REG_SYS0), 0x23);

    const uint8_t expected[4] = {0x07, 0x02, 0x01, 0x04};
    for (uint32_t chan = 0; chan < 4; ++chan) {
        ADS1248_gpio_ADG1609_mux(chan);
        EXPECT_EQ(converter().reg(REG_GPIODAT), expected[chan]);
        EXPECT_EQ(sim::AnalogWorld::mux_channel(converter().gpio_levels()), static_cast<int>(chan));
    }
    closeADS1248_iso();
    EXPECT_FALSE(converter().powered());
    EXPECT_FALSE(sim::gpio_level('K', 2));
    EXPECT_FALSE(sim::gpio_level('H', 0));
    EXPECT_FALSE(sim::gpio_level('H', 1));
    EXPECT_FALSE(sim::gpio_level('H', 3));
    EXPECT_TRUE(sim::gpio_level('N', 5));
    EXPECT_TRUE(sim::gpio_level('N', 6));
}

TEST_F(Converter, ChannelAboveThreeSelectsThreeWithOneMessage)
{
    begin({{"noise", "off"}});
    open_ready();
    clear();
    ADS1248_gpio_ADG1609_mux(7);
    EXPECT_EQ(printed(),
              "Mux channels are 0 to 3 in ADS1248_iso, error in arg for ADS1248_gpio_ADG1609_mux\r\n");
    EXPECT_EQ(converter().reg(REG_GPIODAT), 0x04);
    // Channel 3 is the internal reference: the reading is Vrsi.
    float v = pollADS1248_iso(1, 6, 1, 1, 1000);
    EXPECT_NEAR(v, world().vrsi(), 2 * STEP);
}

TEST_F(Converter, BiasSelectionClearsTheMultiplexerAndBack)
{
    begin({{"noise", "off"}});
    open_ready();
    ADS1248_gpio_ADG1609_mux(1);
    EXPECT_EQ(converter().reg(REG_GPIODAT), 0x02);
    ADS1248_gpio3(1);
    EXPECT_EQ(converter().reg(REG_GPIODAT), 0x08);
    ADS1248_gpio3(0);
    EXPECT_EQ(converter().reg(REG_GPIODAT), 0x00);
    ADS1248_gpio3(5); // any state but 1 is the negative side
    EXPECT_EQ(converter().reg(REG_GPIODAT), 0x00);
    ADS1248_gpio3(1);
    ADS1248_gpio_ADG1609_mux(0);
    EXPECT_EQ(converter().reg(REG_GPIODAT), 0x07);

    // The bias battery halves through GPIO3, recorded as volts x 2.
    ADS1248_gpio3(1);
    EXPECT_NEAR(pollADS1248_iso(7, 6, 1, 1, 40) * 2.0, world().p.bias_pos, 1e-5);
    ADS1248_gpio3(0);
    EXPECT_NEAR(pollADS1248_iso(7, 6, 1, 1, 40) * 2.0, world().p.bias_neg, 1e-5);
}

TEST_F(Converter, FullScaleAndClippedInputs)
{
    // 3 V on AIN7 is beyond the 2.048 V range of gain 1.
    char minus_one_code[32];
    std::snprintf(minus_one_code, sizeof minus_one_code, "%.12e", -STEP);
    begin({{"noise", "off"}, {"bias_pos", "6.0"}, {"vsub", minus_one_code}});
    open_ready();
    ADS1248_gpio3(1);
    EXPECT_EQ(pollADS1248_iso(7, 6, 1, 1, 160), 2.048f);                    // code 0x7FFFFF
    EXPECT_EQ(pollADS1248_iso(6, 7, 1, 1, 160), -8388608 * 2.4414067e-07f); // code 0x800000
    ADS1248_gpio_ADG1609_mux(2);
    EXPECT_EQ(pollADS1248_iso(5, 6, 1, 1, 160), -2.4414067e-07f); // code 0xFFFFFF
}

TEST_F(Converter, MeanIsTheTruncatedIntegerMeanOfTheCodes)
{
    begin({{"noise", "off"}});
    open_ready();
    ADS1248_gpio_ADG1609_mux(2); // AIN5 - AIN6 is the substrate voltage
    auto two_codes = [&](int first, int second, int gain) {
        world().p.vsub = first * STEP / gain;
        // The second conversion at 20 samples/s completes 100.5 ms after the
        // registers are written; change the input between the two.
        sim::schedule_in(75 * sim::NS_PER_MS,
                         [this, second, gain] { world().p.vsub = second * STEP / gain; });
        return pollADS1248_iso(5, 6, 2, gain, 20);
    };
    EXPECT_EQ(two_codes(1, 2, 1), 2.4414067e-07f); // mean code 1, not 1.5
    EXPECT_NEAR(sys_samp.AD24_std, STEP / 2 * std::sqrt(2.0), 1e-12);
    EXPECT_EQ(two_codes(-1, -2, 1), -2.4414067e-07f); // -3 / 2 truncates toward zero
    // Gain 2: codes 6 and 7 -> mean code 6 -> 6 / 2 = 3 steps.
    EXPECT_EQ(two_codes(6, 7, 2), 3 * 2.4414067e-07f);
    // Gain 4: codes 3 and 3 -> 3 / 4 = 0; the deviation is taken around
    // that truncated mean, so two equal trials still have one.
    EXPECT_EQ(two_codes(3, 3, 4), 0.0f);
    EXPECT_NEAR(sys_samp.AD24_std, 0.75 * STEP, 1e-12);
}

TEST_F(Converter, StandardDeviationNeedsTwoTrials)
{
    begin(); // noise on
    open_ready();
    ADS1248_gpio_ADG1609_mux(3);
    sys_samp.AD24_std = 1.0f;
    float one = pollADS1248_iso(1, 6, 1, 1, 640);
    EXPECT_EQ(sys_samp.AD24_std, 0.0f);
    EXPECT_NEAR(one, world().vrsi(), 50e-6);
    pollADS1248_iso(1, 6, 10, 1, 640);
    EXPECT_GT(sys_samp.AD24_std, 0.5e-6f);
    EXPECT_LT(sys_samp.AD24_std, 50e-6f);

    EXPECT_EQ(pollADS1248_iso(1, 6, 0, 1, 640), 0.0f);
    EXPECT_EQ(sys_samp.AD24_std, 0.0f);
    EXPECT_EQ(pollADS1248_iso(1, 6, -3, 1, 640), 0.0f);
}

TEST_F(Converter, MoreThan120TrialsAreClampedWithOneMessage)
{
    begin({{"noise", "off"}});
    open_ready();
    clear();
    uint64_t before = converter().results_read();
    pollADS1248_iso(1, 6, 121, 1, 2000);
    EXPECT_EQ(converter().results_read() - before, 120u);
    EXPECT_EQ(printed(), "MAX TRIALS is 120 in ADS1248_iso, more trials (avg) than 120 was requested, edit "
                         "pollADS1248_iso() and recompile\r\n");
}

TEST_F(Converter, UnknownGainAndRateFallBackToGainOneAtFiveSps)
{
    begin({{"noise", "off"}});
    open_ready();
    ADS1248_gpio_ADG1609_mux(3);
    clear();
    sim::Time t0 = sim::now();
    float v = pollADS1248_iso(1, 6, 1, 3, 7);
    double took = seconds_since(t0);
    EXPECT_EQ(
        printed(),
        "\r\n\r\nUnrecognized PGA gain. Setting to 1.\r\n\r\nUnrecognized data rate. Setting to 5 sps.");
    EXPECT_EQ(converter().reg(REG_SYS0), 0x00);
    EXPECT_NEAR(v, world().vrsi(), 2 * STEP); // codes divided by 1, not 3
    EXPECT_GT(took, 0.19);                    // one 5 samples/s conversion
    EXPECT_LT(took, 0.25);
}

TEST_F(ConverterTiming, TenTrialsAtTwentySpsTakeHalfASecond)
{
    begin();
    open_ready();
    ADS1248_gpio_ADG1609_mux(3);
    ms_delay(10);
    sim::Time t0 = sim::now();
    pollADS1248_iso(1, 6, 10, 1, 20);
    double took = seconds_since(t0);
    std::printf("[ measured ] 10 trials at 20 sps: %.4f s simulated\n", took);
    EXPECT_GT(took, 0.49);
    EXPECT_LT(took, 0.52);
}

TEST_F(ConverterFaults, UnpoweredConverterTimesOutAndSaysSo)
{
    begin();
    // The isolated supply stays off: no data-ready ever comes.
    openADS1248_iso();
    ADS1248_gpio_init();
    pwr_iso_off();
    clear();
    sys_samp.AD24_std = 1.0f;
    sim::Time t0 = sim::now();
    float v = pollADS1248_iso(1, 6, 10, 1, 20);
    double took = seconds_since(t0);
    std::printf("[ measured ] unpowered reading gave up after %.3f s simulated\n", took);
    EXPECT_EQ(v, ADS1248_NO_DATA_VOLTS);
    EXPECT_EQ(sys_samp.AD24_std, 0.0f);
    EXPECT_EQ(ADS1248_missed_trials(), 10);
    EXPECT_GT(took, 0.99);
    EXPECT_LT(took, 1.1);
    EXPECT_EQ(printed(),
              "\r\nADS1248_iso: no data ready from converter (AIN1-AIN6), 0 of 10 trials taken\r\n");
    closeADS1248_iso();
}

TEST_F(ConverterFaults, SupplyLostMidReadingKeepsTheTrialsTaken)
{
    begin({{"noise", "off"}});
    open_ready();
    ADS1248_gpio_ADG1609_mux(3);
    // Results at 50.5, 100.5, 150.5 ms; the supply fails at 160 ms.
    sim::schedule_in(160 * sim::NS_PER_MS, [] { sim::gpio_write('K', 2, false); });
    clear();
    float v = pollADS1248_iso(1, 6, 10, 1, 20);
    EXPECT_EQ(ADS1248_missed_trials(), 7);
    EXPECT_NEAR(v, world().vrsi(), 2 * STEP);
    EXPECT_EQ(printed(),
              "\r\nADS1248_iso: no data ready from converter (AIN1-AIN6), 3 of 10 trials taken\r\n");
    // The next reading after power returns is complete again.
    openADS1248_iso();
    ADS1248_gpio_init();
    ADS1248_gpio_ADG1609_mux(3);
    pollADS1248_iso(1, 6, 2, 1, 2000);
    EXPECT_EQ(ADS1248_missed_trials(), 0);
}
