// Register model of the TM4C123GH6PGE for host tests of the target backend.
#include "tests/target/register_model.h"

#include "platform/platform.h"
#include "platform/target/target_core.h"
#include "platform/target/tm4c123_regs.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

using namespace tm4c;

namespace {

constexpr uint64_t NEVER = UINT64_MAX;

// Timings in processor cycles at 50 MHz (some shortened: only their order
// matters to the sequences under test).
constexpr uint64_t PERIPH_READY_CYCLES = 6;
constexpr uint64_t MOSC_POWER_UP_CYCLES = 50000; // 1 ms
constexpr uint64_t MOSC_VERIFY_CYCLES = 5000;    // a dead crystal is flagged 100 us after the check starts
constexpr uint64_t PLL_LOCK_CYCLES = 25000;      // 0.5 ms
constexpr uint64_t EEPROM_PROGRAM_CYCLES = 5000; // 100 us a word
constexpr uint64_t I2C_BYTE_CYCLES = 4500;       // 9 bits at 100 kbit/s

constexpr uint32_t RCC_RESET = 0x078E3AD1u; // internal oscillator, PLL bypassed and off
constexpr uint32_t EE_WORDS = 512;

constexpr uint32_t I2C_MCS_RUN = 1u << 0;
constexpr uint32_t I2C_MCS_START = 1u << 1;
constexpr uint32_t I2C_MCS_STOP = 1u << 2;
constexpr uint32_t I2C_MCS_ACK = 1u << 3;
constexpr uint32_t FRAM_ADDRESS = 0x50;
constexpr uint32_t FRAM_BYTES = 256;

// One I2C master with a byte-addressed FRAM on its bus.
struct I2cMaster {
    uint64_t busy_from = 0;
    uint64_t busy_until = 0;
    bool pending_receive = false; // a received byte lands in MDR when the transfer ends
    bool addressed = false;       // a write transfer: the first byte is the memory address
    bool got_address = false;
};

struct State {
    regmodel::Options opt;
    uint64_t now = 0;
    std::map<uint32_t, uint32_t> mem;
    std::vector<std::string> violations;
    bool primask = false;
    // Peripheral ready times, by (RCGC bank offset << 8 | instance).
    std::map<uint32_t, uint64_t> ready_at;
    // Clock.
    uint64_t mosc_on_at = NEVER;
    uint64_t power_up_at = NEVER;
    uint64_t verify_from = NEVER;
    uint64_t failed_at = NEVER;
    bool failure_reset = false;
    uint64_t pll_start = 0;
    // EEPROM.
    std::array<uint32_t, EE_WORDS> eeprom{};
    uint64_t ee_working_from = 0;
    uint64_t ee_busy_until = 0;
    bool ee_wrbusy = false;
    // I2C.
    std::map<uint32_t, I2cMaster> i2c;
    std::array<uint8_t, FRAM_BYTES> fram{};
    uint32_t fram_pointer = 0;
};

State g;

void violation(const char* what, uint32_t address)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s (register 0x%08X, cycle %llu)", what, address,
                  static_cast<unsigned long long>(g.now));
    g.violations.emplace_back(text);
}

uint32_t& cell(uint32_t address)
{
    return g.mem[address];
}

// --- Peripheral gates -------------------------------------------------------------

struct GateRange {
    uint32_t first;
    uint32_t last;
    uint32_t bank_offset;
    uint32_t first_instance;
};

constexpr GateRange GATES[] = {
    {0x40004000u, 0x40007000u, 0x08, 0}, // GPIO A-D
    {0x40024000u, 0x40027000u, 0x08, 4}, // GPIO E-H
    {0x4003D000u, 0x4003D000u, 0x08, 8}, // GPIO J
    {0x40061000u, 0x40066000u, 0x08, 9}, // GPIO K-Q
    {0x40008000u, 0x4000B000u, 0x1C, 0}, // SSI0-3
    {0x4000C000u, 0x40013000u, 0x18, 0}, // UART0-7
    {0x40020000u, 0x40023000u, 0x20, 0}, // I2C0-3
    {0x40028000u, 0x40029000u, 0x40, 0}, // PWM0-1
    {0x40038000u, 0x40039000u, 0x38, 0}, // ADC0-1
    {0x400AF000u, 0x400AF000u, 0x58, 0}, // EEPROM
    {0x400FC000u, 0x400FC000u, 0x14, 0}, // hibernation module
};

