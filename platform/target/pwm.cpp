// Target backend: PWM generators and outputs.
#include "platform/platform.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

constexpr uint32_t PWM0_BASE_ADDR = 0x40028000u;
// Generator actions of a steady low output: drive low at zero and at LOAD.
constexpr uint32_t PWM_ACTIONS_LOW = (2u << 0) | (2u << 2);

bool valid_pwm(uint32_t base)
{
    return base == PWM0_BASE_ADDR || base == PWM1_BASE;
}

// Generator identifiers are the offsets of the generator register blocks.
bool valid_gen(uint32_t gen)
{
    return gen == PWM_GEN_0 || gen == PWM_GEN_1 || gen == PWM_GEN_2 || gen == PWM_GEN_3;
}

inline RegRef pwm(uint32_t base, uint32_t offset)
{
    return reg(base + offset);
}

} // namespace

// Mode (count down or up/down) and update behaviour go to the generator's
// control register; the output actions make both outputs high from the
// period start (or the rising compare match) until the compare match.
void PWMGenConfigure(uint32_t ui32Base, uint32_t ui32Gen, uint32_t ui32Config)
{
    if (!valid_pwm(ui32Base) || !valid_gen(ui32Gen)) {
        return;
    }
    uint32_t ctl = pwm(ui32Base, ui32Gen + PWM_GEN_CTL);
    pwm(ui32Base, ui32Gen + PWM_GEN_CTL) = (ctl & PWM_GEN_CTL_ENABLE) | (ui32Config & ~PWM_GEN_CTL_ENABLE);
    bool up_down = (ui32Config & PWM_GEN_CTL_MODE) != 0;
    pwm(ui32Base, ui32Gen + PWM_GEN_GENA) = up_down ? PWM_GENA_UPDOWN : PWM_GENA_DOWN;
    pwm(ui32Base, ui32Gen + PWM_GEN_GENB) = up_down ? PWM_GENB_UPDOWN : PWM_GENB_DOWN;
}

// Period in PWM clocks: LOAD = period - 1 counting down, period / 2 up/down.
void PWMGenPeriodSet(uint32_t ui32Base, uint32_t ui32Gen, uint32_t ui32Period)
{
    if (!valid_pwm(ui32Base) || !valid_gen(ui32Gen) || ui32Period == 0) {
        return;
    }
    bool up_down = (pwm(ui32Base, ui32Gen + PWM_GEN_CTL) & PWM_GEN_CTL_MODE) != 0;
    uint32_t load = up_down ? ui32Period / 2 : ui32Period - 1;
    pwm(ui32Base, ui32Gen + PWM_GEN_LOAD) = load & 0xFFFFu;
}

// High time in PWM clocks; a width beyond the period saturates.  A width of
// 0 would put the compare value on LOAD, where the compare-down action never
// happens and the output would stay high: the output's actions then drive
// it low at zero and at LOAD instead, so 0 is a steady low.
void PWMPulseWidthSet(uint32_t ui32Base, uint32_t ui32PWMOut, uint32_t ui32Width)
{
    uint32_t gen = ui32PWMOut & ~0x3Fu;
    if (!valid_pwm(ui32Base) || !valid_gen(gen)) {
        return;
    }
    bool up_down = (pwm(ui32Base, gen + PWM_GEN_CTL) & PWM_GEN_CTL_MODE) != 0;
    uint32_t width = up_down ? ui32Width / 2 : ui32Width;
    uint32_t load = pwm(ui32Base, gen + PWM_GEN_LOAD);
    uint32_t compare = width >= load ? 0u : load - width;
    bool output_b = (ui32PWMOut & 1u) != 0;
    pwm(ui32Base, gen + (output_b ? PWM_GEN_CMPB : PWM_GEN_CMPA)) = compare;
    uint32_t actions = 0;
    if (ui32Width == 0) {
        actions = PWM_ACTIONS_LOW;
    } else if (output_b) {
        actions = up_down ? PWM_GENB_UPDOWN : PWM_GENB_DOWN;
    } else {
        actions = up_down ? PWM_GENA_UPDOWN : PWM_GENA_DOWN;
    }
    pwm(ui32Base, gen + (output_b ? PWM_GEN_GENB : PWM_GEN_GENA)) = actions;
}

void PWMOutputState(uint32_t ui32Base, uint32_t ui32PWMOutBits, bool bEnable)
{
    if (!valid_pwm(ui32Base)) {
        return;
    }
    uint32_t bits = ui32PWMOutBits & 0xFFu;
    uint32_t enable = pwm(ui32Base, PWM_ENABLE);
    pwm(ui32Base, PWM_ENABLE) = bEnable ? (enable | bits) : (enable & ~bits);
}

void PWMGenEnable(uint32_t ui32Base, uint32_t ui32Gen)
{
    if (!valid_pwm(ui32Base) || !valid_gen(ui32Gen)) {
        return;
    }
    pwm(ui32Base, ui32Gen + PWM_GEN_CTL) = pwm(ui32Base, ui32Gen + PWM_GEN_CTL) | PWM_GEN_CTL_ENABLE;
}

void PWMGenDisable(uint32_t ui32Base, uint32_t ui32Gen)
{
    if (!valid_pwm(ui32Base) || !valid_gen(ui32Gen)) {
        return;
    }
    pwm(ui32Base, ui32Gen + PWM_GEN_CTL) = pwm(ui32Base, ui32Gen + PWM_GEN_CTL) & ~PWM_GEN_CTL_ENABLE;
}
