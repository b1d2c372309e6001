// CTD driver, Aanderaa 5860 conductivity sensor: the smart-sensor power-up
// handshake ('%', CR LF, '!'), "do sample", reply collection, parse of the
// numeric reply, operator pass-through with its set-up guide, analyzer.
#include "board/board_util.h"
#include "instruments/aanderaa.h"
#include "instruments/ctd_base.h"
#include "instruments/instrument_text.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"

#include <cmath>
#include <cstdio>

namespace {

const char* const AAND_NO_BANG = "CTD not responding with Aanderaa ! after crlf following %";
const char* const AAND_NO_REPLY = "CTD not responding with sample string after do sample";
const char* const AAND_GAP =
    "CTD driver Err: inter-character delay exceeded 50msec receiving do_sample string";
const char* const AAND_OVERFLOW = "CTD driver Err: do_sample string exceeds buf size";
const char* const AAND_UNPARSED =
    "CTD Err: Aanderaa 5860 reply is not numeric, check its setup (enable text off)";

// The instrument maker's passkeys for user-level and protected settings.
const char* const PASSKEY_USER = "1000";
const char* const PASSKEY_PROTECTED = "1";

uint32_t tick_now()
{
    return static_cast<uint32_t>(Timer_10ms(0));
}

// The CTD port, for the shared handshake.
struct CtdPort {
    static int avail() { return ctd_rxBytesAvail(); }
    static unsigned char getc() { return ctd_getc(); }
    static void send(const char* bytes, uint32_t len) { ctd_send(bytes, len); }
};

// State 4: '%' within 2.5 s of power-on, answered with CR LF; then '!'
// within 2 s (waited for here, the first byte after CR LF), answered with
// the command.
int aand_handshake()
{
    switch (aand_look<CtdPort>(ctd, '%', CTD_AAND_PCT_TICKS)) {
    case AandLook::Delimiter: {
        aand_answer_percent<CtdPort>(ctd);
        uint32_t waited = wait_ctdRx(CTD_AAND_BANG_TICKS);
        if (waited < CTD_AAND_BANG_TICKS && ctd_rxBytesAvail() > 0 && ctd_getc() == '!') {
            aand_answer_bang<CtdPort>(ctd);
            return ST_CTD_AAND_RX;
        }
        if (sys_data.diag != 0) {
            uprintf("CTD Err: did not receive ! after crlf following %%\r\n");
        }
        return ctd_fail(AAND_NO_BANG);
    }
    case AandLook::TimedOut: {
        if (sys_data.diag != 0) {
            uprintf("\r\nNo CTD response in 2.5sec, statemachine pumping too slow or instrument not "
                    "connected\r\n");
        }
        char text[64];
        std::snprintf(text, sizeof text, "CTD not responding with Aanderaa %% then ! after powerup");
        return ctd_fail(text);
    }
    default:
        return ST_CTD_PWR_RESP;
    }
}

// State 5: waits for the first reply byte, then reads the whole reply in
// this one call, each byte within 50 ms of the one before, until '#'.
int aand_collect()
{
    ctd.new_tick10ms = tick_now();
    if (ctd_rxBytesAvail() == 0) {
        if (ctd.new_tick10ms - ctd.old_tick10ms >= CTD_AAND_REPLY_TICKS) {
            return ctd_fail(AAND_NO_REPLY);
        }
        platform_idle();
        return ST_CTD_AAND_RX;
    }
    ctd.old_tick10ms = tick_now();
    for (;;) {
        uint32_t waited = wait_ctdRx(CTD_AAND_GAP_TICKS);
        if (waited >= CTD_AAND_GAP_TICKS || ctd_rxBytesAvail() == 0) {
            if (sys_data.diag != 0) {
                uprintf("\r\nDEBUG: inter-character delay exceeded 50msec receiving do_sample string\r\n");
            }
            return ctd_fail(AAND_GAP);
        }
        unsigned char c = ctd_getc();
        if (c == '\r') {
            c = '\0';
        }
        if (c == '#') {
            instrument_text_end(ctd.buf, ctd.bufIndx);
            bool parsed = ctd_Aand5860_parseData();
            ctd_close();
            ctd.state = parsed ? 0 : -1;
            return 0;
        }
        ctd.buf[ctd.bufIndx++] = static_cast<char>(c);
        if (ctd.bufIndx >= sizeof ctd.buf) {
            ctd.bufIndx = INSTRUMENT_TEXT_MAX;
            if (sys_data.diag != 0) {
                uprintf("\r\nDEBUG: error in ctd driver bufIndx exceeds buf size, ctd_base\r\n");
            }
            return ctd_fail(AAND_OVERFLOW);
        }
    }
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

int ctd_Aand5860_step(int ctdState)
{
    return ctdState == ST_CTD_PWR_RESP ? aand_handshake() : aand_collect();
}

// Product number, serial number, conductivity mS/cm, temperature degrees C,
// salinity PSU, density kg/m3, sound speed m/s; any whitespace separates.
bool ctd_Aand5860_parseData()
{
    unsigned int product = 0;
    unsigned int serial = 0;
    float cond = 0.0f;
    float temp = 0.0f;
    float sal = 0.0f;
    float density = 0.0f;
    float sound = 0.0f;
    int n =
        std::sscanf(ctd.buf, "%u %u %f %f %f %f %f", &product, &serial, &cond, &temp, &sal, &density, &sound);
    if (n == 7 && std::isfinite(cond) && std::isfinite(temp) && std::isfinite(sal)) {
        ctd.condo = cond;
        ctd.tempC = temp;
        ctd.salt = sal;
        ctd_use_salinity(sal);
        return true;
    }
    uprintf("\r\nError:  sscanf for parsing Aanderaa 5860 does not return 7 args.  ctd.type = %u.  TempC and "
            "salt are "
            "0.0\r\n",
            ctd.type);
    uprintf("\r\nCheck setup of Aanderaa 5860, enable derived, raw, etc.   To Fix, use Test Menu, "
            "Communicate with "
            "Instrument\r\n");
    ctd.condo = 0.0f;
    ctd.tempC = 0.0f;
    ctd.salt = 0.0f;
    // The external pH of this sample uses the configured salinity, and the
    // record's CTD column says that the reply was not understood.
    sys_samp.sensor_sal = sys_data.default_sal;
    instrument_text_set(ctd.buf, AAND_UNPARSED);
    return false;
}

void ctd_Aand5860_comm_test()
{
    uprintf("\r\nNote: smart sensor mode, disable data descriptor text, set flow control to none \r\n\r\n");
    uprintf("With enable text(1), output has field descriptors and units:\r\n");
    uprintf("do sample\r\n");
    uprintf("MEASUREMENT     5860    29      Conductivity[mS/cm]     -0.000  Temperature[Deg.C]      16.021  "
            "Salinity[PSU]   0.008   Density[kg/m3]  998.947 Soundspeed[m/s] 1469.494\r\n\r\n");
    uprintf("\r\n\r\nCommand procedure to setup Aanderaa Conductivty 5860 for numeric output:\r\n\r\n");
    print_command_group(PASSKEY_USER, "set mode(smart sensor terminal)\r\n",
                        "set enable polled mode(yes)\r\n");
    print_command_group(PASSKEY_USER, "set enable text(no)\r\n", nullptr);
    print_command_group(PASSKEY_PROTECTED, "set Flow Control(none)\r\n", nullptr);
    uprintf("do sample\r\n");
    uprintf(
        "\r\nThis should return a sample: \t5860\t29\t-0.003\t16.892\t0.009\t998.802\t1472.435\t\r\n\r\n");
    uprintf("\r\n\r\n*Press CTRL-X to stop communicating with the Conductivity instrument.*\r\n\r\n");
    ctd_init();
    ctd_open();
    ctd_pass_through(true);
    ctd_close();
}

void ctd_aanderaa_serial_analyzer()
{
    uprintf("ctd serial analyzer, bytes and times  Ctrl-X to quit\r\n");
    ctd_analyzer_run(aand_analyzer_answer<CtdPort>);
}