bool gate_of(uint32_t address, uint32_t& key)
{
    uint32_t base = address & ~0xFFFu;
    for (const GateRange& r : GATES) {
        if (base >= r.first && base <= r.last) {
            key = (r.bank_offset << 8) | (r.first_instance + (base - r.first) / 0x1000u);
            return true;
        }
    }
    return false;
}

bool ready(uint32_t key)
{
    auto it = g.ready_at.find(key);
    return it != g.ready_at.end() && it->second <= g.now;
}

void gate_write(uint32_t bank, uint32_t offset, uint32_t old_value, uint32_t value)
{
    uint32_t rcgc = cell(SYSCTL_BASE + SYSCTL_RCGC_BANK + offset);
    uint32_t sr = cell(SYSCTL_BASE + SYSCTL_SR_BANK + offset);
    for (uint32_t bit = 0; bit < 32; ++bit) {
        uint32_t mask = 1u << bit;
        if (((old_value ^ value) & mask) == 0) {
            continue;
        }
        uint32_t key = (offset << 8) | bit;
        bool on = (rcgc & mask) != 0 && (sr & mask) == 0;
        g.ready_at[key] = on ? g.now + PERIPH_READY_CYCLES : NEVER;
        if (bank == SYSCTL_SR_BANK && (value & mask) != 0 && offset == 0x58) {
            g.ee_busy_until = 0;
            g.ee_wrbusy = false;
        }
    }
}

uint32_t ready_bits(uint32_t offset)
{
    uint32_t bits = 0;
    for (uint32_t bit = 0; bit < 32; ++bit) {
        if (ready((offset << 8) | bit)) {
            bits |= 1u << bit;
        }
    }
    return bits;
}

// --- Clock --------------------------------------------------------------------------

uint32_t rcc()
{
    return cell(SYSCTL_BASE + SYSCTL_RCC);
}

bool mosc_on()
{
    return (rcc() & RCC_MOSCDIS) == 0;
}

bool crystal_oscillating()
{
    return g.opt.crystal_runs && mosc_on() && g.now >= g.mosc_on_at + MOSC_POWER_UP_CYCLES;
}

bool pll_reference_runs()
{
    uint32_t src = (rcc() & RCC_OSCSRC_MASK) >> RCC_OSCSRC_SHIFT;
    return src == OSCSRC_PIOSC || (src == OSCSRC_MAIN && crystal_oscillating());
}

bool pll_locked()
{
    return g.opt.pll_locks && (rcc() & RCC_PWRDN) == 0 && pll_reference_runs() &&
           g.now >= g.pll_start + PLL_LOCK_CYCLES;
}

// The verification circuit: a dead crystal is flagged (or resets the chip)
// some time after both the oscillator and the check are on.
void update_verification()
{
    uint32_t ctl = cell(SYSCTL_BASE + SYSCTL_MOSCCTL);
    if (g.opt.crystal_runs || !mosc_on() || (ctl & MOSCCTL_CVAL) == 0 || g.failed_at != NEVER) {
        return;
    }
    uint64_t at = std::max(g.verify_from, g.mosc_on_at) + MOSC_VERIFY_CYCLES;
    if (g.now < at) {
        return;
    }
    if ((ctl & MOSCCTL_MOSCIM) != 0) {
        g.failed_at = at;
    } else if (!g.failure_reset) {
        g.failure_reset = true;
        violation("main oscillator failure reset", SYSCTL_BASE + SYSCTL_MOSCCTL);
    }
}

void rcc_write(uint32_t old_value, uint32_t value)
{
    if ((old_value & RCC_MOSCDIS) != 0 && (value & RCC_MOSCDIS) == 0) {
        g.mosc_on_at = g.now;
        g.power_up_at = g.now + MOSC_POWER_UP_CYCLES;
    } else if ((value & RCC_MOSCDIS) != 0) {
        g.mosc_on_at = NEVER;
        g.power_up_at = NEVER;
    }
    constexpr uint32_t pll_inputs = RCC_PWRDN | RCC_XTAL_MASK | RCC_OSCSRC_MASK;
    if (((old_value ^ value) & pll_inputs) != 0) {
        g.pll_start = g.now; // lock is lost and starts again
    }
    uint32_t src = (value & RCC_OSCSRC_MASK) >> RCC_OSCSRC_SHIFT;
    if (src == OSCSRC_MAIN && !crystal_oscillating()) {
        violation("system clock or PLL reference taken from a main oscillator that does not run",
                  SYSCTL_BASE + SYSCTL_RCC);
    }
    if ((value & RCC_BYPASS) == 0 &&
        ((old_value & RCC_BYPASS) != 0 || ((old_value ^ value) & pll_inputs) != 0) && !pll_locked()) {
        violation("system clock taken from a PLL that has not locked", SYSCTL_BASE + SYSCTL_RCC);
    }
}

