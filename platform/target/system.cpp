// Target backend: system control (clock, peripheral gating), delay loop,
// reset, floating-point unit, interrupt controller and SysTick.
#include "platform/platform.h"
#include "platform/target/target_core.h"
#include "platform/target/target_diag.h"
#include "platform/target/target_wait.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

// Limits of the clock set-up waits.
constexpr uint32_t MOSC_POWER_UP_LIMIT_US = 100000; // crystal start-up
// Time given to the verification circuit to flag a dead crystal.  The data
// sheet gives no detection time; the circuit compares the crystal with the
// internal oscillator, and 1 ms is thousands of periods of either.
constexpr uint32_t MOSC_VERIFY_US = 1000;
constexpr uint32_t PLL_LOCK_LIMIT_US = 10000;
// Delay-loop counts for a new oscillator source or crystal value to take
// effect before the next change.
constexpr uint32_t CLOCK_SETTLE_COUNTS = 16;
// A peripheral is ready a few clocks after its clock is enabled or its
// reset released.
constexpr uint32_t PERIPH_READY_LIMIT_POLLS = 10000;

volatile uint32_t s_timeouts = 0;
volatile uint32_t s_last_timeout_site = 0;
uint32_t s_clock_faults = 0;

inline RegRef sysctl(uint32_t offset)
{
    return reg(SYSCTL_BASE + offset);
}

// Crystal frequencies selected by the RCC XTAL field, starting at 0x06.
constexpr uint32_t XTAL_FIRST = 0x06;
constexpr uint32_t XTAL_HZ[] = {
    4000000,  4096000,  4915200,  5000000,  5120000,  6000000,  6144000,
    7372800,  8000000,  8192000,  10000000, 12000000, 12288000, 13560000,
    14318180, 16000000, 16384000, 18000000, 20000000, 24000000, 25000000,
};
constexpr uint32_t XTAL_COUNT = sizeof(XTAL_HZ) / sizeof(XTAL_HZ[0]);

uint32_t crystal_hz(uint32_t rcc)
{
    uint32_t xtal = (rcc & RCC_XTAL_MASK) >> RCC_XTAL_SHIFT;
    if (xtal < XTAL_FIRST || xtal - XTAL_FIRST >= XTAL_COUNT) {
        return 0;
    }
    return XTAL_HZ[xtal - XTAL_FIRST];
}

// Peripheral identifiers: 0xF0000000 | (bank offset << 8) | instance.
bool decode_periph(uint32_t periph, uint32_t& offset, uint32_t& bit)
{
    if ((periph & 0xF0000000u) != 0xF0000000u) {
        return false;
    }
    offset = (periph >> 8) & 0xFFu;
    uint32_t instance = periph & 0xFFu;
    if (instance > 31 || (offset & 3u) != 0) {
        return false;
    }
    bit = 1u << instance;
    return true;
}

// Peripherals of the TM4C123GH6PGE: bank offset of their system-control
// registers (the middle byte of the peripheral identifier) and the number
// of instances, as its peripheral-present registers report them.
struct PartBank {
    uint32_t offset;
    uint32_t instances;
};
constexpr PartBank PART_PERIPHERALS[] = {
    {0x00, 2},  // watchdog timers
    {0x04, 6},  // 16/32-bit timers
    {0x08, 15}, // GPIO ports A-H, J-N, P, Q
    {0x0C, 1},  // micro DMA
    {0x14, 1},  // hibernation module
    {0x18, 8},  // UART0-7
    {0x1C, 4},  // SSI0-3
    {0x20, 6},  // I2C0-5
    {0x28, 1},  // USB
    {0x34, 2},  // CAN0-1
    {0x38, 2},  // ADC0-1
    {0x3C, 1},  // analog comparators
    {0x40, 2},  // PWM0-1
    {0x44, 2},  // QEI0-1
    {0x58, 1},  // EEPROM
    {0x5C, 6},  // 32/64-bit wide timers
};

inline void data_sync()
{
    target::core_barrier();
}

} // namespace

namespace target {

void note_timeout(uint32_t site)
{
    s_timeouts = s_timeouts + 1;
    s_last_timeout_site = site;
}

} // namespace target

