// System control, FPU, interrupt controller, SysTick, GPIO and PWM of the
// simulated microcontroller.
#include "platform/host/chip.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <set>

namespace {

void pwm_show();

uint32_t g_clock_hz = PIOSC_HZ;
sim::TracePeer* g_trace = nullptr;
std::set<uint32_t> g_enabled_periph;
uint32_t g_systick_period = 0;
bool g_systick_on = false;
void systick_fire(void*);
sim::Timer g_systick_timer{.fn = systick_fire};

// The tick's period in simulated time at the current reload value and
// processor clock (either may change while the tick runs); the division is
// done again only when one of them has.
sim::Time systick_period_ns()
{
    static uint32_t reload = 0, clock_hz = 0;
    static sim::Time period = 0;
    if (reload != g_systick_period || clock_hz != g_clock_hz) {
        reload = g_systick_period;
        clock_hz = g_clock_hz;
        period = static_cast<sim::Time>(reload) * sim::NS_PER_S / clock_hz;
    }
    return period;
}

void systick_fire(void*)
{
    sim::irq_pend(FAULT_SYSTICK);
    sim::timer_arm(g_systick_timer, sim::now() + systick_period_ns());
}

} // namespace

namespace sim {

char gpio_port_letter(uint32_t base)
{
    static const std::array<std::pair<uint32_t, char>, 15> ports = {{
        {GPIO_PORTA_BASE, 'A'},
        {GPIO_PORTB_BASE, 'B'},
        {GPIO_PORTC_BASE, 'C'},
        {GPIO_PORTD_BASE, 'D'},
        {GPIO_PORTE_BASE, 'E'},
        {GPIO_PORTF_BASE, 'F'},
        {GPIO_PORTG_BASE, 'G'},
        {GPIO_PORTH_BASE, 'H'},
        {GPIO_PORTJ_BASE, 'J'},
        {GPIO_PORTK_BASE, 'K'},
        {GPIO_PORTL_BASE, 'L'},
        {GPIO_PORTM_BASE, 'M'},
        {GPIO_PORTN_BASE, 'N'},
        {GPIO_PORTP_BASE, 'P'},
        {GPIO_PORTQ_BASE, 'Q'},
    }};
    for (const auto& p : ports) {
        if (p.first == base) {
            return p.second;
        }
    }
    return 0;
}

bool periph_enabled(uint32_t periph)
{
    return g_enabled_periph.count(periph) != 0;
}

// Power-on state of the clock, the peripheral gates and SysTick (in-process
// test benches boot several boards in one process).
void system_models_boot()
{
    g_clock_hz = PIOSC_HZ;
    g_enabled_periph.clear();
    g_systick_period = 0;
    g_systick_on = false;
    sim::timer_cancel(g_systick_timer);
    pwm_models_boot();
    g_trace = nullptr;
}

void trace_attach(TracePeer* peer)
{
    g_trace = peer;
}

} // namespace sim

// --- System control ----------------------------------------------------------------

void SysCtlClockSet(uint32_t ui32Config)
{
    sim::register_access();
    g_clock_hz = (ui32Config == (SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ))
                     ? SYSTEM_CLOCK_HZ
                     : PIOSC_HZ;
}

uint32_t SysCtlClockGet()
{
    sim::register_access();
    return g_clock_hz;
}

void SysCtlPeripheralEnable(uint32_t ui32Peripheral)
{
    sim::register_access();
    g_enabled_periph.insert(ui32Peripheral);
}

void SysCtlPeripheralDisable(uint32_t ui32Peripheral)
{
    sim::register_access();
    g_enabled_periph.erase(ui32Peripheral);
}

void SysCtlPeripheralReset(uint32_t /*ui32Peripheral*/)
{
    sim::register_access();
}

bool SysCtlPeripheralReady(uint32_t ui32Peripheral)
{
    sim::register_access();
    return sim::periph_enabled(ui32Peripheral);
}

bool SysCtlPeripheralPresent(uint32_t ui32Peripheral)
{
    sim::register_access();
    // UART0..7, SSI0..3, I2C0..5, ADC0/1, PWM0/1, EEPROM, hibernation module
    // and GPIO ports A..Q (no I, no O) exist on this chip.
    uint32_t group = (ui32Peripheral >> 8) & 0xFF;
    uint32_t inst = ui32Peripheral & 0xFF;
    switch (group) {
    case 0x18:
        return inst < 8;
    case 0x1C:
        return inst < 4;
    case 0x20:
        return inst < 6;
    case 0x38:
        return inst < 2;
    case 0x40:
        return inst < 2;
    case 0x58:
        return inst == 0;
    case 0x14:
        return inst == 0;
    case 0x08:
        return inst < 15;
    default:
        return false;
    }
}

void SysCtlDelay(uint32_t ui32Count)
{
    // Three processor cycles per count.
    sim::consume(static_cast<sim::Time>(ui32Count) * 3 * sim::NS_PER_S / sim::CPU_HZ);
}