uint32_t sysctl_read(uint32_t offset)
{
    if (offset >= SYSCTL_PR_BANK && offset < SYSCTL_PR_BANK + 0x100) {
        return ready_bits(offset - SYSCTL_PR_BANK);
    }
    if (offset >= SYSCTL_PP_BANK && offset < SYSCTL_PP_BANK + 0x100) {
        return 0xFFFFu; // every instance present
    }
    switch (offset) {
    case SYSCTL_RIS: {
        uint32_t ris = 0;
        if (g.power_up_at <= g.now) {
            ris |= RIS_MOSCPUPRIS;
        }
        if (g.failed_at <= g.now) {
            ris |= RIS_MOFRIS;
        }
        return ris;
    }
    case SYSCTL_PLLSTAT:
        return pll_locked() ? PLLSTAT_LOCK : 0;
    default:
        return cell(SYSCTL_BASE + offset);
    }
}

void sysctl_write(uint32_t offset, uint32_t value)
{
    uint32_t& c = cell(SYSCTL_BASE + offset);
    uint32_t old_value = c;
    c = value;
    if (offset >= SYSCTL_RCGC_BANK && offset < SYSCTL_RCGC_BANK + 0x100) {
        gate_write(SYSCTL_RCGC_BANK, offset - SYSCTL_RCGC_BANK, old_value, value);
    } else if (offset >= SYSCTL_SR_BANK && offset < SYSCTL_SR_BANK + 0x100) {
        gate_write(SYSCTL_SR_BANK, offset - SYSCTL_SR_BANK, old_value, value);
    } else if (offset == SYSCTL_RCC) {
        rcc_write(old_value, value);
    } else if (offset == SYSCTL_RCC2 && (value & RCC2_USERCC2) != 0) {
        violation("RCC2 in use (not modelled)", SYSCTL_BASE + offset);
    } else if (offset == SYSCTL_MISC) {
        c = 0;
        if ((value & MISC_MOSCPUPMIS) != 0 && g.power_up_at <= g.now) {
            g.power_up_at = NEVER;
        }
        if ((value & MISC_MOFMIS) != 0 && g.failed_at <= g.now) {
            g.failed_at = NEVER;
            g.verify_from = g.now; // a crystal that is still dead is flagged again
        }
    } else if (offset == SYSCTL_MOSCCTL) {
        if ((old_value & MOSCCTL_CVAL) == 0 && (value & MOSCCTL_CVAL) != 0) {
            g.verify_from = g.now;
        }
        if ((value & MOSCCTL_CVAL) == 0) {
            g.failed_at = NEVER;
        }
    }
}

// --- EEPROM -------------------------------------------------------------------------

uint32_t& ee_cell(uint32_t offset)
{
    return cell(EEPROM_BASE + offset);
}

uint32_t ee_index()
{
    return (ee_cell(EE_BLOCK) % 32) * EE_WORDS_PER_BLOCK + ee_cell(EE_OFFSET) % EE_WORDS_PER_BLOCK;
}

void ee_advance()
{
    ee_cell(EE_OFFSET) = (ee_cell(EE_OFFSET) + 1) % EE_WORDS_PER_BLOCK;
}

uint32_t eeprom_read(uint32_t offset)
{
    switch (offset) {
    case EE_SIZE:
        return (32u << 16) | EE_WORDS;
    case EE_DONE: {
        uint32_t done = g.ee_wrbusy ? EE_DONE_WRBUSY : 0;
        if (g.now >= g.ee_working_from && g.now < g.ee_busy_until) {
            done |= EE_DONE_WORKING;
        }
        return done;
    }
    case EE_SUPP:
        return 0;
    case EE_RDWRINC: {
        uint32_t word = g.eeprom[ee_index()];
        ee_advance();
        return word;
    }
    default:
        return ee_cell(offset);
    }
}

