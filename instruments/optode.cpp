// Aanderaa oxygen optode driver (see optode.h).
#include "instruments/optode.h"

#include "board/board_util.h"
#include "instruments/aanderaa.h"
#include "instruments/instrument_text.h"
#include "instruments/port_wait.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uart3.h"
#include "serial/uartstdio.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

optodeDriver optode;

namespace {

constexpr unsigned char CTRL_X = 0x18;

const char* const OPTODE_NO_BANG = "Optode not responding with ! char after crlf";
const char* const OPTODE_NO_REPLY = "Optode not responding with sample string after do sample";
const char* const OPTODE_GAP =
    "Optode Err ST4: inter-character delay exceeded 50msec receiving do_sample string";
const char* const OPTODE_OVERFLOW = "Optode Err ST4: do_sample string exceeds buf size";
const char* const OPTODE_BAD_STATE = "Optode Err: statemachine in an unknown state";

// The instrument maker's passkeys for user-level and protected settings.
const char* const PASSKEY_USER = "1000";
const char* const PASSKEY_PROTECTED = "1";

uint32_t tick_now()
{
    return static_cast<uint32_t>(Timer_10ms(0));
}

void send_bytes(const char* bytes, uint32_t len)
{
    for (uint32_t i = 0; i < len; ++i) {
        optode_putc(static_cast<unsigned char>(bytes[i]));
    }
}

int fail(const char* text)
{
    instrument_text_set(optode.buf, text);
    wait_consoleTx();
    optode_close();
    optode.state = -1;
    return 0;
}

int start()
{
    optode_init();
    optode_open();
    ms_delay(1);
    optode_flushRx();
    optode_flushTx(true);
    optode.old_tick10ms = tick_now();
    return ST_OPTODE_PCT;
}

// The optode port, for the shared handshake.
struct OptodePort {
    static int avail() { return optode_rxBytesAvail(); }
    static unsigned char getc() { return optode_getc(); }
    static void send(const char* bytes, uint32_t len) { send_bytes(bytes, len); }
};

int wait_percent()
{
    switch (aand_look<OptodePort>(optode, '%', OPTODE_PCT_TICKS)) {
    case AandLook::Delimiter:
        aand_answer_percent<OptodePort>(optode);
        return ST_OPTODE_BANG;
    case AandLook::TimedOut: {
        char text[64];
        std::snprintf(text, sizeof text, "Optode not responding with %% char after power up");
        return fail(text);
    }
    default:
        return ST_OPTODE_PCT;
    }
}

int wait_bang()
{
    switch (aand_look<OptodePort>(optode, '!', OPTODE_BANG_TICKS)) {
    case AandLook::Delimiter:
        aand_answer_bang<OptodePort>(optode);
        return ST_OPTODE_RX;
    case AandLook::TimedOut:
        if (sys_data.diag != 0) {
            uprintf("\r\nOptode power on did not receive ! char delimiter in 2000msec - check optode "
                    "connection or "
                    "setup\r\n");
        }
        return fail(OPTODE_NO_BANG);
    default:
        return ST_OPTODE_BANG;
    }
}

// Waits for the first reply byte, then reads the whole reply in this one
// call, each byte within 50 ms of the one before, until '#'.
int collect()
{
    optode.new_tick10ms = tick_now();
    if (optode_rxBytesAvail() == 0) {
        if (optode.new_tick10ms - optode.old_tick10ms >= OPTODE_REPLY_TICKS) {
            if (sys_data.diag != 0) {
                uprintf("\r\nOptode power on did not receive sample string after do sample - check optode "
                        "connection or setup\r\n");
            }
            return fail(OPTODE_NO_REPLY);
        }
        platform_idle();
        return ST_OPTODE_RX;
    }
    optode.old_tick10ms = tick_now();
    for (;;) {
        uint32_t waited = wait_optodeRx(OPTODE_GAP_TICKS);
        if (waited >= OPTODE_GAP_TICKS || optode_rxBytesAvail() == 0) {
            if (sys_data.diag != 0) {
                uprintf("\r\nDEBUG: inter-character delay exceeded 50msec receiving do_sample string\r\n");
            }
            return fail(OPTODE_GAP);
        }
        unsigned char c = optode_getc();
        if (c == '\r') {
            c = '\0';
        }
        if (c == '#') {
            instrument_text_end(optode.buf, optode.bufIndx);
            optode_close();
            optode.state = 0;
            return 0;
        }
        optode.buf[optode.bufIndx++] = static_cast<char>(c);
        if (optode.bufIndx >= sizeof optode.buf) {
            optode.bufIndx = INSTRUMENT_TEXT_MAX;
            if (sys_data.diag != 0) {
                uprintf("\r\nDEBUG: error in optode driver bufIndx exceeds buf size, optode\r\n");
            }
            return fail(OPTODE_OVERFLOW);
        }
    }
}

void analyzer_print(unsigned char c, uint32_t* last_tick)
{
    uint32_t now = tick_now();
    // Control bytes would move the terminal's cursor or (a NUL) cut the
    // line short; the hex value shows them.
    unsigned char shown = (c >= 0x20 && c < 0x7F) ? c : '.';
    uprintf("RX: %c [0x%02x] ", shown, c);
    uprintf(" time = %u msec\r\n", static_cast<unsigned int>((now - *last_tick) * 10u));
    *last_tick = now;
}

void print_command_group(const char* passkey, const char* first, const char* second)
{
    uprintf("set passkey(%s)\r\n", passkey);
    uprintf("%s", first);
    if (second != nullptr) {
        uprintf("%s", second);
    }
    uprintf("save\r\n");
    uprintf("\r\n");
}

} // namespace