uint32_t target_wait_timeouts()
{
    return s_timeouts;
}

uint32_t target_last_timeout_site()
{
    return s_last_timeout_site;
}

uint32_t target_clock_faults()
{
    return s_clock_faults;
}

// ---------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------

namespace {

// Starts the main oscillator and checks that the crystal runs.  The
// power-up flag (RIS.MOSCPUPRIS) only says that the start-up time has
// passed, with or without a working crystal; the verification circuit
// (MOSCCTL.CVAL) is what notices a crystal that does not oscillate.  It is
// switched on once the start-up time has passed, in the mode that flags a
// failure (RIS.MOFRIS) instead of resetting the chip, and left on.  Returns
// false, with the oscillator off again, when the crystal failed.  The
// processor keeps running from the internal oscillator meanwhile:
// selecting a dead crystal as clock source would stop it.
bool start_main_oscillator(uint32_t& rcc)
{
    bool powered_up = true;
    if ((rcc & RCC_MOSCDIS) != 0) {
        sysctl(SYSCTL_MISC) = MISC_MOSCPUPMIS;
        rcc &= ~RCC_MOSCDIS;
        sysctl(SYSCTL_RCC) = rcc;
        powered_up = target::wait_us([] { return (sysctl(SYSCTL_RIS) & RIS_MOSCPUPRIS) != 0; },
                                     MOSC_POWER_UP_LIMIT_US, SYSCTL_BASE + SYSCTL_RIS);
    }
    sysctl(SYSCTL_MOSCCTL) = MOSCCTL_CVAL | MOSCCTL_MOSCIM;
    sysctl(SYSCTL_MISC) = MISC_MOFMIS;
    // A failure shows within the window; a working crystal shows nothing,
    // so the window is waited out in full.
    bool failed = target::watch([] { return (sysctl(SYSCTL_RIS) & RIS_MOFRIS) != 0; }, MOSC_VERIFY_US,
                                target::DELAY_COUNTS_PER_US);
    if (failed || !powered_up) {
        sysctl(SYSCTL_MOSCCTL) = 0;
        sysctl(SYSCTL_MISC) = MISC_MOFMIS;
        rcc |= RCC_MOSCDIS;
        sysctl(SYSCTL_RCC) = rcc;
        return false;
    }
    return true;
}

} // namespace

