// Solenoid drive line PG3 and the software duty-cycle machines.
#include "board/pwm.h"

#include "board/board_util.h"
#include "platform/platform.h"

pwmDriver pwmSoln;
pwmDriver pwmPump;

namespace {

constexpr unsigned MAX_DUTY = 99;

// 1 while the hardware PWM is configured and running.
uint32_t pwmSoln_initFlg;
uint32_t ui32PWMClock;
uint32_t ui32Load;

enum : uint32_t { PWM_IDLE = 0, PWM_SWITCH_OFF = 1, PWM_SWITCH_ON = 2, PWM_OFF_PHASE = 3, PWM_ON_PHASE = 4 };

using SwitchFn = void (*)();

// States 1 to 4 of both machines.
bool step(pwmDriver& d, SwitchFn on, SwitchFn off)
{
    switch (d.state) {
    case PWM_SWITCH_OFF:
        off();
        d.cnt = 0;
        return true;
    case PWM_SWITCH_ON:
        on();
        d.cnt = 0;
        return true;
    case PWM_OFF_PHASE:
        d.cnt++;
        if (d.cnt > 100 - d.percent) {
            d.state = PWM_ON_PHASE;
            on();
            d.cnt = 0;
        }
        return true;
    case PWM_ON_PHASE:
        d.cnt++;
        if (d.cnt > d.percent) {
            d.state = PWM_OFF_PHASE;
            off();
            d.cnt = 0;
        }
        return true;
    default:
        return false;
    }
}

} // namespace

void pwm_init()
{
    pwmSoln_initFlg = 0;
}

void pwmSoln_set(unsigned int pwmVal)
{
    const unsigned duty = pwmVal >= 100 ? MAX_DUTY : pwmVal;
    if (pwmSoln_initFlg != 1) {
        pwmSoln_initFlg = 1;
        SysCtlPWMClockSet(SYSCTL_PWMDIV_8);
        SysCtlPeripheralEnable(SYSCTL_PERIPH_PWM1);
        GPIOPinConfigure(GPIO_PG3_M1PWM1);
        GPIOPinTypePWM(GPIO_PORTG_BASE, GPIO_PIN_3);
        ui32PWMClock = PWM_CLOCK_HZ;
        ui32Load = PWM_LOAD;
        PWMGenConfigure(PWM1_BASE, PWM_GEN_0, PWM_GEN_MODE_DOWN | PWM_GEN_MODE_NO_SYNC);
        PWMGenPeriodSet(PWM1_BASE, PWM_GEN_0, ui32Load);
        PWMPulseWidthSet(PWM1_BASE, PWM_OUT_1, ui32Load * duty / 100);
        PWMGenEnable(PWM1_BASE, PWM_GEN_0);
        PWMOutputState(PWM1_BASE, PWM_OUT_1_BIT, true);
    } else {
        PWMPulseWidthSet(PWM1_BASE, PWM_OUT_1, ui32Load * duty / 100);
    }
}

void pwmSoln_stop(unsigned int gpioState)
{
    if (pwmSoln_initFlg == 1) {
        PWMGenDisable(PWM1_BASE, PWM_GEN_0);
        PWMOutputState(PWM1_BASE, PWM_OUT_1_BIT, false);
        GPIOPinTypeGPIOOutput(GPIO_PORTG_BASE, GPIO_PIN_3);
    }
    pwmSoln_initFlg = 0;
    GPIOPinWrite(GPIO_PORTG_BASE, GPIO_PIN_3, gpioState != 0 ? GPIO_PIN_3 : 0);
}

int pwmSoln_stateMachine(int pwmState)
{
    if (pwmState >= 0) {
        pwmSoln.state = static_cast<uint32_t>(pwmState);
    }
    if (pwmSoln.state != PWM_IDLE && !step(pwmSoln, pwr_soln_on, pwr_soln_off)) {
        pwr_soln_off();
        pwmSoln.cnt = 0;
    }
    return static_cast<int>(pwmSoln.state);
}

int pwmPump_stateMachine(int pwmState)
{
    if (pwmState >= 0) {
        pwmPump.state = static_cast<uint32_t>(pwmState);
    }
    step(pwmPump, pump_on, pump_off);
    return static_cast<int>(pwmPump.state);
}

void solenoid_on()
{
    pwmSoln_stop(1);
}

void solenoid_hit()
{
    pwmSoln_stop(1);
}

void solenoid_off()
{
    pwmSoln_stop(0);
}

void solenoid_hold(unsigned int pwmVal)
{
    pwmSoln_set(pwmVal);
}