void SysCtlReset()
{
    sim::register_access();
    sim::boot_end(sim::BootEnd::SoftwareReset);
}

void platform_idle()
{
    if (sim::in_fault()) {
        // The fault handler's endless loop: the processor stops here.
        sim::boot_end(sim::BootEnd::Fault);
    }
    sim::idle();
}

// --- FPU -------------------------------------------------------------------------

void FPULazyStackingEnable()
{
    sim::register_access();
}
void FPUEnable()
{
    sim::register_access();
}

// --- Interrupt controller and SysTick ----------------------------------------------

bool IntMasterEnable()
{
    bool was = sim::irq_master_masked();
    sim::irq_master_mask(false);
    sim::register_access();
    return was;
}

bool IntMasterDisable()
{
    bool was = sim::irq_master_masked();
    sim::irq_master_mask(true);
    sim::register_access();
    return was;
}

void IntEnable(uint32_t ui32Interrupt)
{
    sim::irq_enable(ui32Interrupt, true);
    sim::register_access();
}

void IntDisable(uint32_t ui32Interrupt)
{
    sim::irq_enable(ui32Interrupt, false);
    sim::register_access();
}

void SysTickPeriodSet(uint32_t ui32Period)
{
    g_systick_period = ui32Period;
    sim::register_access();
}

void SysTickEnable()
{
    if (!g_systick_on && g_systick_period != 0) {
        g_systick_on = true;
        sim::timer_arm(g_systick_timer, sim::now() + systick_period_ns());
    }
    sim::register_access();
}

void SysTickDisable()
{
    if (g_systick_on) {
        sim::timer_cancel(g_systick_timer);
        g_systick_on = false;
    }
    sim::register_access();
}

void SysTickIntEnable()
{
    sim::irq_enable(FAULT_SYSTICK, true);
    sim::register_access();
}

void SysTickIntDisable()
{
    sim::irq_enable(FAULT_SYSTICK, false);
    sim::register_access();
}

// --- GPIO ------------------------------------------------------------------------

static void set_pins_mode(uint32_t port, uint8_t pins, sim::PinMode mode)
{
    char letter = sim::gpio_port_letter(port);
    for (int pin = 0; pin < 8; ++pin) {
        if ((pins & (1u << pin)) != 0) {
            sim::gpio_set_mode(letter, pin, mode);
        }
    }
    sim::register_access();
}

void GPIOPinConfigure(uint32_t /*ui32PinConfig*/)
{
    sim::register_access();
}
void GPIOPinTypeGPIOOutput(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Output);
}
void GPIOPinTypeGPIOInput(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Input);
}
void GPIOPinTypeUART(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Peripheral);
}
void GPIOPinTypeI2C(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Peripheral);
}
void GPIOPinTypeI2CSCL(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Peripheral);
}
void GPIOPinTypeSSI(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Peripheral);
}
void GPIOPinTypeADC(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Analog);
}
void GPIOPinTypePWM(uint32_t p, uint8_t pins)
{
    set_pins_mode(p, pins, sim::PinMode::Peripheral);
    pwm_show();
}
void GPIOPadConfigSet(uint32_t, uint8_t, uint32_t, uint32_t)
{
    sim::register_access();
}

void GPIOPinWrite(uint32_t ui32Port, uint8_t ui8Pins, uint8_t ui8Val)
{
    char letter = sim::gpio_port_letter(ui32Port);
    for (int pin = 0; pin < 8; ++pin) {
        if ((ui8Pins & (1u << pin)) != 0 && sim::gpio_mode(letter, pin) == sim::PinMode::Output) {
            sim::gpio_write(letter, pin, (ui8Val & (1u << pin)) != 0);
        }
    }
    sim::register_access();
}

namespace {

int32_t read_pins(char letter, uint8_t pins)
{
    return sim::gpio_levels(letter, pins);
}

sim::Time delay_ns(uint32_t count)
{
    // Three processor cycles per count.
    return static_cast<sim::Time>(count) * 3 * sim::NS_PER_S / sim::CPU_HZ;
}

} // namespace

int32_t GPIOPinRead(uint32_t ui32Port, uint8_t ui8Pins)
{
    const int32_t value = read_pins(sim::gpio_port_letter(ui32Port), ui8Pins);
    sim::register_access();
    return value;
}

bool platform_wait_pins(uint32_t ui32Port, uint8_t ui8Pins, uint8_t ui8Val, uint32_t ui32Polls,
                        uint32_t ui32DelayCount)
{
    // The loop GPIOPinRead / SysCtlDelay, poll by poll, except that polls
    // which read the same levels with nothing due in them (the levels of
    // input pins change only in events) are passed over together.
    const char letter = sim::gpio_port_letter(ui32Port);
    const int32_t want = ui8Val & ui8Pins;
    const sim::Time pause = delay_ns(ui32DelayCount);
    const sim::Time period = sim::REGISTER_ACCESS_NS + pause;
    uint32_t polls = 0;
    while (polls < ui32Polls) {
        const bool match = read_pins(letter, ui8Pins) == want;
        if (!match) {
            const uint64_t skipped = sim::skip_quiet(period, ui32Polls - polls);
            if (skipped > 0) {
                polls += static_cast<uint32_t>(skipped);
                if (polls >= ui32Polls) {
                    break;
                }
                // Nothing ran in the skipped polls, so the levels are as
                // read and the next poll is the one the next event falls in
                // (or an interrupt is due): it is walked below.
            }
        }
        sim::register_access();
        if (match) {
            return true;
        }
        sim::consume(pause);
        ++polls;
    }
    return false;
}

