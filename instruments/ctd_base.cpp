// CTD driver: the driver record, the port, the bounded receive wait, and
// the operator loops shared by the two instrument types (instruments/ctd.cpp
// starts the state machine and dispatches to the types, which use these).
#include "instruments/ctd_base.h"

#include "board/board_util.h"
#include "instruments/instrument_text.h"
#include "instruments/port_wait.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uart4.h"
#include "serial/uartstdio.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

ctdDriver ctd;

namespace {

constexpr unsigned char CTRL_X = 0x18;

uint32_t tick_now()
{
    return static_cast<uint32_t>(Timer_10ms(0));
}

} // namespace

void ctd_init()
{
    uart4_init();
    uart4_setup(9600, 16000000);
    uart4_echo_set(false);
}

void ctd_open()
{
    pwr_ctd_on();
    ctd.state = 0;
    ctd.bufIndx = 0;
}

void ctd_close()
{
    pwr_ctd_off();
}

unsigned char ctd_getc()
{
    return uart4_rx_byte();
}

void ctd_putc(unsigned char c)
{
    uart4_tx_byte(c);
}

int ctd_rxBytesAvail()
{
    return uart4_rx_bytes_avail();
}

void ctd_flushRx()
{
    uart4_rx_bufr_flush();
}

void ctd_flushTx(bool /*discardFlg*/)
{
    uart4_tx_bufr_flush(true);
}

int ctd_write(const char* pcBuf, uint32_t ui32Len)
{
    return uart4_write(pcBuf, ui32Len);
}

void ctd_send(const char* bytes, uint32_t len)
{
    for (uint32_t i = 0; i < len; ++i) {
        ctd_putc(static_cast<unsigned char>(bytes[i]));
    }
}

int ctd_fail(const char* text)
{
    instrument_text_set(ctd.buf, text);
    wait_consoleTx();
    ctd_close();
    ctd.state = -1;
    return 0;
}

uint32_t wait_ctdRx(uint32_t maxWait_10msTick)
{
    return wait_port_rx<ctd_rxBytesAvail>(maxWait_10msTick, "wait_ctdRx");
}

void ctd_use_salinity(float sal)
{
    if (sal >= CTD_SAL_MIN && sal <= CTD_SAL_MAX) {
        sys_samp.sensor_sal = sal;
        return;
    }
    sys_samp.sensor_sal = sys_data.default_sal;
    char note[48];
    std::snprintf(note, sizeof note, " Sal out of %d-%d, pH uses %.3f", static_cast<int>(CTD_SAL_MIN),
                  static_cast<int>(CTD_SAL_MAX), static_cast<double>(sys_data.default_sal));
    instrument_text_append(ctd.buf, note);
}

bool ctd_blank_field(const char* begin, const char* end)
{
    for (; begin < end; ++begin) {
        if (*begin != ' ') {
            return false;
        }
    }
    return true;
}

bool ctd_number_field(const char* begin, const char* end, float* out)
{
    char text[24];
    while (begin < end && *begin == ' ') {
        ++begin;
    }
    while (end > begin && end[-1] == ' ') {
        --end;
    }
    const std::size_t len = static_cast<std::size_t>(end - begin);
    if (len == 0 || len >= sizeof text) {
        return false;
    }
    std::memcpy(text, begin, len);
    text[len] = '\0';
    char* stop = nullptr;
    const float v = std::strtof(text, &stop);
    if (stop != text + len || !std::isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

void ctd_print_buf()
{
    uprintf("%s", ctd.buf);
}

void ctd_pass_through(bool crlf_for_cr)
{
    for (;;) {
        bool busy = false;
        if (ctd_rxBytesAvail() > 0) {
            char c = static_cast<char>(ctd_getc());
            UARTwrite(&c, 1);
            busy = true;
        }
        idle_poll();
        if (UARTRxBytesAvail() > 0) {
            unsigned char c = UARTgetc();
            idle_activity();
            if (c == CTRL_X) {
                break;
            }
            if (c == '\r' && crlf_for_cr) {
                ctd_send("\r\n", 2);
            } else {
                ctd_putc(c);
            }
            busy = true;
        }
        if (!busy) {
            platform_idle();
        }
    }
}

void ctd_analyzer_print(unsigned char c, uint32_t* last_tick)
{
    uint32_t now = tick_now();
    // Control bytes would move the terminal's cursor or (a NUL) cut the
    // line short; the hex value shows them.
    unsigned char shown = (c >= 0x20 && c < 0x7F) ? c : '.';
    uprintf("RX: %c [0x%02x] ", shown, c);
    uprintf(" time = %u msec\r\n", static_cast<unsigned int>((now - *last_tick) * 10u));
    *last_tick = now;
}

void ctd_analyzer_run(void (*react)(int c))
{
    ctd_init();
    for (;;) {
        uprintf("open\r\n");
        ctd_open();
        react(-1);
        uint32_t last = tick_now();
        for (;;) {
            bool busy = false;
            if (ctd_rxBytesAvail() > 0) {
                unsigned char c = ctd_getc();
                ctd_analyzer_print(c, &last);
                react(c);
                busy = true;
            }
            idle_poll();
            if (UARTRxBytesAvail() > 0) {
                idle_activity();
                if (UARTgetc() == CTRL_X) {
                    break;
                }
                busy = true;
            }
            if (!busy) {
                platform_idle();
            }
        }
        ctd_close();
        ms_delay(500);
        if (UARTPeek(CTRL_X) >= 0) {
            UARTFlushRx();
            return;
        }
    }
}
