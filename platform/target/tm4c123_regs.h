// Register map of the TM4C123GH6PGE: the registers and bits the target
// backend uses, as offsets from the peripheral bases in platform/platform.h
// (or absolute addresses for the processor's private peripherals).
#pragma once

#include <cstdint>

namespace tm4c {

#if defined(VARVE_REGISTER_MODEL)

// Host test build of the backend: every register access goes to a model of
// the chip (tests/target), which also keeps the time of each access.
namespace model {
uint32_t read(uint32_t address);
void write(uint32_t address, uint32_t value);
} // namespace model

// A register of the model, used like the volatile reference of the chip
// build: reading converts to the value, assigning writes it.
class RegRef {
  public:
    explicit RegRef(uint32_t address) : address_(address) {}
    RegRef(const RegRef&) = default;
    operator uint32_t() const { return model::read(address_); }
    const RegRef& operator=(uint32_t value) const
    {
        model::write(address_, value);
        return *this;
    }
    const RegRef& operator=(const RegRef& other) const { return *this = static_cast<uint32_t>(other); }

  private:
    uint32_t address_;
};

inline RegRef reg(uint32_t address)
{
    return RegRef(address);
}

#else

using RegRef = volatile uint32_t&;

// Access to a 32-bit memory-mapped register.
inline RegRef reg(uint32_t address)
{
    return *reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(address));
}

#endif

// ---------------------------------------------------------------------------
// Cortex-M4 private peripherals
// ---------------------------------------------------------------------------
constexpr uint32_t ST_CTRL = 0xE000E010u;    // SysTick control and status
constexpr uint32_t ST_RELOAD = 0xE000E014u;  // SysTick reload value (24 bits)
constexpr uint32_t ST_CURRENT = 0xE000E018u; // SysTick current value
constexpr uint32_t ST_CTRL_ENABLE = 1u << 0;
constexpr uint32_t ST_CTRL_INTEN = 1u << 1;
constexpr uint32_t ST_CTRL_CLK_SRC = 1u << 2; // 1 = system clock
constexpr uint32_t ST_RELOAD_MAX = 0x00FFFFFFu;

constexpr uint32_t NVIC_EN0 = 0xE000E100u;  // interrupt set-enable, EN0..EN4
constexpr uint32_t NVIC_DIS0 = 0xE000E180u; // interrupt clear-enable, DIS0..DIS4

constexpr uint32_t SCB_APINT = 0xE000ED0Cu; // application interrupt and reset control
constexpr uint32_t SCB_APINT_VECTKEY = 0x05FAu << 16;
constexpr uint32_t SCB_APINT_PRIGROUP_MASK = 7u << 8;
constexpr uint32_t SCB_APINT_SYSRESETREQ = 1u << 2;
constexpr uint32_t SCB_SYSHNDCTRL = 0xE000ED24u; // system handler control and state
constexpr uint32_t SCB_SYSHNDCTRL_MEM = 1u << 16;
constexpr uint32_t SCB_SYSHNDCTRL_BUS = 1u << 17;
constexpr uint32_t SCB_SYSHNDCTRL_USAGE = 1u << 18;

constexpr uint32_t SCB_CPACR = 0xE000ED88u; // coprocessor access control
constexpr uint32_t CPACR_CP10_CP11_FULL = 0xFu << 20;
constexpr uint32_t FPU_FPCCR = 0xE000EF34u; // floating-point context control
constexpr uint32_t FPCCR_ASPEN = 1u << 31;  // automatic state preservation
constexpr uint32_t FPCCR_LSPEN = 1u << 30;  // lazy state preservation

// System exception numbers (vector table indices below 16).
constexpr uint32_t EXC_MEM_MANAGE = 4;
constexpr uint32_t EXC_BUS_FAULT = 5;
constexpr uint32_t EXC_USAGE_FAULT = 6;
constexpr uint32_t EXC_SYSTICK = 15;
constexpr uint32_t FIRST_IRQ_VECTOR = 16;

// ---------------------------------------------------------------------------
// System control (offsets from SYSCTL_BASE)
// ---------------------------------------------------------------------------
constexpr uint32_t SYSCTL_RIS = 0x050u;
constexpr uint32_t SYSCTL_MISC = 0x058u;
constexpr uint32_t SYSCTL_RCC = 0x060u;
constexpr uint32_t SYSCTL_RCC2 = 0x070u;
constexpr uint32_t SYSCTL_PLLSTAT = 0x168u;
// Per-peripheral register banks; the peripheral identifier carries the
// offset of the peripheral's register within each bank.
constexpr uint32_t SYSCTL_PP_BANK = 0x300u;   // peripheral present
constexpr uint32_t SYSCTL_SR_BANK = 0x500u;   // software reset
constexpr uint32_t SYSCTL_RCGC_BANK = 0x600u; // run-mode clock gating
constexpr uint32_t SYSCTL_PR_BANK = 0xA00u;   // peripheral ready

