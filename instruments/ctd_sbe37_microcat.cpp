// CTD driver, SBE37 MicroCat: wake-up and "ts" command, reply collection,
// parse of the comma-separated reply, operator pass-through and analyzer.
#include "board/board_util.h"
#include "instruments/ctd_base.h"
#include "instruments/instrument_text.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"

#include <cmath>
#include <cstdio>

namespace {

const char* const SBE37_NOT_RESPONDING =
    "CTD not responding with SBE37 data, check connection, make sure data config is SBE37";
const char* const SBE37_OVERFLOW = "ST7: error in ctd driver bufIndx exceeds buf size, ctd";
const char* const SBE37_UNPARSED =
    "CTD Err: SBE37 reply is not temperature, conductivity, salinity, date, time";

bool s_analyzer_seen_s;

uint32_t tick_now()
{
    return static_cast<uint32_t>(Timer_10ms(0));
}

// State 2: after 900 ms of power, a carriage return wakes the instrument and
// "ts" asks for one sample; the echo is discarded.
int sbe37_command()
{
    ctd.new_tick10ms = tick_now();
    if (ctd.new_tick10ms - ctd.old_tick10ms < CTD_SBE37_WAKE_TICKS) {
        platform_idle();
        return ST_CTD_SBE37_CMD;
    }
    ctd_send("\r", 1);
    ms_delay(20);
    ctd_send("ts\r", 3);
    ms_delay(20);
    ctd_flushRx();
    ctd.old_tick10ms = tick_now();
    return ST_CTD_SBE37_RX;
}

// State 3: at most one byte per step, until a line feed or '<'.
int sbe37_collect()
{
    ctd.new_tick10ms = tick_now();
    bool got = false;
    if (ctd_rxBytesAvail() > 0) {
        got = true;
        unsigned char c = ctd_getc();
        if (c == ',') {
            c = '\t';
        } else if (c == '\r') {
            c = '\0';
        }
        if (c == '<' || c == '\n') {
            ctd_close();
            instrument_text_end(ctd.buf, ctd.bufIndx);
            bool parsed = ctd_microCat_parseData();
            wait_consoleTx();
            ctd.state = parsed ? 0 : -1;
            return 0;
        }
        ctd.buf[ctd.bufIndx++] = static_cast<char>(c);
        if (ctd.bufIndx >= sizeof ctd.buf) {
            ctd.bufIndx = INSTRUMENT_TEXT_MAX;
            if (sys_data.diag != 0) {
                uprintf("\r\nST7: error in ctd driver bufIndx exceeds buf size, ctd\r\n");
            }
            ctd.type = 0;
            return ctd_fail(SBE37_OVERFLOW);
        }
    }
    if (ctd.new_tick10ms - ctd.old_tick10ms >= CTD_SBE37_REPLY_TICKS) {
        return ctd_fail(SBE37_NOT_RESPONDING);
    }
    if (!got) {
        platform_idle();
    }
    return ST_CTD_SBE37_RX;
}

void sbe37_react(int c)
{
    if (c < 0) {
        s_analyzer_seen_s = false;
    } else if (c == 'S') {
        s_analyzer_seen_s = true;
        uprintf("TX: crlf \r\n");
        ctd_send("\r\n", 2);
    } else if (c == '\n' && s_analyzer_seen_s) {
        s_analyzer_seen_s = false;
        uprintf("TX: ts cr \r\n");
        ctd_send("ts\r", 3);
    }
}

} // namespace

int ctd_microCat_step(int ctdState)
{
    return ctdState == ST_CTD_SBE37_CMD ? sbe37_command() : sbe37_collect();
}

// "tttt.tttt, cc.ccccc, sss.ssss, dd mmm yyyy, hh:mm:ss" with the commas
// already turned into tabs: exactly five fields, the first three whole
// numbers (temperature, conductivity, salinity), then the date and the time
// (not empty; read and discarded).  A reply of another shape - salinity
// output off (four fields), pressure on (six), an empty field - is no
// reading: taking numbers by position from it would store the wrong
// quantity as salinity.
bool ctd_microCat_parseData()
{
    float value[3] = {0.0f, 0.0f, 0.0f};
    bool ok = true;
    int field = 0;
    const char* start = ctd.buf;
    for (;;) {
        const char* end = start;
        while (*end != '\0' && *end != '\t') {
            ++end;
        }
        if (field < 3) {
            ok = ok && ctd_number_field(start, end, &value[field]);
        } else if (field < 5) {
            ok = ok && !ctd_blank_field(start, end);
        }
        ++field;
        if (*end == '\0') {
            break;
        }
        start = end + 1;
    }
    if (ok && field == 5) {
        ctd.tempC = value[0];
        ctd.salt = value[2];
        ctd_use_salinity(value[2]);
        return true;
    }
    uprintf("\r\nError:  sscanf for parsing MicroCat does not return 5 args.  ctd.state = %d.  TempC and "
            "salt are "
            "0.0\r\n",
            ctd.state);
    uprintf("%s\r\n", ctd.buf);
    ctd.tempC = 0.0f;
    ctd.salt = 0.0f;
    // The external pH of this sample uses the configured salinity, and the
    // record's CTD column says that the reply was not understood.
    sys_samp.sensor_sal = sys_data.default_sal;
    instrument_text_set(ctd.buf, SBE37_UNPARSED);
    return false;
}

void ctd_microCat_comm_test()
{
    UARTEchoSet(false);
    uprintf("\r\n\r\n*Press CTRL-X to stop communicating with the SBE37 MicroCAT.*\r\n\r\n");
    ctd_init();
    ctd_open();
    ctd_pass_through(false);
    ctd_close();
    UARTEchoSet(true);
}

void ctd_microcat_serial_analyzer()
{
    uprintf("ctd microcat serial analyzer, bytes and times  Ctrl-X to quit\r\n");
    ctd_analyzer_run(sbe37_react);
}