// Takes an RCC-format configuration (SYSDIV/USESYSDIV, XTAL, OSCSRC,
// BYPASS for "no PLL", PWRDN, MOSCDIS) and follows the data sheet order:
// bypass the PLL and divider, start and verify the oscillator, set the
// oscillator and crystal, wait for the PLL to lock, then take the system
// clock from the PLL through the divider (one write, as the vendor's driver
// does, so the processor never runs from the divided raw oscillator).
//
// Faults, recorded for target_clock_faults():
// - the crystal does not oscillate: the precision internal oscillator (also
//   16 MHz) becomes the PLL reference, so the clock is still 50 MHz;
// - the PLL does not lock: the processor runs from the undivided oscillator
//   at 16 MHz (the PLL is powered down), which keeps the on-chip converter
//   and the UARTs within their clock limits.  The busy-wait delays then run
//   about three times long; SysCtlClockGet reports the real rate, so the
//   system tick and the baud rates stay right.
void SysCtlClockSet(uint32_t ui32Config)
{
    constexpr uint32_t osc_fields = RCC_XTAL_MASK | RCC_OSCSRC_MASK | RCC_PWRDN;
    constexpr uint32_t div_fields = RCC_SYSDIV_MASK | RCC_USESYSDIV;
    s_clock_faults = 0;

    // 1. Run from the raw oscillator while the clock tree changes.
    uint32_t rcc = sysctl(SYSCTL_RCC);
    rcc = (rcc | RCC_BYPASS) & ~RCC_USESYSDIV;
    sysctl(SYSCTL_RCC) = rcc;
    sysctl(SYSCTL_RCC2) = sysctl(SYSCTL_RCC2) & ~RCC2_USERCC2;

    uint32_t wanted = ui32Config;
    uint32_t oscsrc = (wanted & RCC_OSCSRC_MASK) >> RCC_OSCSRC_SHIFT;

    // 2. Start the main oscillator and check that the crystal runs.
    if (oscsrc == OSCSRC_MAIN && (wanted & RCC_MOSCDIS) == 0) {
        if (!start_main_oscillator(rcc)) {
            s_clock_faults |= TARGET_CLOCK_CRYSTAL_FAILED;
            wanted = (wanted & ~(RCC_OSCSRC_MASK | RCC_XTAL_MASK)) | (OSCSRC_PIOSC << RCC_OSCSRC_SHIFT) |
                     (0x15u << RCC_XTAL_SHIFT);
        }
    } else if ((wanted & RCC_MOSCDIS) != 0) {
        sysctl(SYSCTL_MOSCCTL) = 0;
        rcc |= RCC_MOSCDIS;
    }

    // 3. Oscillator source and crystal value (the PLL starts locking).
    rcc = (rcc & ~osc_fields) | (wanted & osc_fields);
    sysctl(SYSCTL_RCC) = rcc;
    SysCtlDelay(CLOCK_SETTLE_COUNTS);

    // 4. and 5. Wait for the PLL, then take the system clock from it through
    // the divider.
    if ((wanted & RCC_BYPASS) == 0 && (wanted & RCC_PWRDN) == 0) {
        bool locked = target::wait_us([] { return (sysctl(SYSCTL_PLLSTAT) & PLLSTAT_LOCK) != 0; },
                                      PLL_LOCK_LIMIT_US, SYSCTL_BASE + SYSCTL_PLLSTAT);
        if (!locked) {
            s_clock_faults |= TARGET_CLOCK_PLL_UNLOCKED;
            rcc |= RCC_PWRDN;
            sysctl(SYSCTL_RCC) = rcc;
            return;
        }
        rcc = ((rcc & ~div_fields) | (wanted & div_fields)) & ~RCC_BYPASS;
    } else {
        rcc = (rcc & ~div_fields) | (wanted & div_fields);
    }
    sysctl(SYSCTL_RCC) = rcc;
    SysCtlDelay(CLOCK_SETTLE_COUNTS);
}

uint32_t SysCtlClockGet()
{
    uint32_t rcc = sysctl(SYSCTL_RCC);
    uint32_t rcc2 = sysctl(SYSCTL_RCC2);
    bool use_rcc2 = (rcc2 & RCC2_USERCC2) != 0;

    uint32_t oscsrc = use_rcc2 ? (rcc2 & RCC2_OSCSRC2_MASK) >> RCC2_OSCSRC2_SHIFT
                               : (rcc & RCC_OSCSRC_MASK) >> RCC_OSCSRC_SHIFT;
    uint32_t clock = 0;
    switch (oscsrc) {
    case OSCSRC_MAIN:
        clock = crystal_hz(rcc);
        break;
    case OSCSRC_PIOSC:
        clock = PIOSC_HZ;
        break;
    case OSCSRC_PIOSC_DIV4:
        clock = PIOSC_HZ / 4;
        break;
    case OSCSRC_LFIOSC:
        clock = LFIOSC_HZ;
        break;
    case OSCSRC2_32K:
        clock = HIB_OSC_HZ;
        break;
    default:
        return 0;
    }

    bool bypass = use_rcc2 ? (rcc2 & RCC2_BYPASS2) != 0 : (rcc & RCC_BYPASS) != 0;
    if (!use_rcc2) {
        if (!bypass) {
            clock = PLL_OUTPUT_HZ;
        }
        if ((rcc & RCC_USESYSDIV) != 0) {
            clock /= ((rcc & RCC_SYSDIV_MASK) >> RCC_SYSDIV_SHIFT) + 1;
        }
        return clock;
    }

    // RCC2: 6-bit divider, or 7 bits of the undivided 400 MHz with DIV400.
    uint32_t div = (rcc2 & RCC2_SYSDIV2_MASK) >> RCC2_SYSDIV2_SHIFT;
    if (!bypass) {
        if ((rcc2 & RCC2_DIV400) != 0) {
            clock = 2 * PLL_OUTPUT_HZ;
            div = (div << 1) | ((rcc2 & RCC2_SYSDIV2LSB) != 0 ? 1u : 0u);
        } else {
            clock = PLL_OUTPUT_HZ;
        }
    }
    if ((rcc & RCC_USESYSDIV) != 0) {
        clock /= div + 1;
    }
    return clock;
}