constexpr uint32_t SYSCTL_MOSCCTL = 0x07Cu;

constexpr uint32_t RIS_MOFRIS = 1u << 3;      // main oscillator failed (MOSCCTL.MOSCIM set)
constexpr uint32_t RIS_MOSCPUPRIS = 1u << 8;  // main oscillator power-up time has passed
constexpr uint32_t MISC_MOFMIS = 1u << 3;     // write 1 to clear RIS.MOFRIS
constexpr uint32_t MISC_MOSCPUPMIS = 1u << 8; // write 1 to clear RIS.MOSCPUPRIS

constexpr uint32_t MOSCCTL_CVAL = 1u << 0;   // main oscillator verification on
constexpr uint32_t MOSCCTL_MOSCIM = 1u << 1; // on failure: flag (RIS.MOFRIS), not reset

constexpr uint32_t RCC_MOSCDIS = 1u << 0;
constexpr uint32_t RCC_OSCSRC_SHIFT = 4;
constexpr uint32_t RCC_OSCSRC_MASK = 3u << 4;
constexpr uint32_t RCC_XTAL_SHIFT = 6;
constexpr uint32_t RCC_XTAL_MASK = 0x1Fu << 6;
constexpr uint32_t RCC_BYPASS = 1u << 11;
constexpr uint32_t RCC_PWRDN = 1u << 13;
constexpr uint32_t RCC_PWMDIV_SHIFT = 17;
constexpr uint32_t RCC_PWMDIV_MASK = 7u << 17;
constexpr uint32_t RCC_USEPWMDIV = 1u << 20;
constexpr uint32_t RCC_USESYSDIV = 1u << 22;
constexpr uint32_t RCC_SYSDIV_SHIFT = 23;
constexpr uint32_t RCC_SYSDIV_MASK = 0xFu << 23;
constexpr uint32_t RCC_ACG = 1u << 27;

constexpr uint32_t RCC2_OSCSRC2_SHIFT = 4;
constexpr uint32_t RCC2_OSCSRC2_MASK = 7u << 4;
constexpr uint32_t RCC2_BYPASS2 = 1u << 11;
constexpr uint32_t RCC2_SYSDIV2LSB = 1u << 22;
constexpr uint32_t RCC2_SYSDIV2_SHIFT = 23;
constexpr uint32_t RCC2_SYSDIV2_MASK = 0x3Fu << 23;
constexpr uint32_t RCC2_DIV400 = 1u << 30;
constexpr uint32_t RCC2_USERCC2 = 1u << 31;

constexpr uint32_t PLLSTAT_LOCK = 1u << 0;

constexpr uint32_t OSCSRC_MAIN = 0;
constexpr uint32_t OSCSRC_PIOSC = 1;
constexpr uint32_t OSCSRC_PIOSC_DIV4 = 2;
constexpr uint32_t OSCSRC_LFIOSC = 3;
constexpr uint32_t OSCSRC2_32K = 7;

constexpr uint32_t PLL_OUTPUT_HZ = 200000000u; // 400 MHz VCO / 2
constexpr uint32_t LFIOSC_HZ = 30000u;         // nominal
constexpr uint32_t HIB_OSC_HZ = 32768u;

// ---------------------------------------------------------------------------
// GPIO (offsets from a port base)
// ---------------------------------------------------------------------------
constexpr uint32_t GPIO_DATA = 0x000u; // bits [9:2] of the address mask the access
constexpr uint32_t GPIO_DIR = 0x400u;
constexpr uint32_t GPIO_AFSEL = 0x420u;
constexpr uint32_t GPIO_DR2R = 0x500u;
constexpr uint32_t GPIO_DR4R = 0x504u;
constexpr uint32_t GPIO_DR8R = 0x508u;
constexpr uint32_t GPIO_ODR = 0x50Cu;
constexpr uint32_t GPIO_PUR = 0x510u;
constexpr uint32_t GPIO_PDR = 0x514u;
constexpr uint32_t GPIO_SLR = 0x518u;
constexpr uint32_t GPIO_DEN = 0x51Cu;
constexpr uint32_t GPIO_LOCK = 0x520u;
constexpr uint32_t GPIO_CR = 0x524u;
constexpr uint32_t GPIO_AMSEL = 0x528u;
constexpr uint32_t GPIO_PCTL = 0x52Cu;
constexpr uint32_t GPIO_LOCK_KEY = 0x4C4F434Bu;

