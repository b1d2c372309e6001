// Board lines: switched supplies, indicators, card detect, console
// transceiver; the millisecond timebase and the busy-wait delays.
#pragma once

#include <cstdint>

// Switched supplies.
void pwr_iso_on();
void pwr_iso_off();
void pwr_env_mon_on();
void pwr_env_mon_off();
void pwr_vbat_mon_on();
void pwr_vbat_mon_off();
void pwr_ctd_on();
void pwr_ctd_off();
void pwr_aux_pwr1_on();
void pwr_aux_pwr1_off();
void pwr_aux_pwr2_on();
void pwr_aux_pwr2_off();
void pwr_aux_pwr3_on();
void pwr_aux_pwr3_off();
void pwr_soln_on();
void pwr_soln_off();
void pressure_on();
void pressure_off();
void console_on();
void console_off();
void PORTXXX_on();
void PORTXXX_off();
int uSD_present();

// Pumps and solenoid.
void pump_on();
void pump_off();
void pump1_on();
void pump1_off();
void pump2_on();
void pump2_off();
void pump3_on();
void pump3_off();
void pump4_on();
void pump4_off();

// Indicators.
extern unsigned int ledRedState;
extern unsigned int ledGreenState;
void led_init();
void led_red_on();
void led_red_off();
void led_red_toggle();
void led_red(unsigned int state);
void led_green_on();
void led_green_off();
void led_green_toggle();
void led_green(unsigned int state);
void led_power_on();
void led_power_off();
void led_sampling_on();
void led_sampling_off();

extern int profileTarget;
extern int profile2Target;
void profile_on(int target);
void profile_off(int target);
void profile_toggle(int target);
void profile2_on(int target);
void profile2_off(int target);
void profile2_toggle(int target);

// Timebase.  The hook, when set, runs every 10 ms in the tick interrupt
// (start-up sets the card driver's timer procedure).
void board_set_tick_10ms_hook(void (*hook)());
void SysTickHandler();
unsigned long Timer_1ms(int reset);
unsigned long Timer_10ms(int reset);

// Busy-wait delays, calibrated for the 50 MHz clock.
constexpr uint32_t DELAY_COUNTS_PER_MS = 16667;
constexpr uint32_t DELAY_COUNTS_PER_US = 17;
void ms_delay(unsigned int msec);
void delay_msec(unsigned int msec);
