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

// --- Operator idle limit ------------------------------------------------------
// Every operator wait (a key, a line, the instrument pass-through) ends when
// no console byte has come for the limit of the menu it belongs to: the
// bytes waiting (a line half typed) are discarded and the menu's idle action
// runs.  The action hibernates; should it return (the records could not be
// stored), the wait goes on for another period.
struct IdleLimit {
    uint32_t seconds; // 0: no limit
    void (*on_idle)();
};
// Makes `limit` the one in force; returns the one it replaces.
IdleLimit set_idle_limit(IdleLimit limit);
// A menu's limit for as long as the menu runs.
class IdleScope {
  public:
    explicit IdleScope(IdleLimit limit) : m_outer(set_idle_limit(limit)) {}
    ~IdleScope() { set_idle_limit(m_outer); }
    IdleScope(const IdleScope&) = delete;
    IdleScope& operator=(const IdleScope&) = delete;

  private:
    IdleLimit m_outer;
};
// Within a loop that polls the console itself: the idle time restarts when
// bytes came (or were taken) since the last call, and the idle action runs
// when the limit has passed.
void idle_poll();
// The loop took a console byte itself: the idle time restarts.
void idle_activity();
// Waits for a console byte (input already waiting ends it at once).
void wait_console_byte();
