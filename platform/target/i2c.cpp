// Target backend: I2C master.
//
// The firmware drives each transfer step itself (command, then poll
// I2CMasterBusy through its own bounded loop).  The only wait here is for
// the master to show that it took a command.
#include "platform/platform.h"
#include "platform/target/target_wait.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

constexpr uint32_t I2C_LAST_BASE = 0x40023000u; // I2C0 .. I2C3 on the APB
// MCS.BUSY is set a few cycles after a command is written: a read straight
// after the write can still show the master idle.  The command is watched
// for 34 pauses of one count (at least 100 cycles, a few microseconds at
// most) to start; a byte on the bus takes 25 us even at 400 kbit/s, so a
// transfer cannot start and end unseen between two polls.
constexpr uint32_t I2C_START_PAUSES = 2 * target::DELAY_COUNTS_PER_US;

bool valid_i2c(uint32_t base)
{
    return base >= I2C0_BASE && base <= I2C_LAST_BASE && (base & 0xFFFu) == 0;
}

inline RegRef i2c(uint32_t base, uint32_t offset)
{
    return reg(base + offset);
}

} // namespace

// Standard (100 kbit/s) or fast (400 kbit/s) mode.  The timer period is
// rounded up so that the bus never runs faster than the mode allows:
// at 50 MHz that is 100 kbit/s and 357 kbit/s.
void I2CMasterInitExpClk(uint32_t ui32Base, uint32_t ui32I2CClk, bool bFast)
{
    if (!valid_i2c(ui32Base)) {
        return;
    }
    I2CMasterEnable(ui32Base);
    uint32_t scl_hz = bFast ? 400000u : 100000u;
    uint32_t per_step = I2C_SCL_CLOCKS_PER_TPR * scl_hz;
    uint32_t tpr = (ui32I2CClk + per_step - 1) / per_step;
    tpr = tpr > 0 ? tpr - 1 : 0;
    if (tpr > 0x7Fu) {
        tpr = 0x7Fu;
    }
    i2c(ui32Base, I2C_MTPR) = tpr;
}

void I2CMasterEnable(uint32_t ui32Base)
{
    if (!valid_i2c(ui32Base)) {
        return;
    }
    i2c(ui32Base, I2C_MCR) = i2c(ui32Base, I2C_MCR) | I2C_MCR_MFE;
}

void I2CMasterDisable(uint32_t ui32Base)
{
    if (!valid_i2c(ui32Base)) {
        return;
    }
    i2c(ui32Base, I2C_MCR) = i2c(ui32Base, I2C_MCR) & ~I2C_MCR_MFE;
}

void I2CMasterSlaveAddrSet(uint32_t ui32Base, uint8_t ui8SlaveAddr, bool bReceive)
{
    if (!valid_i2c(ui32Base)) {
        return;
    }
    i2c(ui32Base, I2C_MSA) = (static_cast<uint32_t>(ui8SlaveAddr & 0x7Fu) << 1) | (bReceive ? 1u : 0u);
}

void I2CMasterDataPut(uint32_t ui32Base, uint8_t ui8Data)
{
    if (!valid_i2c(ui32Base)) {
        return;
    }
    i2c(ui32Base, I2C_MDR) = ui8Data;
}

uint32_t I2CMasterDataGet(uint32_t ui32Base)
{
    if (!valid_i2c(ui32Base)) {
        return 0;
    }
    return i2c(ui32Base, I2C_MDR) & 0xFFu;
}

void I2CMasterControl(uint32_t ui32Base, uint32_t ui32Cmd)
{
    if (!valid_i2c(ui32Base)) {
        return;
    }
    i2c(ui32Base, I2C_MCS) = ui32Cmd & 0x1Fu;
    // Return only once the master shows BUSY, so that the caller's first
    // I2CMasterBusy poll cannot take the transfer for finished, however
    // soon after this call it comes.
    target::watch([=] { return (i2c(ui32Base, I2C_MCS) & I2C_MCS_BUSY) != 0; }, I2C_START_PAUSES, 1);
}

bool I2CMasterBusy(uint32_t ui32Base)
{
    if (!valid_i2c(ui32Base)) {
        return false;
    }
    return (i2c(ui32Base, I2C_MCS) & I2C_MCS_BUSY) != 0;
}

// The error of the last transfer: address not acknowledged, data not
// acknowledged and/or arbitration lost; none while a transfer runs.
uint32_t I2CMasterErr(uint32_t ui32Base)
{
    if (!valid_i2c(ui32Base)) {
        return I2C_MASTER_ERR_NONE;
    }
    uint32_t status = i2c(ui32Base, I2C_MCS);
    if ((status & I2C_MCS_BUSY) != 0) {
        return I2C_MASTER_ERR_NONE;
    }
    if ((status & (I2C_MCS_ERROR | I2C_MCS_ARBLST)) != 0) {
        return status & (I2C_MCS_ARBLST | I2C_MCS_DATACK | I2C_MCS_ADRACK);
    }
    return I2C_MASTER_ERR_NONE;
}
