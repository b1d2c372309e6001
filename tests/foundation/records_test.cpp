// Defaults of the records and their storage in EEPROM and FRAM.
#include "records/version.h"
#include "operator/config.h"
#include "operator/config_headers.h"
#include "platform/host/chip.h"
#include "sim/devices/board_services.h"
#include "platform/platform.h"
#include "records/i2c_fram.h"
#include "board/rtc_calendar.h"
#include "records/system.h"
#include "serial/uartstdio.h"
#include "tests/support/bench.h"

#include <cstring>

namespace {

using Records = test::BenchTest;

class BlankRecords : public test::BenchTest {
  protected:
    void SetUp() override
    {
        auto_start_ = false;
        test::BenchTest::SetUp();
        opts.blank = true;
        start(false);
        SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
        UARTStdioConfig(0, 115200, PIOSC_HZ);
        fram_init();
        clear();
    }
};

} // namespace

// The defaults as a user meets them: the data header of a new
// configuration, the card logging on, the data file's name; and the
// reserved areas of the stored record left as they were.
TEST_F(Records, DefaultsShowTheDocumentedColumnsAndKeepTheReservedAreas)
{
    std::memset(&sys_data, 0xA5, sizeof sys_data);
    config_sys_data_default_init();
    clear();
    print_data_header();
    EXPECT_EQ(output(),
              "\r\n\r\n SampNum\t     MM/DD/YYYY HH:MM:SS\tVbatMain\tVbiasPos\tVbiasNeg\t TC_cont\tHumidity\t"
              "  Vtherm\tVthrmStd\t TC_Dfet\t    Vrsi\tVrsi_std\tpHintEst\t    Vrse\tVrse_std\t  Vrsi_B\t"
              "      Vk\t  Vk_std\t      Ik\t      Ib\r\n");
    EXPECT_EQ(sys_data.app_cfg[APPCFG_MICROSD_ENABLE], 1);
    EXPECT_STREQ(sys_data.fileName, "noname.txt");
    EXPECT_STREQ(sys_data.qa.firmware_version, "Version Not Defined");
    EXPECT_EQ(sys_data.pump_spare[0], 0xA5A5A5A5u);
    uint32_t spare4;
    std::memcpy(&spare4, &sys_data.spare[4], 4);
    EXPECT_EQ(spare4, 0xA5A5A5A5u);
    EXPECT_EQ(sys_samp.state, IDLE);
    EXPECT_EQ(sys_samp.nextWakeUp, HibernateRTCGet());
}

TEST_F(Records, ConfigurationRoundTripsThroughTheTwoKilobyteEeprom)
{
    std::snprintf(sys_data.deploy_note, sizeof sys_data.deploy_note, "%s", "mooring B, 40 m");
    std::snprintf(sys_data.qa.tester, sizeof sys_data.qa.tester, "%s", "JW");
    sys_data.qa.comm_pwr = 0x12345678;
    ASSERT_EQ(storeSysDataVariables(), 0u);
    std::memset(&sys_data, 0, sizeof sys_data);
    retrieveSysDataVariables();
    EXPECT_STREQ(sys_data.deploy_note, "mooring B, 40 m");
    EXPECT_STREQ(sys_data.qa.tester, "JW");
    EXPECT_EQ(sys_data.qa.comm_pwr, 0x12345678u);
    // The head of the image sits at 1024, its last 248 bytes at 0.
    const uint8_t* eeprom = sim::eeprom_image();
    EXPECT_EQ(std::memcmp(eeprom + 1024, &sys_data, 1024), 0);
    EXPECT_EQ(std::memcmp(eeprom, reinterpret_cast<uint8_t*>(&sys_data) + 1024, 248), 0);
    EXPECT_EQ(EEPROMSizeGet(), 2048u);
}

TEST_F(Records, StoreReportsEepromFailure)
{
    sim::RunOptions& o = sim::bench_options();
    o.faults.eeprom_program = true;
    sys_data.averaging_interval += 1; // something to program
    EXPECT_NE(storeSysDataVariables(), 0u);
    o.faults.eeprom_program = false;
}

TEST_F(Records, ProbeLeavesThePatternAndRecordSitsAtOffset64)
{
    EXPECT_EQ(fram_probe(), FRAM_PROBE_OK);
    const uint8_t* fram = sim::fram_image();
    EXPECT_EQ(fram[0], 0x55);
    EXPECT_EQ(fram[1], 0xAA);
    EXPECT_EQ(fram[2], 0x55);
    EXPECT_EQ(fram[3], 0xAA);
    sys_samp.current_sample = 1234;
    storeSysSampFRAMVariables();
    EXPECT_EQ(std::memcmp(fram + 64, &sys_samp, sizeof sys_samp), 0);
    EXPECT_EQ(fram[64 + 40], 0xAA); // marker stored little-endian AA 55 AA 55
    EXPECT_EQ(fram[64 + 41], 0x55);
}

TEST_F(Records, StoreRepairsACorruptedMarker)
{
    sys_samp.initNum = 0;
    storeSysSampFRAMVariables();
    wait_consoleTx();
    wait_ms(5);
    EXPECT_EQ(output(), "FRAM sys_samp.initNum is not 0x55AA55AA\r\n");
    EXPECT_EQ(sys_samp.initNum, SYS_SAMP_INIT_NUM);
    systemSamplingData stored;
    std::memcpy(&stored, sim::fram_image() + 64, sizeof stored);
    EXPECT_EQ(stored.initNum, SYS_SAMP_INIT_NUM);
}

TEST_F(BlankRecords, BlankFramBecomesIdleWithZeroCountersStoredAtOnce)
{
    retrieveSysSampFRAMVariables();
    wait_consoleTx();
    wait_ms(5);
    EXPECT_EQ(output(), "FRAM sys_samp.initNum is not 0x55AA55AA\r\n");
    EXPECT_EQ(sys_samp.state, IDLE);
    EXPECT_EQ(sys_samp.current_sample, 0u);
    EXPECT_EQ(sys_samp.nextWakeUp, 0u);
    systemSamplingData stored;
    std::memcpy(&stored, sim::fram_image() + 64, sizeof stored);
    EXPECT_EQ(stored.initNum, SYS_SAMP_INIT_NUM);
    EXPECT_EQ(stored.state, IDLE);
}

TEST_F(BlankRecords, FramOfZerosAlsoFailsTheMarker)
{
    std::memset(sim::fram_image() + 64, 0, 60);
    retrieveSysSampFRAMVariables();
    EXPECT_EQ(sys_samp.initNum, SYS_SAMP_INIT_NUM);
    EXPECT_EQ(sys_samp.state, IDLE);
}

TEST_F(Records, CalendarOfTheRtc)
{
    // 2026-01-15 12:00:00 local is the board's start time.
    struct tm* t = get_RTC_time();
    EXPECT_EQ(t->tm_year, 126);
    EXPECT_EQ(t->tm_mon, 0);
    EXPECT_EQ(t->tm_mday, 15);
    EXPECT_EQ(t->tm_hour, 12);
    // The clock count itself carries the 6 h zone offset.
    struct tm* g = rtc_gmtime(HibernateRTCGet());
    EXPECT_EQ(g->tm_hour, 18);
}
