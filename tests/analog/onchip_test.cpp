// The on-chip converter burst and the supply and environment monitoring.
#include "tests/analog/analog_fixture.h"

#include "analog/adc_onchip.h"
#include "board/board_util.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "sampling/sample.h"

#include <cstdio>
#include <string>

namespace {

using OnchipAdc = test::AnalogBench;
using Monitoring = test::AnalogBench;

std::string two_decimals(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

} // namespace

TEST(MonitorConversions, CountsToPhysicalValues)
{
    EXPECT_EQ(two_decimals(vbat_from_count(2047)), "11.25");
    EXPECT_EQ(two_decimals(vbat_from_count(4095)), "22.51");
    EXPECT_EQ(leak_from_count(4095), 100u); // not 157
    EXPECT_EQ(leak_from_count(1298), 50u);
    EXPECT_EQ(leak_from_count(0), 0u);
    EXPECT_NEAR(brd_temp_from_count(527), 0.0933, 1e-4);
    EXPECT_EQ(humidity_from_count(3284), 100u);
    EXPECT_EQ(humidity_from_count(1641), 49u); // integer division
    EXPECT_NEAR(chip_temp_from_count(0), 147.5, 1e-6);
    EXPECT_NEAR(chip_temp_from_count(2048), 23.75, 1e-6);
}

TEST_F(OnchipAdc, BurstFillsEightEntriesFromTheMonitoredInputs)
{
    begin(
        {{"noise", "off"}, {"vbat", "12.5"}, {"board_temp", "18"}, {"humidity", "35"}, {"chip_temp", "22"}});
    for (int i = 8; i < ADC_DATA_SIZE; ++i) {
        adc_data[i] = 0xA5A5A5A5u;
    }
    // Monitors off: the board inputs read about zero, the chip sensor does not.
    adc_onchip_init();
    uint32_t* r = read_all_adc();
    EXPECT_EQ(r, adc_data);
    EXPECT_EQ(r[0], 0u);
    EXPECT_EQ(r[2], 0u);
    EXPECT_EQ(r[4], 0u);
    EXPECT_NEAR(chip_temp_from_count(r[7]), 22.0, 0.1);

    pwr_env_mon_on();
    pwr_vbat_mon_on();
    adc_onchip_init();
    read_all_adc();
    EXPECT_NEAR(vbat_from_count(adc_data[0]), 12.5, 0.006);
    EXPECT_EQ(adc_data[5], adc_data[0]);
    EXPECT_EQ(adc_data[6], adc_data[0]);
    EXPECT_NEAR(brd_temp_from_count(adc_data[4]), 18.0, 0.1);
    EXPECT_NEAR(humidity_from_count(adc_data[2]), 35u, 1u); // truncated percent
    EXPECT_EQ(leak_from_count(adc_data[3]), 0u);
    EXPECT_GT(adc_data[1], 0u); // pressure
    for (int i = 8; i < ADC_DATA_SIZE; ++i) {
        EXPECT_EQ(adc_data[i], 0xA5A5A5A5u) << "entry " << i;
    }

    // A second burst overwrites all eight entries.
    world().p.vbat = 11.0;
    world().p.humidity_pct = 60.0;
    read_all_adc();
    EXPECT_NEAR(vbat_from_count(adc_data[0]), 11.0, 0.006);
    EXPECT_NEAR(vbat_from_count(adc_data[6]), 11.0, 0.006);
    EXPECT_NEAR(humidity_from_count(adc_data[2]), 60u, 1u);
    EXPECT_FALSE(adc_onchip_timed_out());
}

TEST_F(OnchipAdc, ConverterThatNeverCompletesIsReportedAndTheLastBurstKept)
{
    begin({{"noise", "off"}});
    pwr_vbat_mon_on();
    adc_onchip_init();
    read_all_adc();
    uint32_t battery = adc_data[0];
    clear();
    SysCtlPeripheralDisable(SYSCTL_PERIPH_ADC0); // triggers now go nowhere
    sim::Time t0 = sim::now();
    read_all_adc();
    double took = seconds_since(t0);
    std::printf("[ measured ] on-chip completion wait gave up after %.3f s simulated\n", took);
    EXPECT_TRUE(adc_onchip_timed_out());
    EXPECT_EQ(adc_data[0], battery);
    EXPECT_LT(took, 1.0);
    EXPECT_EQ(printed(), "\r\nhang in read_all_adc() waiting for ADC complete\r\n"
                         "\r\nread_all_adc(): no ADC completion, previous readings kept\r\n");
}

TEST_F(Monitoring, ReadVbatLeavesTheEnvironmentMonitorOn)
{
    begin({{"vbat", "11.8"}});
    sim::Time t0 = sim::now();
    float v = read_vbat();
    EXPECT_NEAR(v, 11.8, 0.01);
    EXPECT_GE(seconds_since(t0), 0.150);
    EXPECT_TRUE(sim::gpio_level('M', 7));
    EXPECT_FALSE(sim::gpio_level('M', 6));
}

TEST_F(Monitoring, ExerciseIsoPrintsTheThermistorVoltageAndPowersDown)
{
    begin({{"noise", "off"}, {"temp", "15"}});
    exercise_iso();
    std::string text = printed();
    double v = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "\r\nThermistor = %lf\r\n", &v), 1) << text;
    EXPECT_EQ(text.substr(0, 15), "\r\nThermistor = ");
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_NEAR(v, world().vtherm(), 1.5e-6);
    EXPECT_FALSE(sim::gpio_level('K', 2));
    EXPECT_FALSE(sim::gpio_level('M', 6));
    EXPECT_FALSE(sim::gpio_level('M', 7));
}
