// Register sequences of the target backend, run against the register model:
// the backend as built for the chip (with its register accesses redirected)
// together with the firmware code that drives it.
#include "tests/target/register_model.h"

#include "analog/adc_onchip.h"
#include "platform/platform.h"
#include "platform/target/target_diag.h"
#include "records/i2c_fram.h"
#include "records/system.h"
#include "serial/uart2.h"
#include "serial/uart3.h"
#include "serial/uart4.h"
#include "serial/uart5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr uint32_t FIRMWARE_CLOCK = SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ;

std::string violations()
{
    std::string all;
    for (const std::string& v : regmodel::violations()) {
        all += v + "\n";
    }
    return all;
}

// The GPIO ports, as the board start-up enables them.
void enable_gpio_ports()
{
    for (uint32_t port = 0; port <= 14; ++port) {
        SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA + port);
    }
}

} // namespace

// --- Clock -----------------------------------------------------------------------

TEST(ClockSetUp, WorkingCrystalAndPllGive50MHzWithTheCrystalWatched)
{
    regmodel::reset();
    SysCtlClockSet(FIRMWARE_CLOCK);
    EXPECT_EQ(violations(), "");
    EXPECT_EQ(regmodel::system_clock_hz(), SYSTEM_CLOCK_HZ);
    EXPECT_EQ(SysCtlClockGet(), SYSTEM_CLOCK_HZ);
    EXPECT_EQ(target_clock_faults(), 0u);
    // The verification circuit stays on, flagging rather than resetting.
    EXPECT_EQ(regmodel::moscctl() & 3u, 3u);
}

// The power-up flag fires without a crystal too; the verification circuit
// is what tells.  The processor must never be clocked from the dead crystal.
TEST(ClockSetUp, DeadCrystalFallsBackToTheInternalOscillatorAt50MHz)
{
    regmodel::reset({.crystal_runs = false});
    SysCtlClockSet(FIRMWARE_CLOCK);
    EXPECT_EQ(violations(), "");
    EXPECT_EQ(regmodel::system_clock_hz(), SYSTEM_CLOCK_HZ);
    EXPECT_EQ(SysCtlClockGet(), SYSTEM_CLOCK_HZ);
    EXPECT_EQ(target_clock_faults(), TARGET_CLOCK_CRYSTAL_FAILED);
}

// Without lock the processor runs from the undivided 16 MHz oscillator (not
// 4 MHz through the divider), and says so.
TEST(ClockSetUp, PllThatDoesNotLockLeaves16MHzUndivided)
{
    for (bool crystal : {true, false}) {
        regmodel::reset({.crystal_runs = crystal, .pll_locks = false});
        SysCtlClockSet(FIRMWARE_CLOCK);
        EXPECT_EQ(violations(), "") << "crystal " << crystal;
        EXPECT_EQ(regmodel::system_clock_hz(), PIOSC_HZ) << "crystal " << crystal;
        EXPECT_EQ(SysCtlClockGet(), PIOSC_HZ) << "crystal " << crystal;
        EXPECT_NE(target_clock_faults() & TARGET_CLOCK_PLL_UNLOCKED, 0u) << "crystal " << crystal;
    }
}

// --- Peripheral gates --------------------------------------------------------------

// Opening an instrument port: init, then set-up at the port's baud rate.
// A UART register used before the UART's clock runs is a bus fault.
TEST(PeripheralGates, InstrumentPortsTouchTheirUartOnlyOnceItIsClocked)
{
    regmodel::reset();
    enable_gpio_ports();
    uart2_init();
    uart2_setup(9600, PIOSC_HZ);
    uart3_init();
    uart3_setup(57600, PIOSC_HZ);
    uart4_init();
    uart4_setup(9600, PIOSC_HZ);
    uart5_init();
    uart5_setup(9600, PIOSC_HZ);
    EXPECT_EQ(violations(), "");
}

// --- On-chip converter ---------------------------------------------------------------

// The battery reading and the converter exercise each set the sequencer up
// again while it is still enabled from the previous time.
TEST(OnChipConverter, SequencerIsReprogrammedOnlyWhileDisabled)
{
    regmodel::reset();
    enable_gpio_ports();
    adc_onchip_init();
    adc_onchip_init();
    EXPECT_EQ(violations(), "");
}

// --- EEPROM and FRAM: the records stored before hibernation -------------------------

// EEDONE.WORKING shows some cycles after a word write.  The store must
// neither write the next word while one is being programmed nor return
// while the last is (hibernation would then cut its power).
TEST(RecordStores, BothRecordsAreStoredCompletelyBeforeTheStoreReturns)
{
    for (uint64_t lag : {0ull, 8ull, 24ull}) {
        regmodel::reset({.eeprom_start_lag = lag});
        enable_gpio_ports();
        SysCtlClockSet(FIRMWARE_CLOCK);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_EEPROM0);
        ASSERT_EQ(EEPROMInit(), EEPROM_INIT_OK);
        i2c0_init(1);
        ASSERT_EQ(fram_probe(), FRAM_PROBE_OK) << violations();

        std::memset(&sys_data, 0, sizeof sys_data);
        for (uint32_t i = 0; i < sizeof sys_data; ++i) {
            reinterpret_cast<unsigned char*>(&sys_data)[i] = static_cast<unsigned char>(i * 7 + lag);
        }
        systemData stored = sys_data;
        sys_samp = systemSamplingData{};
        sys_samp.initNum = SYS_SAMP_INIT_NUM;
        sys_samp.state = DEPLOYED;
        sys_samp.nextWakeUp = 0x12345678u + static_cast<uint32_t>(lag);
        sys_samp.current_sample = 4242;

        EXPECT_EQ(storeSysDataVariables(), 0u) << "lag " << lag;
        EXPECT_FALSE(regmodel::eeprom_programming()) << "lag " << lag;
        EXPECT_EQ(violations(), "") << "lag " << lag;

        // What the next start-up reads back.
        std::memset(&sys_data, 0, sizeof sys_data);
        sys_samp = systemSamplingData{};
        retrieveSysDataVariables();
        EXPECT_EQ(std::memcmp(&sys_data, &stored, sizeof sys_data), 0) << "lag " << lag;
        EXPECT_EQ(sys_samp.state, DEPLOYED) << "lag " << lag;
        EXPECT_EQ(sys_samp.nextWakeUp, 0x12345678u + lag) << "lag " << lag;
        EXPECT_EQ(sys_samp.current_sample, 4242u) << "lag " << lag;
        EXPECT_EQ(violations(), "") << "lag " << lag;
    }
}

// The firmware polls I2CMasterBusy right after each command; the master
// raises BUSY a few cycles after the command.
TEST(RecordStores, I2cMasterShowsBusyAtTheFirstPollAfterACommand)
{
    regmodel::reset({.i2c_start_lag = 40});
    enable_gpio_ports();
    i2c0_init(1);
    I2CMasterSlaveAddrSet(I2C0_BASE, FRAM_I2C_ADDRESS, false);
    I2CMasterDataPut(I2C0_BASE, 0);
    I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_SINGLE_SEND);
    EXPECT_TRUE(I2CMasterBusy(I2C0_BASE));
    EXPECT_EQ(fram_probe(), FRAM_PROBE_OK);
    EXPECT_EQ(violations(), "");
}