// ---------------------------------------------------------------------------
// UART (offsets from a UART base)
// ---------------------------------------------------------------------------
constexpr uint32_t UART_DR = 0x000u;
constexpr uint32_t UART_FR = 0x018u;
constexpr uint32_t UART_IBRD = 0x024u;
constexpr uint32_t UART_FBRD = 0x028u;
constexpr uint32_t UART_LCRH = 0x02Cu;
constexpr uint32_t UART_CTL = 0x030u;
constexpr uint32_t UART_IFLS = 0x034u;
constexpr uint32_t UART_IM = 0x038u;
constexpr uint32_t UART_RIS = 0x03Cu;
constexpr uint32_t UART_MIS = 0x040u;
constexpr uint32_t UART_ICR = 0x044u;
constexpr uint32_t UART_CC = 0xFC8u;

constexpr uint32_t UART_FR_BUSY = 1u << 3;
constexpr uint32_t UART_FR_RXFE = 1u << 4;
constexpr uint32_t UART_FR_TXFF = 1u << 5;
constexpr uint32_t UART_LCRH_FEN = 1u << 4;
constexpr uint32_t UART_LCRH_CONFIG_MASK = 0xEEu; // SPS, WLEN, STP2, EPS, PEN
constexpr uint32_t UART_CTL_UARTEN = 1u << 0;
constexpr uint32_t UART_CTL_HSE = 1u << 5;
constexpr uint32_t UART_CTL_TXE = 1u << 8;
constexpr uint32_t UART_CTL_RXE = 1u << 9;
constexpr uint32_t UART_DR_DATA_AND_ERRORS = 0xFFFu;

// ---------------------------------------------------------------------------
// I2C master (offsets from an I2C base)
// ---------------------------------------------------------------------------
constexpr uint32_t I2C_MSA = 0x000u;
constexpr uint32_t I2C_MCS = 0x004u;
constexpr uint32_t I2C_MDR = 0x008u;
constexpr uint32_t I2C_MTPR = 0x00Cu;
constexpr uint32_t I2C_MCR = 0x020u;

constexpr uint32_t I2C_MCS_BUSY = 1u << 0;
constexpr uint32_t I2C_MCS_ERROR = 1u << 1;
constexpr uint32_t I2C_MCS_ADRACK = 1u << 2;
constexpr uint32_t I2C_MCS_DATACK = 1u << 3;
constexpr uint32_t I2C_MCS_ARBLST = 1u << 4;
constexpr uint32_t I2C_MCR_MFE = 1u << 4;
// SCL period = 2 * (1 + TPR) * (SCL_LP + SCL_HP) clocks, SCL_LP = 6, SCL_HP = 4.
constexpr uint32_t I2C_SCL_CLOCKS_PER_TPR = 2u * (6u + 4u);

// ---------------------------------------------------------------------------
// SSI (offsets from an SSI base)
// ---------------------------------------------------------------------------
constexpr uint32_t SSI_CR0 = 0x000u;
constexpr uint32_t SSI_CR1 = 0x004u;
constexpr uint32_t SSI_DR = 0x008u;
constexpr uint32_t SSI_SR = 0x00Cu;
constexpr uint32_t SSI_CPSR = 0x010u;
constexpr uint32_t SSI_CC = 0xFC8u;

constexpr uint32_t SSI_CR0_DSS_MASK = 0xFu;
constexpr uint32_t SSI_CR0_SPO_SHIFT = 6; // SPO bit 6, SPH bit 7
constexpr uint32_t SSI_CR0_SCR_SHIFT = 8;
constexpr uint32_t SSI_CR1_SSE = 1u << 1;
constexpr uint32_t SSI_CR1_MS = 1u << 2;
constexpr uint32_t SSI_SR_TNF = 1u << 1;
constexpr uint32_t SSI_SR_RNE = 1u << 2;
constexpr uint32_t SSI_SR_BSY = 1u << 4;

// ---------------------------------------------------------------------------
// ADC (offsets from an ADC base)
// ---------------------------------------------------------------------------
constexpr uint32_t ADC_ACTSS = 0x000u;
constexpr uint32_t ADC_RIS = 0x004u;
constexpr uint32_t ADC_IM = 0x008u;
constexpr uint32_t ADC_ISC = 0x00Cu;
constexpr uint32_t ADC_EMUX = 0x014u;
constexpr uint32_t ADC_SSPRI = 0x020u;
constexpr uint32_t ADC_PSSI = 0x028u;
// Sample sequencer n registers: base offset + 0x20 * n.
constexpr uint32_t ADC_SS_STRIDE = 0x20u;
constexpr uint32_t ADC_SSMUX0 = 0x040u;
constexpr uint32_t ADC_SSCTL0 = 0x044u;
constexpr uint32_t ADC_SSFIFO0 = 0x048u;
constexpr uint32_t ADC_SSFSTAT0 = 0x04Cu;
constexpr uint32_t ADC_SSOP0 = 0x050u;
constexpr uint32_t ADC_SSEMUX0 = 0x058u;
constexpr uint32_t ADC_SSFSTAT_EMPTY = 1u << 8;
constexpr uint32_t ADC_FIFO_DATA_MASK = 0xFFFu;
constexpr uint32_t ADC_SEQUENCER_COUNT = 4;
constexpr uint32_t ADC_SEQUENCE_DEPTH[ADC_SEQUENCER_COUNT] = {8, 4, 4, 1};