void SysCtlPWMClockSet(uint32_t ui32Config)
{
    constexpr uint32_t fields = RCC_USEPWMDIV | RCC_PWMDIV_MASK;
    sysctl(SYSCTL_RCC) = (sysctl(SYSCTL_RCC) & ~fields) | (ui32Config & fields);
}

// ---------------------------------------------------------------------------
// Peripheral gating
// ---------------------------------------------------------------------------

void SysCtlPeripheralEnable(uint32_t ui32Peripheral)
{
    uint32_t offset = 0;
    uint32_t bit = 0;
    if (!decode_periph(ui32Peripheral, offset, bit)) {
        return;
    }
    sysctl(SYSCTL_RCGC_BANK + offset) = sysctl(SYSCTL_RCGC_BANK + offset) | bit;
    // The peripheral's registers may be used a few clocks later.
    target::wait_polls([=] { return (sysctl(SYSCTL_PR_BANK + offset) & bit) != 0; }, PERIPH_READY_LIMIT_POLLS,
                       SYSCTL_BASE + SYSCTL_PR_BANK + offset);
}

void SysCtlPeripheralDisable(uint32_t ui32Peripheral)
{
    uint32_t offset = 0;
    uint32_t bit = 0;
    if (!decode_periph(ui32Peripheral, offset, bit)) {
        return;
    }
    sysctl(SYSCTL_RCGC_BANK + offset) = sysctl(SYSCTL_RCGC_BANK + offset) & ~bit;
}

void SysCtlPeripheralReset(uint32_t ui32Peripheral)
{
    uint32_t offset = 0;
    uint32_t bit = 0;
    if (!decode_periph(ui32Peripheral, offset, bit)) {
        return;
    }
    sysctl(SYSCTL_SR_BANK + offset) = sysctl(SYSCTL_SR_BANK + offset) | bit;
    SysCtlDelay(16);
    sysctl(SYSCTL_SR_BANK + offset) = sysctl(SYSCTL_SR_BANK + offset) & ~bit;
    if ((sysctl(SYSCTL_RCGC_BANK + offset) & bit) != 0) {
        target::wait_polls([=] { return (sysctl(SYSCTL_PR_BANK + offset) & bit) != 0; },
                           PERIPH_READY_LIMIT_POLLS, SYSCTL_BASE + SYSCTL_PR_BANK + offset);
    }
}

bool SysCtlPeripheralReady(uint32_t ui32Peripheral)
{
    uint32_t offset = 0;
    uint32_t bit = 0;
    if (!decode_periph(ui32Peripheral, offset, bit)) {
        return false;
    }
    return (sysctl(SYSCTL_PR_BANK + offset) & bit) != 0;
}

