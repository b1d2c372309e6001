// Solenoid drive line PG3: fully on, fully off, or a hardware PWM hold level
// (PWM module 1, generator 0, output 1, 10 kHz), and the two software
// duty-cycle machines of the solenoid supply and the pump.
#pragma once

#include <cstdint>

struct pwmDriver {
    uint32_t state;   // duty-cycle machine state
    uint32_t cnt;     // ticks in the current on or off phase
    uint32_t gpio;    // 1 while the board functions have the supply switched on
    uint32_t period;  // period in ticks (not used by the machines)
    uint32_t percent; // duty cycle in percent
};

extern pwmDriver pwmSoln;
extern pwmDriver pwmPump;

// PWM clock (system clock / 8) and the period load value of 10 kHz.
constexpr uint32_t PWM_CLOCK_HZ = 6250000;
constexpr uint32_t PWM_FREQ_HZ = 10000;
constexpr uint32_t PWM_LOAD = PWM_CLOCK_HZ / PWM_FREQ_HZ - 1;

// Start-up: the hardware PWM counts as stopped.
void pwm_init();
// Runs PG3 at pwmVal percent duty (100 and above: 99).
void pwmSoln_set(unsigned int pwmVal);
// Stops the PWM and drives PG3 as a plain output: low for 0, high otherwise.
void pwmSoln_stop(unsigned int gpioState);
// One tick of a duty-cycle machine; pwmState >= 0 first replaces the state.
// Returns the current state.
int pwmSoln_stateMachine(int pwmState);
int pwmPump_stateMachine(int pwmState);

// Solenoid aliases: on and hit drive the line fully on, off fully off, hold
// runs it at the given duty.
void solenoid_on();
void solenoid_hit();
void solenoid_off();
void solenoid_hold(unsigned int pwmVal);
