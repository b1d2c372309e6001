// Pump sequencer: the pump phase before each sample (one pump before every
// sample, or two pumps taking turns), the delayed pump start, and the
// sampling test loops.
#include "board/board_util.h"
#include "board/rtc_calendar.h"
#include "operator/config_headers.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "sampling/sample.h"
#include "serial/uartstdio.h"
#include "storage/microsd.h"

#include <cstdio>
#include <ctime>

char pumpBuf[PUMP_BUF_SIZE];

namespace {

constexpr unsigned char KEY_CTRL_X = 0x18;
constexpr unsigned char KEY_CR = 0x0D;
// Pause after every sequencer step; the on-time of a two-pump phase is
// resolved to this.
constexpr unsigned STEP_PAUSE_MS = 250;
// Polling interval of the single-pump phase.
constexpr unsigned SINGLE_POLL_MS = 100;

// Deadline of the running two-pump phase on the 1 ms counter.
uint32_t gPumpTimeout;
// The running two-pump phase was ended by a key.
bool s_cut_short;

uint32_t now_ms()
{
    return static_cast<uint32_t>(Timer_1ms(0));
}

bool verbose()
{
    return sys_data.output == VERBOSE;
}

bool test_mode()
{
    return sys_data.test_mode == 1;
}

void store_state(int state)
{
    sys_samp.pump_seq_state = static_cast<uint32_t>(state);
}

bool ends_pumping(unsigned char key)
{
    return key == KEY_CTRL_X || key == KEY_CR;
}

int single_pump(int printFlg, int writeFlg)
{
    if (test_mode()) {
        uprintf("\r\nPump on (test mode)\r\n");
    } else {
        pump1_on();
    }
    led_sampling_on();

    const uint32_t deadline = now_ms() + sys_data.pump1_ontime * 1000u;
    while (deadline > now_ms()) {
        ms_delay(SINGLE_POLL_MS);
        if (UARTRxBytesAvail() > 0) {
            const unsigned char key = UARTgetc();
            if (ends_pumping(key)) {
                uprintf("Pump cycle ended early due to 0x%02x / %u key\r\n", key, key);
                break;
            }
            uprintf("Pump cycle active, hit Ctrl-X then <Enter> to terminate cycle\r\n");
            if (verbose()) {
                uprintf("\r\nPumping before sample, please wait...");
            }
        }
    }

    if (test_mode()) {
        uprintf("\r\nPump off (test mode)\r\n");
        uprintf("Pump off\r\n");
    } else {
        pump1_off();
    }
    get_sample(printFlg, writeFlg);
    store_state(ST_SEQ_DONE);
    return ST_SEQ_DONE;
}

void pump_start(int pump)
{
    if (test_mode()) {
        uprintf(pump == 1 ? "\r\nPump1 on (test mode)\r\n" : "\r\nPump2 on (test mode)\r\n");
    } else if (pump == 1) {
        pump1_on();
    } else {
        pump2_on();
    }
    led_sampling_on();
    const uint32_t ontime = pump == 1 ? sys_data.pump1_ontime : sys_data.pump2_ontime;
    gPumpTimeout = now_ms() + ontime * 1000u;
    s_cut_short = false;
}

// One step of a running two-pump phase; returns true when the phase is over
// and the sample was taken.
bool pump_run(int pump, int printFlg, int writeFlg)
{
    if (UARTRxBytesAvail() > 0) {
        const unsigned char key = UARTgetc();
        if (ends_pumping(key)) {
            uprintf(pump == 1 ? "Pump1 cycle ended early due to 0x%02x / %u key\r\n"
                              : "Pump2 cycle ended early due to 0x%02x / %u key\r\n",
                    key, key);
            s_cut_short = true;
        }
        if (verbose()) {
            uprintf("\r\nPumping before sample, please wait...");
        }
    }
    if (!s_cut_short && !(now_ms() > gPumpTimeout)) {
        return false;
    }

    uint32_t& cnt = pump == 1 ? sys_samp.pump1_cnt : sys_samp.pump2_cnt;
    const uint32_t cycles = pump == 1 ? sys_data.pump1_cycles : sys_data.pump2_cycles;
    cnt++;
    std::snprintf(pumpBuf, sizeof pumpBuf, pump == 1 ? "P1 %02d/%02d\t" : "P2 %02d/%02d\t",
                  static_cast<int>(cnt), static_cast<int>(cycles));
    if (pump == 1) {
        if (test_mode()) {
            uprintf("\r\nPump off (test mode)\r\n");
        } else {
            pump1_off();
        }
    } else {
        if (test_mode()) {
            uprintf("\r\nPump off (test mode)\r\n");
        }
        pump2_off();
    }
    get_sample(printFlg, writeFlg);
    if (cnt < cycles) {
        store_state(pump == 1 ? ST_SEQ_PUMP1_START : ST_SEQ_PUMP2_START);
    } else {
        sys_samp.pump1_cnt = 0;
        sys_samp.pump2_cnt = 0;
        store_state(pump == 1 ? ST_SEQ_PUMP2_START : ST_SEQ_PUMP1_START);
    }
    return true;
}

void print_clock_line(uint32_t t)
{
    char text[50];
    std::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S", rtc_localtime(t));
    uprintf("%s  ticks: %u\r\n", text, static_cast<unsigned>(t));
}

int two_pumps(int state, int printFlg, int writeFlg)
{
    switch (state) {
    case ST_SEQ_DONE:
        return ST_SEQ_DONE;
    case ST_SEQ_START: {
        sys_samp.pump1_cnt = 0;
        sys_samp.pump2_cnt = 0;
        const uint32_t now = HibernateRTCGet();
        if (sys_data.start_pump_time != 0 && sys_data.start_pump_time <= now) {
            print_clock_line(now);
        }
        store_state(ST_SEQ_PUMP1_START);
        return ST_SEQ_PUMP1_START;
    }
    case ST_SEQ_PUMP1_START:
        pump_start(1);
        store_state(ST_SEQ_PUMP1_START);
        return ST_SEQ_PUMP1_RUN;
    case ST_SEQ_PUMP1_RUN:
        return pump_run(1, printFlg, writeFlg) ? ST_SEQ_DONE : ST_SEQ_PUMP1_RUN;
    case ST_SEQ_PUMP2_START:
        pump_start(2);
        store_state(ST_SEQ_PUMP2_START);
        return ST_SEQ_PUMP2_RUN;
    case ST_SEQ_PUMP2_RUN:
        return pump_run(2, printFlg, writeFlg) ? ST_SEQ_DONE : ST_SEQ_PUMP2_RUN;
    case ST_SEQ_WAIT_TO_START: {
        int next = ST_SEQ_PUMP1_START;
        if (sys_samp.start_pump_cntdown > sys_data.sampling_period) {
            sys_samp.start_pump_cntdown -= sys_data.sampling_period;
            uprintf("%5d\b\b\b\b\b", static_cast<int>(sys_samp.start_pump_cntdown));
            if (sys_samp.start_pump_cntdown < sys_data.sampling_period) {
                if (test_mode()) {
                    uprintf("\r\nPump Start: ");
                    printCurrentTime();
                }
            } else {
                next = ST_SEQ_WAIT_TO_START;
            }
        }
        store_state(next);
        return next;
    }
    default:
        uprintf("ERROR: ST_SEQ hit the default switch statement");
        return ST_SEQ_DONE;
    }
}

void print_test_blocks()
{
    print_config_data_fields();
    print_data_header();
}

} // namespace

