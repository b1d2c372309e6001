// Supply and environment monitoring: conversions of the on-chip converter's
// counts to physical values, the battery reading of the main menu and the
// thermistor check of the configuration menu.
#pragma once

#include <cstdint>

// adc_data[0]: battery voltage through the divider, volts.
float vbat_from_count(uint32_t count);
// adc_data[2]: board humidity, percent.
uint32_t humidity_from_count(uint32_t count);
// adc_data[3]: water (leak) sensor, percent, at most 100.
uint32_t leak_from_count(uint32_t count);
// adc_data[4]: board temperature sensor, degrees C.
float brd_temp_from_count(uint32_t count);
// adc_data[7]: the microcontroller's internal temperature sensor, degrees C.
float chip_temp_from_count(uint32_t count);

// Switches the monitors on, takes one burst and returns the battery voltage.
// The environment monitor is left on; the battery monitor is switched off.
float read_vbat();
// Console check of the isolated side: reads and prints the thermistor voltage.
void exercise_iso();
