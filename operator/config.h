// Configuration module: record defaults (and, as they are built, the
// configuration menus and the record editor).
#pragma once

// Factory defaults of the whole configuration record (all but pump_spare and
// spare[4..63]), and a reset of the deployment progress.  Does not store.
void config_sys_data_default_init();
// Default data rates and trial counts of the isolated converter channels.
void ads1248_sampling_defaults();
// Clears the board QA results.
void config_qa_data_init();
// Asks for the deployment note, waiting at most `timeout` seconds for it;
// without a reply the note is a single space.  Returns non-zero.
int enter_deployment_note(int timeout);

#include "records/system_data.h"

#include <cstdint>

// --- Configuration menu ----------------------------------------------------------
// The menu loop of main menu "1"; stores the record when left.
void configuration_menu();
// Waits for a menu key; 300 s without one puts the controller to sleep.
unsigned char get_menu_key_idle();
void config_data_fields();
void user_select_ctd();
void user_select_timestamp();
void edit_appcfg_fields();
void config_adc24_sampling_parms();
void pump_sequencer_setup();
void enter_pH_sensor_cal_coeff();
void change_baud_rate();

// --- Record editor -------------------------------------------------------------------
// Each reads one reply line; a non-empty reply that parses replaces the
// field (only the field's own bytes are written).  They return the parsed
// value (0 when nothing was parsed); edit_string returns the reply length.
uint32_t edit_uint(uint32_t* field);
uint32_t edit_uint(unsigned char* field);
uint32_t edit_uint(output_mode* field);
float edit_float(float* field);
double edit_double(double* field);
// At most size - 1 characters are kept.
uint32_t edit_string(char* field, uint32_t size);
// The converter rates and trials, one prompt each.
void edit_converter_fields();
// Walks the whole record in nine batches, stamps this build's version and
// stores the record.
void copy_edit_sys_data_structure();
void print_sys_data_structure();
void enter_metadata();
