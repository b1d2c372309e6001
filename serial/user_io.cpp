// Console helpers on the buffered console driver and the hibernation clock.
#include "serial/user_io.h"

#include "board/board_util.h"
#include "board/rtc_calendar.h"
#include "platform/platform.h"
#include "serial/uartstdio.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int dbg_flag;

namespace {

char s_uprintf_buf[256];
char s_dbg_buf[256];
constexpr int CONSOLE_RX_RING = 512;

int vprint_to_console(char* buf, std::size_t size, const char* fmt, va_list ap)
{
    int n = std::vsnprintf(buf, size, fmt, ap);
    if (n > 0) {
        UARTwrite(buf, static_cast<uint32_t>(std::strlen(buf)));
    }
    return n;
}

IdleLimit s_idle{0, nullptr};
// Second of the last console activity, and the receive count seen then.
uint32_t s_idle_since;
int s_idle_avail;

// Waits until a whole line (ended by carriage return) is in the receive
// ring, under the idle limit.  A ring filled to the brim without one also
// counts: the line reader then consumes it, which makes room for the Enter
// still to come instead of dropping it for ever.
void wait_for_line()
{
    idle_activity();
    while (UARTPeek('\r') < 0 && UARTRxBytesAvail() < CONSOLE_RX_RING - 1) {
        idle_poll();
        platform_idle();
    }
}

void print_time_text(uint32_t t)
{
    char text[50];
    std::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S", rtc_localtime(t));
    uprintf("%s", text);
}

// Converts a two-character group; false if it is not a whole base-10 number.
bool parse_group(const char* text, int* value)
{
    char group[3] = {text[0], text[1], '\0'};
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(group, &end, 10);
    if (errno != 0 || end == group || *end != '\0') {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

} // namespace

int uprintf(const char* pcString, ...)
{
    va_list ap;
    va_start(ap, pcString);
    int n = vprint_to_console(s_uprintf_buf, sizeof s_uprintf_buf, pcString, ap);
    va_end(ap);
    return n;
}

int dbg_printf(const char* pcString, ...)
{
    if (dbg_flag == 0) {
        return 0;
    }
    va_list ap;
    va_start(ap, pcString);
    int n = vprint_to_console(s_dbg_buf, sizeof s_dbg_buf, pcString, ap);
    va_end(ap);
    return n;
}

IdleLimit set_idle_limit(IdleLimit limit)
{
    const IdleLimit outer = s_idle;
    s_idle = limit;
    return outer;
}

void idle_activity()
{
    s_idle_since = HibernateRTCGet();
    s_idle_avail = UARTRxBytesAvail();
}

void idle_poll()
{
    const int avail = UARTRxBytesAvail();
    if (avail != s_idle_avail) {
        idle_activity();
        return;
    }
    if (s_idle.seconds == 0 || s_idle.on_idle == nullptr ||
        HibernateRTCGet() - s_idle_since < s_idle.seconds) {
        return;
    }
    // Nothing half typed is taken as a reply after the idle action.
    UARTFlushRx();
    s_idle.on_idle();
    idle_activity();
}

void wait_console_byte()
{
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        platform_idle();
    }
}

unsigned char kbhit()
{
    if (UARTRxBytesAvail() == 0) {
        return 0;
    }
    UARTFlushRx();
    return 1;
}

unsigned char get_key()
{
    char line[5];
    wait_for_line();
    UARTgets(line, sizeof line);
    return static_cast<unsigned char>(line[0]);
}

unsigned char rx_console_byte()
{
    return get_key();
}

int getChar()
{
    return UARTgetc();
}

int getchar_timed(int timeout)
{
    Timer_10ms(1);
    while (Timer_10ms(0) <= static_cast<unsigned long>(timeout) * 100u) {
        if (UARTRxBytesAvail() > 0) {
            return UARTgetc();
        }
        platform_idle();
    }
    return -1;
}

int getUserInput(char* buffer, int size)
{
    wait_for_line();
    return UARTgets(buffer, static_cast<uint32_t>(size));
}

// Only a carriage return in the ring completes the line here: a full ring
// without one is not read, because the line reader would then wait without
// limit for the terminator.  With a carriage return in the ring the reader
// stops at it (or at an earlier terminator) and returns at once.
int getUserInputTimeLimit(char* buffer, int size, int timeLimit)
{
    uint32_t start = HibernateRTCGet();
    while (UARTPeek('\r') < 0) {
        if (HibernateRTCGet() - start > static_cast<uint32_t>(timeLimit)) {
            return -1;
        }
        platform_idle();
    }
    return UARTgets(buffer, static_cast<uint32_t>(size));
}

int yesOrNoMenuChoice(const char* prompt, int defaultChoice)
{
    uprintf("%s", prompt);
    switch (get_key()) {
    case 'Y':
    case 'y':
        return 1;
    case 'N':
    case 'n':
        return 0;
    default:
        return defaultChoice;
    }
}

void printCurrentTime()
{
    print_time_text(HibernateRTCGet());
}

void print_time_t_Time(uint32_t t)
{
    print_time_text(t);
}

uint32_t getDateAndTime()
{
    char entry[23];
    for (;;) {
        uprintf("\r\n\r\nEnter time [");
        printCurrentTime();
        uprintf("]: ");
        int n = getUserInput(entry, sizeof entry);
        if (n == 0) {
            return 0;
        }
        if (n != 17) {
            uprintf("Enter a valid time string as MM/DD/YY HH:MM:SS\r\n\r\n\r\n");
            continue;
        }
        if (entry[2] != '/' || entry[5] != '/' || !std::isspace(static_cast<unsigned char>(entry[8])) ||
            entry[11] != ':' || entry[14] != ':') {
            continue;
        }
        int month, day, year, hour, minute, second;
        if (!parse_group(entry + 0, &month) || !parse_group(entry + 3, &day) ||
            !parse_group(entry + 6, &year) || !parse_group(entry + 9, &hour) ||
            !parse_group(entry + 12, &minute) || !parse_group(entry + 15, &second)) {
            continue;
        }
        if (month < 1 || month > 12 || day < 1 || day > 31 || year < 0 || year > 99 || hour < 0 ||
            hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 61) {
            continue;
        }
        struct tm t {};
        t.tm_year = year + 100;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        t.tm_isdst = 0;
        return rtc_mktime(&t);
    }
}
