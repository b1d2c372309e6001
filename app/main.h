// Start-up, main loop and main menu.
#pragma once

#include <cstdint>

constexpr uint32_t WAKE_NOTSET = 0;
constexpr uint32_t WAKE_PIN = 1;
constexpr uint32_t WAKE_RTC = 2;

// Main-menu inactivity time-out in seconds.
constexpr unsigned deployDelay = 30;

extern unsigned wokebyserialFlg;
extern int microSD_flg;
extern char prnBuf[1024];

void init();
void print_main_menu();
[[noreturn]] void exec_main_menu();
void eeprom_firmware_qa_check();
int print_sampBuf();