int pump_sequencer(int pump_seq_state, int printFlg, int writeFlg)
{
    if (sys_data.pump1_ontime == 0) {
        get_sample(printFlg, writeFlg);
        store_state(ST_SEQ_DONE);
        return ST_SEQ_DONE;
    }
    if (sys_data.pump_seq_type == 1) {
        return single_pump(printFlg, writeFlg);
    }
    if (sys_data.pump_seq_type == 2) {
        return two_pumps(pump_seq_state, printFlg, writeFlg);
    }
    return ST_SEQ_DONE;
}

namespace {

// A stored state no sequence leaves between wakes, or a pump type the menus
// never set, would take no sample at any wake: the sequence starts again
// (an unknown type runs as the single pump, the menu's own default), and
// the error file says so.
void repair_pump_sequence()
{
    if (sys_data.pump1_ontime == 0) {
        return;
    }
    char line[80];
    if (sys_data.pump_seq_type != 1 && sys_data.pump_seq_type != 2) {
        std::snprintf(line, sizeof line, "pump_seq_type %u is not 1 or 2: set to 1",
                      static_cast<unsigned>(sys_data.pump_seq_type));
        sys_data.pump_seq_type = 1;
        uprintf("\r\n%s\r\n", line);
        error_store(line);
    }
    if (sys_data.pump_seq_type != 2) {
        return;
    }
    switch (sys_samp.pump_seq_state) {
    case ST_SEQ_START:
    case ST_SEQ_PUMP1_START:
    case ST_SEQ_PUMP2_START:
    case ST_SEQ_WAIT_TO_START:
        return;
    default:
        break;
    }
    std::snprintf(line, sizeof line, "pump_seq_state %u is not a waiting state: pump sequence restarted",
                  static_cast<unsigned>(sys_samp.pump_seq_state));
    store_state(ST_SEQ_START);
    uprintf("\r\n%s\r\n", line);
    error_store(line);
}

} // namespace

