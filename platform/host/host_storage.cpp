// EEPROM, hibernation module and the I2C0 master of the simulated
// microcontroller.  The EEPROM array and the hibernation module's state are
// kept across resets by the machine that runs the chip (chip.h).
#include "platform/host/chip.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"

#include <cstring>
#include <map>

// --- EEPROM ------------------------------------------------------------------------

namespace {
// Programming one word takes about 110 us on the chip.
constexpr sim::Time EEPROM_WORD_NS = 110 * sim::NS_PER_US;

// Words programmed in this run, over every boot.
uint64_t* eeprom_word_counter()
{
    return static_cast<uint64_t*>(sim::shared_area("eeprom_words_programmed", sizeof(uint64_t)));
}
} // namespace

uint32_t EEPROMInit()
{
    sim::consume(5 * sim::NS_PER_US);
    return sim::chip_faults().eeprom_init ? EEPROM_INIT_ERROR : EEPROM_INIT_OK;
}

uint32_t EEPROMSizeGet()
{
    sim::register_access();
    return sim::EEPROM_BYTES;
}

void EEPROMRead(uint32_t* pui32Data, uint32_t ui32Address, uint32_t ui32Count)
{
    sim::register_access();
    if ((ui32Address & 3) != 0 || (ui32Count & 3) != 0) {
        return;
    }
    for (uint32_t i = 0; i < ui32Count; i += 4) {
        uint32_t addr = ui32Address + i;
        uint32_t word = 0xFFFFFFFFu; // outside the array: reads as erased
        if (addr + 4 <= sim::EEPROM_BYTES) {
            std::memcpy(&word, sim::eeprom_image() + addr, 4);
        }
        pui32Data[i / 4] = word;
    }
    sim::consume(static_cast<sim::Time>(ui32Count / 4) * 200);
}

uint32_t EEPROMProgram(const uint32_t* pui32Data, uint32_t ui32Address, uint32_t ui32Count)
{
    sim::register_access();
    if ((ui32Address & 3) != 0 || (ui32Count & 3) != 0 || ui32Address + ui32Count > sim::EEPROM_BYTES ||
        ui32Address + ui32Count < ui32Address) {
        return EEPROM_RC_INVPL;
    }
    if (sim::chip_faults().eeprom_program) {
        sim::consume(EEPROM_WORD_NS);
        return EEPROM_RC_WRBUSY | EEPROM_RC_NOPERM;
    }
    std::memcpy(sim::eeprom_image() + ui32Address, pui32Data, ui32Count);
    sim::consume(static_cast<sim::Time>(ui32Count / 4) * EEPROM_WORD_NS);
    if (uint64_t* words = eeprom_word_counter(); words != nullptr) {
        *words += ui32Count / 4;
    }
    return 0;
}

namespace sim {

uint64_t eeprom_words_programmed()
{
    const uint64_t* words = eeprom_word_counter();
    return words != nullptr ? *words : 0;
}

} // namespace sim

// --- Hibernation module ----------------------------------------------------------------

// Only tells the module the processor's clock rate; the module becomes
// active (its 32 kHz clock running) with the clock configuration.
void HibernateEnableExpClk(uint32_t)
{
    sim::register_access();
}

bool HibernateIsActive()
{
    sim::register_access();
    return sim::hib_state().active != 0;
}

uint32_t HibernateIntStatus(bool bMasked)
{
    sim::register_access();
    // No hibernation interrupt is ever enabled by this firmware; the masked
    // status is therefore always empty.
    return bMasked ? 0 : sim::hib_state().raw_status;
}

void HibernateIntClear(uint32_t ui32IntFlags)
{
    sim::hib_state().raw_status &= ~ui32IntFlags;
    sim::consume(92 * sim::NS_PER_US); // write-complete wait of the module (3 RTC clocks)
}

void HibernateIntDisable(uint32_t)
{
    sim::consume(92 * sim::NS_PER_US);
}
void HibernateGPIORetentionDisable()
{
    sim::consume(92 * sim::NS_PER_US);
}

void HibernateClockConfig(uint32_t ui32Config)
{
    sim::hib_state().clock_config = ui32Config;
    sim::hib_state().active = 1;
    sim::consume(92 * sim::NS_PER_US);
}

void HibernateRTCTrimSet(uint32_t ui32Trim)
{
    sim::hib_state().trim = ui32Trim;
    sim::consume(92 * sim::NS_PER_US);
}

void HibernateRTCEnable()
{
    sim::HibState& h = sim::hib_state();
    if (h.rtc_enabled == 0) {
        h.rtc_seconds = sim::hib_rtc_now();
        h.rtc_ref_ns = sim::now();
        h.rtc_enabled = 1;
    }
    h.active = 1;
    sim::consume(92 * sim::NS_PER_US);
}

uint32_t HibernateRTCGet()
{
    sim::register_access();
    return sim::hib_rtc_now();
}

void HibernateRTCSet(uint32_t ui32RTCValue)
{
    sim::HibState& h = sim::hib_state();
    h.rtc_seconds = ui32RTCValue;
    h.rtc_ref_ns = sim::now();
    sim::consume(92 * sim::NS_PER_US);
}

void HibernateRTCMatchSet(uint32_t ui32Match, uint32_t ui32Value)
{
    if (ui32Match == 0) {
        sim::hib_state().match0 = ui32Value;
    }
    sim::consume(92 * sim::NS_PER_US);
}