// --- PWM (module 1): settings are kept and shown on the timeline -------------------
//
// Output 1 of generator 0 is routed to PG3 on this board: while the generator
// and the output are enabled and PG3 is a PWM pin, the timeline shows the
// duty in per mille as "PG3_PWM"; -1 when the PWM stops driving the pin.

namespace {

struct PwmModel {
    uint32_t clock_config = 0;
    bool configured = false;
    uint32_t period[4] = {};
    bool gen_enabled[4] = {};
    uint32_t width[8] = {};
    uint32_t out_enabled = 0;
    int pg3_shown = -1; // duty last shown on the timeline
};
PwmModel g_pwm;

int gen_index(uint32_t gen)
{
    return static_cast<int>((gen >> 6) - 1) & 3;
}

int pg3_duty_permille()
{
    if (!g_pwm.gen_enabled[0] || (g_pwm.out_enabled & PWM_OUT_1_BIT) == 0 ||
        sim::gpio_mode('G', 3) != sim::PinMode::Peripheral || g_pwm.period[0] == 0) {
        return -1;
    }
    uint32_t width = std::min(g_pwm.width[1], g_pwm.period[0]);
    return static_cast<int>(width * 1000u / g_pwm.period[0]);
}

void pwm_show()
{
    int duty = pg3_duty_permille();
    if (duty != g_pwm.pg3_shown) {
        g_pwm.pg3_shown = duty;
        sim::timeline("PG3_PWM", duty);
    }
}

} // namespace

namespace sim {

void pwm_models_boot()
{
    g_pwm = PwmModel{};
}

PwmView pwm1_view()
{
    PwmView v;
    v.clock_config = g_pwm.clock_config;
    v.configured = g_pwm.configured;
    v.gen0_period = g_pwm.period[0];
    v.gen0_enabled = g_pwm.gen_enabled[0];
    v.out1_width = g_pwm.width[1];
    v.out1_enabled = (g_pwm.out_enabled & PWM_OUT_1_BIT) != 0;
    v.pg3_duty_permille = pg3_duty_permille();
    return v;
}

} // namespace sim

void SysCtlPWMClockSet(uint32_t ui32Config)
{
    g_pwm.clock_config = ui32Config;
    sim::register_access();
}
void PWMGenConfigure(uint32_t, uint32_t, uint32_t)
{
    g_pwm.configured = true;
    sim::register_access();
}
void PWMGenPeriodSet(uint32_t, uint32_t ui32Gen, uint32_t ui32Period)
{
    g_pwm.period[gen_index(ui32Gen)] = ui32Period;
    sim::timeline("PWM1_GEN" + std::to_string(ui32Gen >> 6) + "_PERIOD", static_cast<int>(ui32Period));
    sim::register_access();
    pwm_show();
}
void PWMPulseWidthSet(uint32_t, uint32_t ui32PWMOut, uint32_t ui32Width)
{
    g_pwm.width[ui32PWMOut & 0x7] = ui32Width;
    sim::timeline("PWM1_OUT" + std::to_string(ui32PWMOut & 0x7) + "_WIDTH", static_cast<int>(ui32Width));
    sim::register_access();
    pwm_show();
}
void PWMOutputState(uint32_t, uint32_t ui32PWMOutBits, bool bEnable)
{
    for (int i = 0; i < 8; ++i) {
        if ((ui32PWMOutBits & (1u << i)) != 0) {
            sim::timeline("PWM1_OUT" + std::to_string(i), bEnable ? 1 : 0);
        }
    }
    g_pwm.out_enabled =
        bEnable ? (g_pwm.out_enabled | (ui32PWMOutBits & 0xFFu)) : (g_pwm.out_enabled & ~ui32PWMOutBits);
    sim::register_access();
    pwm_show();
}
void PWMGenEnable(uint32_t, uint32_t ui32Gen)
{
    g_pwm.gen_enabled[gen_index(ui32Gen)] = true;
    sim::register_access();
    pwm_show();
}
void PWMGenDisable(uint32_t, uint32_t ui32Gen)
{
    g_pwm.gen_enabled[gen_index(ui32Gen)] = false;
    sim::register_access();
    pwm_show();
}

// --- Trace port: debug output for a debugger, never on a UART ----------------------

void platform_debug_write(const char* pcText, uint32_t ui32Len)
{
    sim::register_access();
    if (g_trace != nullptr) {
        g_trace->trace_write(pcText, ui32Len);
    }
}
