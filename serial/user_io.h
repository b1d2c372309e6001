// Console helpers: formatted output, debug output, line-oriented key and
// text input, yes/no prompt, date and time entry, time printers.
#pragma once

#include <cstdint>

extern int dbg_flag;

int uprintf(const char* pcString, ...) __attribute__((format(printf, 1, 2)));
int dbg_printf(const char* pcString, ...) __attribute__((format(printf, 1, 2)));
unsigned char kbhit();
unsigned char get_key();
unsigned char rx_console_byte();
int getChar();
int getchar_timed(int timeout);
int getUserInput(char* buffer, int size);
int getUserInputTimeLimit(char* buffer, int size, int timeLimit);
int yesOrNoMenuChoice(const char* prompt, int defaultChoice);
void printCurrentTime();
void print_time_t_Time(uint32_t t);
uint32_t getDateAndTime();
