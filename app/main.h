// Start-up, main loop and main menu.
#pragma once

#include "records/print_buffer.h"
#include "storage/microsd.h"

#include <cstdint>

constexpr uint32_t WAKE_NOTSET = 0;
constexpr uint32_t WAKE_PIN = 1;
constexpr uint32_t WAKE_RTC = 2;

// Main-menu inactivity time-out in seconds.
constexpr unsigned deployDelay = 30;

extern unsigned wokebyserialFlg;

void init();
void print_main_menu();
[[noreturn]] void exec_main_menu();
void eeprom_firmware_qa_check();
int print_sampBuf();
