// I2C0 master driver and the FRAM holding the deployment-progress record.
//
// Every transfer runs with all interrupts masked so that no console or
// instrument interrupt can stretch the bus protocol.  The driver reads no
// error status: a missing device yields whatever the data register holds,
// and the record's validity marker is the safeguard.
#include "records/i2c_fram.h"

#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"

#include <cstring>

namespace {

// Transfer buffer of the driver; the probe uses its first four bytes.
unsigned char framBuf[132];

// Longest plausible transfer of one byte is about 25 us at 100 kbit/s; the
// bound covers a stuck bus without hanging the firmware.
constexpr uint32_t I2C_BUSY_POLL_LIMIT = 100000;

void i2c0_wait_idle()
{
    for (uint32_t n = 0; n < I2C_BUSY_POLL_LIMIT && I2CMasterBusy(I2C0_BASE); ++n) {
    }
}

} // namespace

void i2c0_init(int bFast)
{
    SysCtlPeripheralEnable(SYSCTL_PERIPH_I2C0);
    SysCtlPeripheralReset(SYSCTL_PERIPH_I2C0);
    GPIOPinConfigure(GPIO_PB2_I2C0SCL);
    GPIOPinConfigure(GPIO_PB3_I2C0SDA);
    GPIOPinTypeI2CSCL(GPIO_PORTB_BASE, GPIO_PIN_2);
    GPIOPinTypeI2C(GPIO_PORTB_BASE, GPIO_PIN_3);
    GPIOPadConfigSet(GPIO_PORTB_BASE, GPIO_PIN_2, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD);
    GPIOPadConfigSet(GPIO_PORTB_BASE, GPIO_PIN_3, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_OD);
    I2CMasterInitExpClk(I2C0_BASE, SysCtlClockGet(), bFast != 0);
    I2CMasterEnable(I2C0_BASE);
}

void i2c0_write(int uiSlave_add, unsigned char* ucData, int uiCount, int ucStart_add)
{
    const uint16_t count = static_cast<uint16_t>(uiCount);
    const bool was_masked = IntMasterDisable();
    I2CMasterSlaveAddrSet(I2C0_BASE, static_cast<uint8_t>(uiSlave_add), false);
    I2CMasterDataPut(I2C0_BASE, static_cast<uint8_t>(ucStart_add));
    i2c0_wait_idle();
    if (count == 0) {
        I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_SINGLE_SEND);
    } else {
        I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_START);
        i2c0_wait_idle();
        I2CMasterDataPut(I2C0_BASE, ucData[0]);
        for (uint16_t i = 1; i < count; ++i) {
            I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_CONT);
            i2c0_wait_idle();
            I2CMasterDataPut(I2C0_BASE, ucData[i]);
        }
        I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_FINISH);
    }
    i2c0_wait_idle();
    if (!was_masked) {
        IntMasterEnable();
    }
}

void i2c0_read(int uiSlave_add, unsigned char* ucRec_Data, int uiCount, int ucStart_add, int bDummyRead)
{
    const uint16_t count = static_cast<uint16_t>(uiCount);
    if (count == 0) {
        return;
    }
    const bool was_masked = IntMasterDisable();
    I2CMasterSlaveAddrSet(I2C0_BASE, static_cast<uint8_t>(uiSlave_add), false);
    I2CMasterDataPut(I2C0_BASE, static_cast<uint8_t>(ucStart_add));
    I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_START);
    i2c0_wait_idle();
    I2CMasterSlaveAddrSet(I2C0_BASE, static_cast<uint8_t>(uiSlave_add), true);
    if (count == 1) {
        I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_SINGLE_RECEIVE);
        i2c0_wait_idle();
        ucRec_Data[0] = static_cast<unsigned char>(I2CMasterDataGet(I2C0_BASE));
        if (bDummyRead != 0) {
            i2c0_wait_idle();
            ucRec_Data[0] = static_cast<unsigned char>(I2CMasterDataGet(I2C0_BASE));
        }
    } else {
        I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_RECEIVE_START);
        if (bDummyRead != 0) {
            i2c0_wait_idle();
            ucRec_Data[0] = static_cast<unsigned char>(I2CMasterDataGet(I2C0_BASE));
        }
        i2c0_wait_idle();
        ucRec_Data[0] = static_cast<unsigned char>(I2CMasterDataGet(I2C0_BASE));
        for (uint16_t i = 1; i + 1 < count; ++i) {
            I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_RECEIVE_CONT);
            i2c0_wait_idle();
            ucRec_Data[i] = static_cast<unsigned char>(I2CMasterDataGet(I2C0_BASE));
        }
        I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_RECEIVE_FINISH);
        i2c0_wait_idle();
        ucRec_Data[count - 1] = static_cast<unsigned char>(I2CMasterDataGet(I2C0_BASE));
    }
    i2c0_wait_idle();
    if (!was_masked) {
        IntMasterEnable();
    }
}

uint32_t fram_probe()
{
    static const unsigned char pattern[4] = {0x55, 0xAA, 0x55, 0xAA};
    std::memcpy(framBuf, pattern, sizeof pattern);
    i2c0_write(FRAM_I2C_ADDRESS, framBuf, 4, FRAM_PROBE_OFFSET);
    std::memset(framBuf, 0, 4);
    i2c0_read(FRAM_I2C_ADDRESS, framBuf, 4, FRAM_PROBE_OFFSET, 1);
    return std::memcmp(framBuf, pattern, sizeof pattern) == 0 ? FRAM_PROBE_OK : 0;
}

void fram_init()
{
    i2c0_init(1);
    if (fram_probe() != FRAM_PROBE_OK) {
        uprintf("\r\nERROR: FRAM fails probe - switch to HIB module\r\n");
    }
}

void fram_sys_samp_store()
{
    std::memcpy(framBuf, &sys_samp, sizeof sys_samp);
    i2c0_write(FRAM_I2C_ADDRESS, framBuf, sizeof sys_samp, FRAM_SYS_SAMP_OFFSET);
}

void fram_sys_samp_retrieve()
{
    i2c0_read(FRAM_I2C_ADDRESS, framBuf, sizeof sys_samp, FRAM_SYS_SAMP_OFFSET, 1);
    std::memcpy(&sys_samp, framBuf, sizeof sys_samp);
}

void fram_append_pos_store(const appendPosition& rec)
{
    static_assert(sizeof rec <= sizeof framBuf);
    static_assert(FRAM_APPEND_POS_OFFSET >=
                  FRAM_SYS_SAMP_OFFSET + static_cast<int>(sizeof(systemSamplingData)));
    static_assert(FRAM_APPEND_POS_OFFSET + sizeof rec <= 256, "one-byte FRAM addresses");
    std::memcpy(framBuf, &rec, sizeof rec);
    i2c0_write(FRAM_I2C_ADDRESS, framBuf, sizeof rec, FRAM_APPEND_POS_OFFSET);
}

void fram_append_pos_retrieve(appendPosition* rec)
{
    i2c0_read(FRAM_I2C_ADDRESS, framBuf, sizeof *rec, FRAM_APPEND_POS_OFFSET, 1);
    std::memcpy(rec, framBuf, sizeof *rec);
}