int pump_and_sample(int printFlg, int writeFlg)
{
    repair_pump_sequence();
    int state = static_cast<int>(sys_samp.pump_seq_state);
    for (;;) {
        state = pump_sequencer(state, printFlg, writeFlg);
        ms_delay(STEP_PAUSE_MS);
        if (state == ST_SEQ_DONE) {
            if (test_mode()) {
                uprintf("\r\nPump is finished\r\n");
            }
            return ST_SEQ_DONE;
        }
        if (state == ST_SEQ_WAIT_TO_START) {
            uprintf("\r\nST_SEQ_WAIT_TO_START\r\n");
            return ST_SEQ_WAIT_TO_START;
        }
    }
}

void pump_and_sample_start()
{
    store_state(ST_SEQ_START);
}

void pump_var_init()
{
    std::snprintf(pumpBuf, sizeof pumpBuf, "PumpSeq=%02d\t", static_cast<int>(sys_data.pump_seq_type));
}

void test_get_sample_timing()
{
    print_test_blocks();
    get_sample(1, 0);
    sys_data.app_cfg[APPCFG_SAMPLING_DIAG] = 1;
    uprintf("\r\r\n ---  Sample Timing ---\r\r\n");
    get_sample(1, 0);
    sys_data.app_cfg[APPCFG_SAMPLING_DIAG] = 0;
}

void test_get_sample_loop()
{
    print_test_blocks();
    idle_activity();
    do {
        get_sample(1, 0);
        idle_poll();
    } while (kbhit() == 0);
}

void test_pump_and_sample_loop()
{
    print_test_blocks();
    if (sys_data.pump1_ontime != 0) {
        uprintf(
            "\r\r\nHit Ctrl-X to terminate pump cycle followed by any key to terminate sample loop\r\r\n");
    } else {
        uprintf("\r\r\nHit any key to terminate sample loop\r\r\n");
    }
    idle_activity();
    do {
        pump_and_sample(1, 0);
        idle_poll();
    } while (kbhit() == 0);
}

void test_pump_and_sample_timing()
{
    uprintf("Feature not available in this release (test_pump_and_sample_timing)\r\n");
}
