// Isolated 24-bit converter (ADS1248 on SSI3) and the ADG1609 input
// multiplexer addressed through the converter's GPIO pins.
//
// Use: openADS1248_iso, ADS1248_gpio_init, then any number of channel
// selections and readings, then closeADS1248_iso.  A reading returns volts;
// its population standard deviation is left in sys_samp.AD24_std.
#pragma once

#include <cstdint>

// Largest number of conversions one reading averages.
constexpr int ADS1248_MAX_TRIALS = 120;

// One code step at gain 1: 2.048 V / (2^23 - 1), as a single-precision value.
constexpr float ADS1248_VOLTS_PER_CODE = 2.4414067e-07f;

// Value a reading returns when the converter delivered no result at all
// (data-ready never came): outside the +-2.048 V input range, so it cannot
// be mistaken for a measurement.
constexpr float ADS1248_NO_DATA_VOLTS = -9.999999f;

// How long one trial waits for data-ready before the reading gives up:
// five conversion periods at the slowest data rate (5 samples per second).
constexpr uint32_t ADS1248_DRDY_TIMEOUT_MS = 1000;

void openADS1248_iso();
void closeADS1248_iso();
void ADS1248_gpio_init();
void ADS1248_gpio_ADG1609_mux(uint32_t chan);
void ADS1248_gpio3(uint32_t state);
float pollADS1248_iso(int pos_chan, int neg_chan, int trials, int gain, int sps);
unsigned char ADS1248_gain_sps(int gain, int sps);

// Signed value of a 24-bit two's-complement converter code.
int32_t ADS1248_code_value(uint32_t code);

// Trials of the last reading that got no result because data-ready did not
// come in time (0 = the reading is complete).
int ADS1248_missed_trials();
