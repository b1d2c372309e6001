// Board lines, indicators, timebase and delays.
#include "board/board_util.h"

#include "board/pwm.h"
#include "platform/platform.h"

unsigned int ledRedState;
unsigned int ledGreenState;
int profileTarget;
int profile2Target;

namespace {

volatile uint32_t timer_1ms;
volatile uint32_t timer_10ms;

void line_high(uint32_t port, uint8_t pin)
{
    GPIOPinWrite(port, pin, pin);
}
void line_low(uint32_t port, uint8_t pin)
{
    GPIOPinWrite(port, pin, 0);
}

} // namespace

void pwr_iso_on()
{
    line_high(GPIO_PORTK_BASE, GPIO_PIN_2);
}
void pwr_iso_off()
{
    line_low(GPIO_PORTK_BASE, GPIO_PIN_2);
}
void pwr_env_mon_on()
{
    line_high(GPIO_PORTM_BASE, GPIO_PIN_7);
}
void pwr_env_mon_off()
{
    line_low(GPIO_PORTM_BASE, GPIO_PIN_7);
}
void pwr_vbat_mon_on()
{
    line_high(GPIO_PORTM_BASE, GPIO_PIN_6);
}
void pwr_vbat_mon_off()
{
    line_low(GPIO_PORTM_BASE, GPIO_PIN_6);
}
void pwr_ctd_on()
{
    line_high(GPIO_PORTD_BASE, GPIO_PIN_0);
}
void pwr_ctd_off()
{
    line_low(GPIO_PORTD_BASE, GPIO_PIN_0);
}
void pwr_aux_pwr1_on()
{
    line_high(GPIO_PORTD_BASE, GPIO_PIN_1);
}
void pwr_aux_pwr1_off()
{
    line_low(GPIO_PORTD_BASE, GPIO_PIN_1);
}
void pwr_aux_pwr2_on()
{
    line_high(GPIO_PORTD_BASE, GPIO_PIN_2);
}
void pwr_aux_pwr2_off()
{
    line_low(GPIO_PORTD_BASE, GPIO_PIN_2);
}
void pwr_aux_pwr3_on()
{
    line_high(GPIO_PORTD_BASE, GPIO_PIN_3);
}
void pwr_aux_pwr3_off()
{
    line_low(GPIO_PORTD_BASE, GPIO_PIN_3);
}
void pressure_on()
{
    line_high(GPIO_PORTM_BASE, GPIO_PIN_5);
}
void pressure_off()
{
    line_low(GPIO_PORTM_BASE, GPIO_PIN_5);
}
void console_on()
{
    line_low(GPIO_PORTL_BASE, GPIO_PIN_0 | GPIO_PIN_1);
}
void console_off()
{
    line_high(GPIO_PORTL_BASE, GPIO_PIN_0 | GPIO_PIN_1);
}
void PORTXXX_on()
{
    line_high(GPIO_PORTL_BASE, GPIO_PIN_7);
}
void PORTXXX_off()
{
    line_low(GPIO_PORTL_BASE, GPIO_PIN_7);
}

int uSD_present()
{
    return GPIOPinRead(GPIO_PORTL_BASE, GPIO_PIN_5) == 0 ? 1 : 0;
}

// The PWM drive keeps a copy of the solenoid and pump supply states.
void pwr_soln_on()
{
    line_high(GPIO_PORTG_BASE, GPIO_PIN_1 | GPIO_PIN_3);
    pwmSoln.gpio = 1;
}
void pwr_soln_off()
{
    line_low(GPIO_PORTG_BASE, GPIO_PIN_1 | GPIO_PIN_3);
    pwmSoln.gpio = 0;
}
void pump_on()
{
    pwr_aux_pwr1_on();
    pwmPump.gpio = 1;
}
void pump_off()
{
    pwr_aux_pwr1_off();
    pwmPump.gpio = 0;
}
void pump1_on()
{
    pump_on();
}
void pump1_off()
{
    pump_off();
}
void pump2_on()
{
    pwr_aux_pwr2_on();
}
void pump2_off()
{
    pwr_aux_pwr2_off();
}
void pump3_on()
{
    pwr_aux_pwr3_on();
}
void pump3_off()
{
    pwr_aux_pwr3_off();
}
void pump4_on()
{
    pwr_soln_on();
}
void pump4_off()
{
    pwr_soln_off();
}

