// Help menu: operator guidance pages, the converter sampling-time page, the
// switches for experimental menus, card logging and debug prints, and a
// rotating display of short sayings.
#pragma once

// Number of sayings; the table holds one more entry, a null pointer.
constexpr int WISDOM_COUNT = 67;
// The sayings display draws from the first this many only.
constexpr int WISDOM_DRAWN = 62;
// Width of the blank line that erases a saying.
constexpr int WISDOM_ERASE_WIDTH = 213;
// Inactivity time-out of the help menu, seconds.
constexpr unsigned HELP_IDLE_S = 30000;

extern const char* const wisdom_arr[WISDOM_COUNT + 1];

void help_menu();
void print_help_menu();
