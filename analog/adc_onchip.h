// The microcontroller's own 12-bit converter (ADC0): one burst of eight
// conversions of the board values (battery divider, pressure, humidity,
// water sensor, board and chip temperature).
#pragma once

#include <cstdint>

// Results of the last burst, in step order; entries 8..11 are never written.
constexpr int ADC_DATA_SIZE = 12;
constexpr int ADC_BURST_STEPS = 8;
extern uint32_t adc_data[ADC_DATA_SIZE];

// Completion polls after which read_all_adc reports a hang, and after which
// it gives up (keeping the previous results).  A burst completes in about
// 8 us, a handful of polls.
constexpr uint32_t ADC_HANG_REPORT_POLLS = 100000;
constexpr uint32_t ADC_GIVE_UP_POLLS = 200000;

void adc_onchip_init();
uint32_t* read_all_adc();

// True when the last read_all_adc gave up waiting (adc_data then still holds
// the burst before it).
bool adc_onchip_timed_out();