void led_red_on()
{
    line_high(GPIO_PORTP_BASE, GPIO_PIN_2);
    ledRedState = 1;
}

void led_red_off()
{
    line_low(GPIO_PORTP_BASE, GPIO_PIN_2);
    ledRedState = 0;
}

void led_red_toggle()
{
    if (ledRedState != 0) {
        led_red_off();
    } else {
        led_red_on();
    }
}

void led_red(unsigned int state)
{
    if (state != 0) {
        led_red_on();
    } else {
        led_red_off();
    }
}

void led_green_on()
{
    line_high(GPIO_PORTE_BASE, GPIO_PIN_3);
    ledGreenState = 1;
}

void led_green_off()
{
    line_low(GPIO_PORTE_BASE, GPIO_PIN_3);
    ledGreenState = 0;
}

void led_green_toggle()
{
    if (ledGreenState != 0) {
        led_green_off();
    } else {
        led_green_on();
    }
}

void led_green(unsigned int state)
{
    if (state != 0) {
        led_green_on();
    } else {
        led_green_off();
    }
}

void led_init()
{
    GPIOPinTypeGPIOOutput(GPIO_PORTP_BASE, GPIO_PIN_2);
    GPIOPinTypeGPIOOutput(GPIO_PORTE_BASE, GPIO_PIN_3);
    led_red_off();
    led_green_off();
    ledRedState = 0;
    ledGreenState = 0;
}

void led_power_on()
{
    led_green_on();
}
void led_power_off()
{
    led_green_off();
}
void led_sampling_on()
{
    led_red_on();
}
void led_sampling_off()
{
    led_red_off();
}

void profile_on(int target)
{
    if (target == profileTarget) {
        led_red_on();
    }
}

void profile_off(int target)
{
    if (target == profileTarget) {
        led_red_off();
    }
}

void profile_toggle(int target)
{
    if (target == profileTarget) {
        led_red_toggle();
    }
}

void profile2_on(int target)
{
    if (target == profile2Target) {
        led_green_on();
    }
}

void profile2_off(int target)
{
    if (target == profile2Target) {
        led_green_off();
    }
}

void profile2_toggle(int target)
{
    if (target == profile2Target) {
        led_green_toggle();
    }
}

// Called every 10 ms from the tick (the card driver's timeouts); set at
// start-up, so the timebase knows nothing of the modules above it.
static void (*s_tick_10ms_hook)() = nullptr;

void board_set_tick_10ms_hook(void (*hook)())
{
    s_tick_10ms_hook = hook;
}

void SysTickHandler()
{
    uint32_t t = timer_1ms + 1;
    timer_1ms = t;
    if (t % 10 == 0) {
        if (s_tick_10ms_hook != nullptr) {
            s_tick_10ms_hook();
        }
        timer_10ms = timer_10ms + 1;
    }
}

unsigned long Timer_1ms(int reset)
{
    if ((reset & 0xFF) != 0) {
        timer_1ms = 0;
    }
    return timer_1ms;
}

unsigned long Timer_10ms(int reset)
{
    if ((reset & 0xFF) != 0) {
        timer_10ms = 0;
    }
    return timer_10ms;
}

void ms_delay(unsigned int msec)
{
    for (unsigned int i = 0; i < msec; ++i) {
        SysCtlDelay(DELAY_COUNTS_PER_MS);
    }
}

void delay_msec(unsigned int msec)
{
    ms_delay(msec);
}
