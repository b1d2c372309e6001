// Bench tools: the test menu with its live displays, the instrument and
// power output menus, the 24-bit converter test menu, and board QA with its
// report.
#pragma once

#include <cstdint>

// Inactivity time-out of the test menus, seconds.
constexpr unsigned TEST_IDLE_S = 30000;
// Inactivity time-out of the instrument pass-through and serial analyzers,
// seconds: the instrument is powered meanwhile.
constexpr unsigned PASS_THROUGH_IDLE_S = 600;

void test_menu();
void display_battery_boardSensors();
void display_ph_ref_therm_volts();
void display_calcd_pH_intRef_therm();
void display_calcd_pH_extRef_therm_sal(float Salinity);
void communicate_with_instruments();
int power_output_tests();

// Board QA and the converter test menu.
int board_qa_and_init(int initFlg);
void print_qa_report();
int test_sampling_tamb(int qaFlg);
// The analog check's limit table: channels in row order, and one reading
// checked against channel i's limits (0 within them; 1 outside, with the
// error in *err: reading - min below, max - reading above, -1 for no number).
int tamb_channel_count();
const char* tamb_channel_name(int i);
int tamb_limit_check(int i, float v, float* err);
void test_24bit_adc_mux();

// The QA file name for a local calendar date: "qaMMDDYY.txt".  `name` holds
// at least 13 bytes.
void qa_file_name(uint32_t rtc_seconds, char* name);

// Waits for a console byte; when `idle_s` seconds pass first, the board goes
// to sleep (and, should that fail, waits another period).  Pending input is
// discarded first.
void test_wait_key_or_sleep(unsigned idle_s);

// The two record-editor operations the bench tools use: the deployment
// metadata dialogue (board QA) and the field-by-field listing of the
// configuration record (test menu "S").  Both are reached only through
// these, defined in app/test_editor.cpp.
void qa_enter_metadata();
void qa_print_sys_data_structure();