// Answered from the part's fixed set of peripherals, not from the
// peripheral-present registers (SYSCTL_PP_BANK): on the TM4C123GH6PGE both
// say the same, and the image is built for that part only (pins, memory
// map).  An emulator of a related part without those registers (QEMU's
// lm3s6965evb reads them as zero) then still gets its console set up.
bool SysCtlPeripheralPresent(uint32_t ui32Peripheral)
{
    uint32_t offset = 0;
    uint32_t bit = 0;
    if (!decode_periph(ui32Peripheral, offset, bit)) {
        return false;
    }
    for (const PartBank& bank : PART_PERIPHERALS) {
        if (bank.offset == offset) {
            return (ui32Peripheral & 0xFFu) < bank.instances;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Delay, reset, idle
// ---------------------------------------------------------------------------

// Three cycles per count: subs (1) + taken bne (2).  A count of 0 returns at
// once instead of wrapping round to 2^32 counts.
void SysCtlDelay(uint32_t ui32Count)
{
    target::core_delay_loop(ui32Count);
}

void SysCtlReset()
{
    data_sync();
    reg(SCB_APINT) = SCB_APINT_VECTKEY | (reg(SCB_APINT) & SCB_APINT_PRIGROUP_MASK) | SCB_APINT_SYSRESETREQ;
    data_sync();
    for (;;) {
        // The reset takes effect within a few cycles.
    }
}

void platform_idle() {}

// ---------------------------------------------------------------------------
// Floating-point unit
// ---------------------------------------------------------------------------

void FPULazyStackingEnable()
{
    reg(FPU_FPCCR) = reg(FPU_FPCCR) | FPCCR_ASPEN | FPCCR_LSPEN;
}

void FPUEnable()
{
    reg(SCB_CPACR) = reg(SCB_CPACR) | CPACR_CP10_CP11_FULL;
    data_sync();
}

// ---------------------------------------------------------------------------
// Interrupt controller and SysTick
// ---------------------------------------------------------------------------

bool IntMasterEnable()
{
    return target::core_mask_interrupts(false);
}

bool IntMasterDisable()
{
    return target::core_mask_interrupts(true);
}

void IntEnable(uint32_t ui32Interrupt)
{
    switch (ui32Interrupt) {
    case EXC_MEM_MANAGE:
        reg(SCB_SYSHNDCTRL) = reg(SCB_SYSHNDCTRL) | SCB_SYSHNDCTRL_MEM;
        return;
    case EXC_BUS_FAULT:
        reg(SCB_SYSHNDCTRL) = reg(SCB_SYSHNDCTRL) | SCB_SYSHNDCTRL_BUS;
        return;
    case EXC_USAGE_FAULT:
        reg(SCB_SYSHNDCTRL) = reg(SCB_SYSHNDCTRL) | SCB_SYSHNDCTRL_USAGE;
        return;
    case EXC_SYSTICK:
        reg(ST_CTRL) = reg(ST_CTRL) | ST_CTRL_INTEN;
        return;
    default:
        break;
    }
    if (ui32Interrupt >= FIRST_IRQ_VECTOR && ui32Interrupt < NUM_VECTORS) {
        uint32_t irq = ui32Interrupt - FIRST_IRQ_VECTOR;
        reg(NVIC_EN0 + 4 * (irq / 32)) = 1u << (irq % 32);
    }
}

// Returns only once the interrupt can no longer be taken, so that a caller
// may touch data shared with its handler right after the call.
void IntDisable(uint32_t ui32Interrupt)
{
    switch (ui32Interrupt) {
    case EXC_MEM_MANAGE:
        reg(SCB_SYSHNDCTRL) = reg(SCB_SYSHNDCTRL) & ~SCB_SYSHNDCTRL_MEM;
        break;
    case EXC_BUS_FAULT:
        reg(SCB_SYSHNDCTRL) = reg(SCB_SYSHNDCTRL) & ~SCB_SYSHNDCTRL_BUS;
        break;
    case EXC_USAGE_FAULT:
        reg(SCB_SYSHNDCTRL) = reg(SCB_SYSHNDCTRL) & ~SCB_SYSHNDCTRL_USAGE;
        break;
    case EXC_SYSTICK:
        reg(ST_CTRL) = reg(ST_CTRL) & ~ST_CTRL_INTEN;
        break;
    default:
        if (ui32Interrupt >= FIRST_IRQ_VECTOR && ui32Interrupt < NUM_VECTORS) {
            uint32_t irq = ui32Interrupt - FIRST_IRQ_VECTOR;
            reg(NVIC_DIS0 + 4 * (irq / 32)) = 1u << (irq % 32);
        }
        break;
    }
    data_sync();
}

void SysTickPeriodSet(uint32_t ui32Period)
{
    if (ui32Period == 0 || ui32Period - 1 > ST_RELOAD_MAX) {
        return;
    }
    reg(ST_RELOAD) = ui32Period - 1;
    reg(ST_CURRENT) = 0; // any write clears the counter
}

void SysTickEnable()
{
    reg(ST_CTRL) = reg(ST_CTRL) | ST_CTRL_CLK_SRC | ST_CTRL_ENABLE;
}

void SysTickDisable()
{
    reg(ST_CTRL) = reg(ST_CTRL) & ~ST_CTRL_ENABLE;
}

void SysTickIntEnable()
{
    reg(ST_CTRL) = reg(ST_CTRL) | ST_CTRL_INTEN;
}

void SysTickIntDisable()
{
    reg(ST_CTRL) = reg(ST_CTRL) & ~ST_CTRL_INTEN;
    data_sync();
}