uint32_t HibernateRTCMatchGet(uint32_t ui32Match)
{
    sim::register_access();
    return ui32Match == 0 ? sim::hib_state().match0 : 0;
}

void HibernateWakeSet(uint32_t ui32WakeFlags)
{
    sim::hib_state().wake_flags = ui32WakeFlags & (HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);
    sim::consume(92 * sim::NS_PER_US);
}

uint32_t HibernateWakeGet()
{
    sim::register_access();
    return sim::hib_state().wake_flags;
}

void HibernateRequest()
{
    sim::register_access();
    if (sim::chip_faults().hibernate) {
        return; // e.g. a jumper holds the processor supply on
    }
    sim::boot_end(sim::BootEnd::Hibernate);
}

void HibernateDataSet(const uint32_t* pui32Data, uint32_t ui32Count)
{
    sim::HibState& h = sim::hib_state();
    for (uint32_t i = 0; i < ui32Count && i < 16; ++i) {
        h.data[i] = pui32Data[i];
    }
    sim::consume(92 * sim::NS_PER_US);
}

void HibernateDataGet(uint32_t* pui32Data, uint32_t ui32Count)
{
    const sim::HibState& h = sim::hib_state();
    for (uint32_t i = 0; i < ui32Count; ++i) {
        pui32Data[i] = i < 16 ? h.data[i] : 0;
    }
    sim::register_access();
}

// --- I2C0 master -------------------------------------------------------------------

namespace {

struct I2cMaster {
    bool enabled = false;
    uint32_t bit_rate = 100000;
    uint8_t slave = 0;
    bool receive = false;
    uint8_t mdr = 0;
    uint32_t err = 0;
    sim::Time busy_until = 0;
    // The target addressed by the last start, until the stop.
    sim::I2cTarget* selected = nullptr;
    std::map<uint8_t, sim::I2cTarget*> targets; // by 7-bit address
};

I2cMaster g_i2c;

// One byte on the bus, nine clocks, plus start/stop conditions.
sim::Time i2c_bytes_ns(int bytes, bool start, bool stop)
{
    sim::Time bit = sim::NS_PER_S / g_i2c.bit_rate;
    return bit * (9 * static_cast<sim::Time>(bytes) + (start ? 1 : 0) + (stop ? 1 : 0));
}

} // namespace

void I2CMasterInitExpClk(uint32_t, uint32_t, bool bFast)
{
    g_i2c.bit_rate = bFast ? 400000 : 100000;
    g_i2c.enabled = true;
    sim::register_access();
}

void I2CMasterEnable(uint32_t)
{
    g_i2c.enabled = true;
    sim::register_access();
}

void I2CMasterDisable(uint32_t)
{
    g_i2c.enabled = false;
    sim::register_access();
}

void I2CMasterSlaveAddrSet(uint32_t, uint8_t ui8SlaveAddr, bool bReceive)
{
    g_i2c.slave = ui8SlaveAddr;
    g_i2c.receive = bReceive;
    sim::register_access();
}

void I2CMasterDataPut(uint32_t, uint8_t ui8Data)
{
    g_i2c.mdr = ui8Data;
    sim::register_access();
}

uint32_t I2CMasterDataGet(uint32_t)
{
    sim::register_access();
    return g_i2c.mdr;
}

void I2CMasterControl(uint32_t, uint32_t ui32Cmd)
{
    sim::register_access();
    if (!g_i2c.enabled) {
        return;
    }
    const bool run = (ui32Cmd & 0x01) != 0;
    const bool start = (ui32Cmd & 0x02) != 0;
    const bool stop = (ui32Cmd & 0x04) != 0;
    int bytes = 0;
    if (start) {
        bytes += 1; // address byte
        g_i2c.err = 0;
        auto it = g_i2c.targets.find(g_i2c.slave);
        g_i2c.selected =
            it != g_i2c.targets.end() && it->second->i2c_start(g_i2c.receive) ? it->second : nullptr;
        if (g_i2c.selected == nullptr) {
            g_i2c.err = I2C_MASTER_ERR_ADDR_ACK;
        }
    }
    if (run && g_i2c.err == 0 && g_i2c.selected != nullptr) {
        bytes += 1;
        if (g_i2c.receive) {
            g_i2c.mdr = g_i2c.selected->i2c_read();
        } else {
            g_i2c.selected->i2c_write(g_i2c.mdr);
        }
    }
    if (stop || g_i2c.err != 0) {
        g_i2c.selected = nullptr;
    }
    g_i2c.busy_until = sim::now() + i2c_bytes_ns(bytes, start, stop);
}

bool I2CMasterBusy(uint32_t)
{
    bool busy = sim::now() < g_i2c.busy_until;
    if (busy) {
        sim::idle(g_i2c.busy_until - sim::now());
    } else {
        sim::register_access();
    }
    return busy;
}

uint32_t I2CMasterErr(uint32_t)
{
    sim::register_access();
    return g_i2c.err;
}

namespace sim {

// Power-on state of the I2C master (in-process test benches).
void storage_models_boot()
{
    g_i2c = I2cMaster{};
}

void i2c_attach(uint32_t i2c_base, uint8_t address, I2cTarget* target)
{
    if (i2c_base == I2C0_BASE) {
        g_i2c.targets[address] = target;
    }
}

} // namespace sim