void eeprom_write(uint32_t offset, uint32_t value)
{
    if (offset != EE_RDWRINC) {
        ee_cell(offset) = value;
        return;
    }
    if (g.now < g.ee_busy_until) {
        g.ee_wrbusy = true;
        violation("EEPROM word written while the previous one is being programmed: dropped",
                  EEPROM_BASE + offset);
        return;
    }
    g.ee_wrbusy = false;
    g.eeprom[ee_index()] = value;
    g.ee_working_from = g.now + g.opt.eeprom_start_lag;
    g.ee_busy_until = g.ee_working_from + EEPROM_PROGRAM_CYCLES;
    ee_advance();
}

// --- I2C master and the FRAM on its bus ------------------------------------------------

bool i2c_busy(const I2cMaster& m)
{
    return g.now >= m.busy_from && g.now < m.busy_until;
}

// A received byte reaches MDR when its transfer has ended.
void i2c_settle(uint32_t base, I2cMaster& m)
{
    if (m.pending_receive && g.now >= m.busy_until) {
        m.pending_receive = false;
        cell(base + I2C_MDR) = g.fram[g.fram_pointer % FRAM_BYTES];
        g.fram_pointer = (g.fram_pointer + 1) % FRAM_BYTES;
    }
}

void i2c_command(uint32_t base, I2cMaster& m, uint32_t command)
{
    if (g.now < m.busy_until) {
        violation("I2C command written while the master is busy: ignored", base + I2C_MCS);
        return;
    }
    if ((command & (I2C_MCS_RUN | I2C_MCS_START | I2C_MCS_STOP)) == 0) {
        return;
    }
    uint32_t msa = cell(base + I2C_MSA);
    bool receive = (msa & 1u) != 0;
    uint64_t bytes = 0;
    if ((command & I2C_MCS_START) != 0) {
        bytes += 1; // the address
        m.addressed = (msa >> 1) == FRAM_ADDRESS;
        m.got_address = false;
    }
    if ((command & I2C_MCS_RUN) != 0) {
        bytes += 1;
        if (receive) {
            m.pending_receive = m.addressed;
        } else if (m.addressed) {
            uint8_t data = static_cast<uint8_t>(cell(base + I2C_MDR));
            if (!m.got_address) {
                g.fram_pointer = data;
                m.got_address = true;
            } else {
                g.fram[g.fram_pointer % FRAM_BYTES] = data;
                g.fram_pointer = (g.fram_pointer + 1) % FRAM_BYTES;
            }
        }
    }
    m.busy_from = g.now + g.opt.i2c_start_lag;
    m.busy_until =
        m.busy_from + bytes * I2C_BYTE_CYCLES + I2C_BYTE_CYCLES / 9; // and a stop or repeated start
}

bool is_i2c(uint32_t base)
{
    return base >= I2C0_BASE && base <= 0x40023000u;
}

uint32_t i2c_read(uint32_t base, uint32_t offset)
{
    I2cMaster& m = g.i2c[base];
    i2c_settle(base, m);
    if (offset == I2C_MCS) {
        return i2c_busy(m) ? I2C_MCS_BUSY : 0;
    }
    return cell(base + offset);
}

void i2c_write(uint32_t base, uint32_t offset, uint32_t value)
{
    I2cMaster& m = g.i2c[base];
    i2c_settle(base, m);
    if (offset == I2C_MCS) {
        i2c_command(base, m, value);
        return;
    }
    cell(base + offset) = value;
}

// --- ADC sample sequencers -----------------------------------------------------------------

bool is_adc(uint32_t base)
{
    return base == ADC0_BASE || base == ADC1_BASE;
}

void adc_write(uint32_t base, uint32_t offset, uint32_t value)
{
    uint32_t& c = cell(base + offset);
    uint32_t enabled = cell(base + ADC_ACTSS) & 0xFu;
    uint32_t old_value = c;
    c = value;
    // Per-sequencer registers: SSMUXn .. SSEMUXn at 0x40 + 0x20 n.
    if (offset >= ADC_SSMUX0 && offset < ADC_SSMUX0 + ADC_SS_STRIDE * ADC_SEQUENCER_COUNT) {
        uint32_t seq = (offset - ADC_SSMUX0) / ADC_SS_STRIDE;
        uint32_t reg_offset = (offset - ADC_SSMUX0) % ADC_SS_STRIDE;
        bool config = reg_offset != ADC_SSFIFO0 - ADC_SSMUX0 && reg_offset != ADC_SSFSTAT0 - ADC_SSMUX0;
        if (config && (enabled & (1u << seq)) != 0) {
            violation("sample sequencer reprogrammed while enabled", base + offset);
        }
        return;
    }
    // Shared registers with a field per sequencer.
    if (offset == ADC_EMUX || offset == ADC_SSPRI) {
        for (uint32_t seq = 0; seq < ADC_SEQUENCER_COUNT; ++seq) {
            uint32_t field = 0xFu << (4 * seq);
            if ((enabled & (1u << seq)) != 0 && ((old_value ^ value) & field) != 0) {
                violation("sample sequencer trigger or priority changed while enabled", base + offset);
            }
        }
    }
}

} // namespace

