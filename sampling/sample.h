// Sampling: the sample cycle, the pump sequencer around it, and supply and
// environment monitoring (conversions of the on-chip converter's counts to
// physical values, the battery reading of the main menu and the thermistor
// check of the configuration menu).
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

// --- Sample cycle -----------------------------------------------------------------
// Takes one sample and builds its record in prnBuf.  printFlg 1 writes the
// record to the console; writeFlg 1 appends it to the data file when the
// card is enabled.  A low battery ends the deployment (and hibernates).
void get_sample(int printFlg, int writeFlg);
// Last bias-battery readings (kept between samples).
extern float fBiasPos;
extern float fBiasNeg;

// --- Pump sequencer -------------------------------------------------------------
// Sequencer states (sys_samp.pump_seq_state).
constexpr int ST_SEQ_DONE = 0;
constexpr int ST_SEQ_START = 1;
constexpr int ST_SEQ_PUMP1_START = 2;
constexpr int ST_SEQ_PUMP1_RUN = 3;
constexpr int ST_SEQ_PUMP2_START = 4;
constexpr int ST_SEQ_PUMP2_RUN = 5;
constexpr int ST_SEQ_WAIT_TO_START = 6;
constexpr int PUMP_BUF_SIZE = 36;
// Pump text of the record when two pumps alternate ("P1 01/02\t").
extern char pumpBuf[PUMP_BUF_SIZE];

// Runs the pump sequence of one sampling wake and takes its sample; returns
// 0 (sample taken) or ST_SEQ_WAIT_TO_START (delayed start still counting).
int pump_and_sample(int printFlg, int writeFlg);
// One step of the sequencer from `pump_seq_state`; returns the next state.
int pump_sequencer(int pump_seq_state, int printFlg, int writeFlg);
// Arms the sequence for a new deployment.
void pump_and_sample_start();
// Start-up: the pump text before any pump phase.
void pump_var_init();

// Test entry points of the sampling test loops.
void test_get_sample_timing();
void test_get_sample_loop();
void test_pump_and_sample_loop();
void test_pump_and_sample_timing();