// ---------------------------------------------------------------------------
// Hibernation module (offsets from HIB_BASE)
// ---------------------------------------------------------------------------
constexpr uint32_t HIB_RTCC = 0x000u;
constexpr uint32_t HIB_RTCM0 = 0x004u;
constexpr uint32_t HIB_RTCLD = 0x00Cu;
constexpr uint32_t HIB_CTL = 0x010u;
constexpr uint32_t HIB_IM = 0x014u;
constexpr uint32_t HIB_RIS = 0x018u;
constexpr uint32_t HIB_MIS = 0x01Cu;
constexpr uint32_t HIB_IC = 0x020u;
constexpr uint32_t HIB_RTCT = 0x024u;
constexpr uint32_t HIB_DATA = 0x030u; // 16 words of battery-backed memory
constexpr uint32_t HIB_DATA_WORDS = 16;

constexpr uint32_t HIB_CTL_RTCEN = 1u << 0;
constexpr uint32_t HIB_CTL_HIBREQ = 1u << 1;
constexpr uint32_t HIB_CTL_RTCWEN = 1u << 3;
constexpr uint32_t HIB_CTL_PINWEN = 1u << 4;
constexpr uint32_t HIB_CTL_CLK32EN = 1u << 6;
constexpr uint32_t HIB_CTL_VDD3ON = 1u << 8;
constexpr uint32_t HIB_CTL_BATWKEN = 1u << 9;
constexpr uint32_t HIB_CTL_OSCBYP = 1u << 16;
constexpr uint32_t HIB_CTL_OSCDRV = 1u << 17;
constexpr uint32_t HIB_CTL_WRC = 1u << 31; // a write to the module may start
constexpr uint32_t HIB_INT_MASK = 0x1Du;   // RTCALT0, LOWBAT, EXTW, WC

// ---------------------------------------------------------------------------
// EEPROM (offsets from EEPROM_BASE)
// ---------------------------------------------------------------------------
constexpr uint32_t EE_SIZE = 0x000u;
constexpr uint32_t EE_BLOCK = 0x004u;
constexpr uint32_t EE_OFFSET = 0x008u;
constexpr uint32_t EE_RDWRINC = 0x014u;
constexpr uint32_t EE_DONE = 0x018u;
constexpr uint32_t EE_SUPP = 0x01Cu;

constexpr uint32_t EE_SIZE_WORDCNT_MASK = 0xFFFFu;
constexpr uint32_t EE_WORDS_PER_BLOCK = 16;
constexpr uint32_t EE_DONE_WORKING = 1u << 0;
constexpr uint32_t EE_DONE_NOPERM = 1u << 4;
constexpr uint32_t EE_DONE_WRBUSY = 1u << 5;
constexpr uint32_t EE_SUPP_ERETRY = 1u << 2;
constexpr uint32_t EE_SUPP_PRETRY = 1u << 3;

// ---------------------------------------------------------------------------
// PWM (offsets from a PWM module base)
// ---------------------------------------------------------------------------
constexpr uint32_t PWM_ENABLE = 0x008u;
// Generator registers, relative to the generator block (PWM_GEN_n values of
// platform.h are the offsets of these blocks).
constexpr uint32_t PWM_GEN_CTL = 0x00u;
constexpr uint32_t PWM_GEN_LOAD = 0x10u;
constexpr uint32_t PWM_GEN_CMPA = 0x18u;
constexpr uint32_t PWM_GEN_CMPB = 0x1Cu;
constexpr uint32_t PWM_GEN_GENA = 0x20u;
constexpr uint32_t PWM_GEN_GENB = 0x24u;
constexpr uint32_t PWM_GEN_CTL_ENABLE = 1u << 0;
constexpr uint32_t PWM_GEN_CTL_MODE = 1u << 1; // 1 = count up/down
// Generator actions: 2 = drive low, 3 = drive high.
constexpr uint32_t PWM_GENA_DOWN = (3u << 2) | (2u << 6);   // high at LOAD, low at CMPA down
constexpr uint32_t PWM_GENB_DOWN = (3u << 2) | (2u << 10);  // high at LOAD, low at CMPB down
constexpr uint32_t PWM_GENA_UPDOWN = (3u << 4) | (2u << 6); // high at CMPA up, low at CMPA down
constexpr uint32_t PWM_GENB_UPDOWN = (3u << 8) | (2u << 10);

} // namespace tm4c