// --- Hooks of the backend -----------------------------------------------------------

namespace tm4c::model {

uint32_t read(uint32_t address)
{
    g.now += regmodel::ACCESS_CYCLES;
    update_verification();
    uint32_t key = 0;
    if (gate_of(address, key) && !ready(key)) {
        violation("bus fault: read of a peripheral whose clock is off or not ready", address);
        return 0;
    }
    uint32_t base = address & ~0xFFFu;
    uint32_t offset = address & 0xFFFu;
    if (base == SYSCTL_BASE) {
        return sysctl_read(offset);
    }
    if (base == EEPROM_BASE) {
        return eeprom_read(offset);
    }
    if (is_i2c(base)) {
        return i2c_read(base, offset);
    }
    if (base >= UART0_BASE && base <= UART7_BASE && offset == UART_FR) {
        return UART_FR_RXFE | (1u << 7); // both FIFOs empty, transmitter idle
    }
    return cell(address);
}

void write(uint32_t address, uint32_t value)
{
    g.now += regmodel::ACCESS_CYCLES;
    update_verification();
    uint32_t key = 0;
    if (gate_of(address, key) && !ready(key)) {
        violation("bus fault: write to a peripheral whose clock is off or not ready", address);
        return;
    }
    uint32_t base = address & ~0xFFFu;
    uint32_t offset = address & 0xFFFu;
    if (base == SYSCTL_BASE) {
        sysctl_write(offset, value);
    } else if (base == EEPROM_BASE) {
        eeprom_write(offset, value);
    } else if (is_i2c(base)) {
        i2c_write(base, offset, value);
    } else if (is_adc(base)) {
        adc_write(base, offset, value);
    } else {
        cell(address) = value;
    }
}

void delay_loop(uint32_t counts)
{
    g.now += 3ull * counts;
    update_verification();
}

bool set_interrupt_mask(bool masked)
{
    bool was = g.primask;
    g.primask = masked;
    return was;
}

} // namespace tm4c::model

namespace regmodel {

void reset(const Options& options)
{
    g = State{};
    g.opt = options;
    g.mem[SYSCTL_BASE + SYSCTL_RCC] = RCC_RESET;
    g.eeprom.fill(0xFFFFFFFFu);
}

uint64_t now()
{
    return g.now;
}

const std::vector<std::string>& violations()
{
    return g.violations;
}

uint32_t system_clock_hz()
{
    uint32_t r = rcc();
    uint32_t src = (r & RCC_OSCSRC_MASK) >> RCC_OSCSRC_SHIFT;
    uint64_t hz = 0;
    switch (src) {
    case OSCSRC_MAIN:
        hz = crystal_oscillating() ? 16000000u : 0;
        break;
    case OSCSRC_PIOSC:
        hz = 16000000u;
        break;
    case OSCSRC_PIOSC_DIV4:
        hz = 4000000u;
        break;
    default:
        hz = LFIOSC_HZ;
        break;
    }
    bool bypass = (r & RCC_BYPASS) != 0;
    if (!bypass) {
        hz = pll_locked() ? PLL_OUTPUT_HZ : 0;
    }
    if (!bypass || (r & RCC_USESYSDIV) != 0) {
        hz /= ((r & RCC_SYSDIV_MASK) >> RCC_SYSDIV_SHIFT) + 1;
    }
    return static_cast<uint32_t>(hz);
}

uint32_t moscctl()
{
    return g.mem[SYSCTL_BASE + SYSCTL_MOSCCTL];
}

uint32_t eeprom_word(uint32_t index)
{
    return g.eeprom.at(index);
}

bool eeprom_programming()
{
    return g.now < g.ee_busy_until;
}

} // namespace regmodel