void optode_init()
{
    uart3_init();
    uart3_setup(9600, 16000000);
    uart3_echo_set(false);
}

void optode_open()
{
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, GPIO_PIN_2);
    optode.state = 0;
    optode.bufIndx = 0;
}

void optode_close()
{
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, 0);
}

unsigned char optode_getc()
{
    return uart3_rx_byte();
}

void optode_putc(unsigned char c)
{
    uart3_tx_byte(c);
}

int optode_rxBytesAvail()
{
    return uart3_rx_bytes_avail();
}

void optode_flushRx()
{
    uart3_rx_bufr_flush();
}

void optode_flushTx(bool bDiscard)
{
    uart3_tx_bufr_flush(bDiscard);
}

int optode_write(const char* pcBuf, uint32_t ui32Len)
{
    return uart3_write(pcBuf, ui32Len);
}

int optode_stateMachine(int optodeState)
{
    optode.state = optodeState;
    switch (optodeState) {
    case ST_OPTODE_IDLE:
        return 0;
    case ST_OPTODE_INIT:
        return start();
    case ST_OPTODE_PCT:
        return wait_percent();
    case ST_OPTODE_BANG:
        return wait_bang();
    case ST_OPTODE_RX:
        return collect();
    default:
        return fail(OPTODE_BAD_STATE);
    }
}

uint32_t wait_optodeRx(uint32_t maxWait_10msTick)
{
    return wait_port_rx<optode_rxBytesAvail>(maxWait_10msTick, "wait_optodeRx");
}

bool optode_reply_numeric(const char* text)
{
    int fields = 0;
    const char* p = text;
    for (;;) {
        while (*p == '\t' || *p == ' ') {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        char* stop = nullptr;
        const double v = std::strtod(p, &stop);
        if (stop == p || (*stop != '\t' && *stop != ' ' && *stop != '\0') || !std::isfinite(v)) {
            return false;
        }
        // Product and serial numbers are whole numbers.
        if (fields < 2 && v != static_cast<double>(static_cast<long>(v))) {
            return false;
        }
        ++fields;
        p = stop;
    }
    return fields >= 3;
}

uint32_t optode_qa_test()
{
    int st = optode_stateMachine(ST_OPTODE_INIT);
    while (st != 0) {
        st = optode_stateMachine(st);
    }
    if (optode.state == -1) {
        return 0;
    }
    // A reply that is not the instrument's numeric line is no pass.
    if (!optode_reply_numeric(optode.buf)) {
        instrument_text_set(optode.buf,
                            "Optode Err: reply is not numeric, check its setup (enable text off)");
        return 0;
    }
    return 1;
}

void optode_print_buf()
{
    uprintf("%s", optode.buf);
}

void optode_comm_test()
{
    uprintf("\r\nNote: smart sensor mode, disable data descriptor text, set flow control to none \r\n\r\n");
    uprintf("\r\n\r\nCommand procedure to setup Optode for numeric output:\r\n\r\n");
    print_command_group(PASSKEY_USER, "set mode(smart sensor terminal)\r\n",
                        "set enable polled mode(yes)\r\n");
    print_command_group(PASSKEY_USER, "set enable text(no)\r\n", nullptr);
    print_command_group(PASSKEY_PROTECTED, "set flow control(none)\r\n", nullptr);
    uprintf("do sample\r\n");
    uprintf(
        "\r\nThis should return a sample: "
        "\t4831\t856\t286.196\t94.284\t16.728\t28.200\t30.491\t38.573\t8.082\t621.1\t720.0\t300.0\t\r\n\r\n");
    uprintf("\r\n\r\n*Press CTRL-X to stop communicating with the Optode.*\r\n\r\n");
    optode_init();
    optode_open();
    for (;;) {
        bool busy = false;
        if (optode_rxBytesAvail() > 0) {
            char c = static_cast<char>(optode_getc());
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
            if (c == '\r') {
                send_bytes("\r\n", 2);
            } else {
                optode_putc(c);
            }
            busy = true;
        }
        if (!busy) {
            platform_idle();
        }
    }
    optode_close();
}

void optode_serial_analyzer()
{
    uprintf("optode serial analyzer, bytes and times\r\n");
    optode_init();
    for (;;) {
        uprintf("open\r\n");
        optode_open();
        uint32_t last = tick_now();
        for (;;) {
            bool busy = false;
            if (optode_rxBytesAvail() > 0) {
                unsigned char c = optode_getc();
                analyzer_print(c, &last);
                aand_analyzer_answer<OptodePort>(c);
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
        optode_close();
        ms_delay(500);
        if (UARTPeek(CTRL_X) >= 0) {
            UARTFlushRx();
            return;
        }
    }
}
