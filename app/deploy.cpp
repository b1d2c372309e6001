// Deployment cycle (start dialogue, one step per wake, next wake time) and
// the deployed command interpreter.
#include "app/deploy.h"

#include "app/main.h"
#include "app/sleep.h"
#include "board/board_util.h"
#include "operator/config.h"
#include "operator/config_headers.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "serial/uartstdio.h"
#include "storage/microsd.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t SECONDS_PER_HOUR = 3600;
constexpr int NOTE_TIMEOUT_S = 30;
constexpr int COMMAND_LINE_SIZE = 81;
// Window for the "sl" that follows "ss".
constexpr int SL_WINDOW_S = 6;
constexpr UINT GDATA_CHUNK = 80;
// Longest wait for room in the console transmit ring during "gdata" (a full
// ring drains in well under a second at 115200 baud).
constexpr unsigned GDATA_TX_WAIT_MS = 10000;

// Parses an unsigned decimal number as "%u" would (leading blanks, then
// digits; whatever follows the digits is ignored).
bool parse_unsigned(const char* text, unsigned* value)
{
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    if (*text < '0' || *text > '9') {
        return false;
    }
    unsigned v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + static_cast<unsigned>(*text - '0');
    }
    *value = v;
    return true;
}

// --- Settings a deployment depends on -----------------------------------------

// Longest sampling period the configuration menu gives, seconds; a damaged
// period found at a wake is set to it.
constexpr uint32_t PERIOD_MAX_S = 3600;
// Longest period a deployment starts with (set through the record editor or
// the board tool): its schedule is sound up to a day and more; above a day
// it is taken for a damaged value.
constexpr uint32_t PERIOD_START_MAX_S = 86400;

struct FloatSetting {
    const char* name;
    double value;
    const char* fix;
};

// Checks the stored settings a deployment depends on; prints a line for
// each that cannot work, naming the setting and where to set it.  True
// when all can work.
bool deployment_settings_usable()
{
    int bad = 0;
    auto report = [&bad](const char* text, auto... args) {
        if (bad++ == 0) {
            uprintf("\r\n\r\nDeployment not started: these settings cannot work\r\n");
        }
        uprintf("  ");
        uprintf(text, args...);
        uprintf("\r\n");
    };
    if (sys_data.sampling_period > PERIOD_START_MAX_S) {
        report("sampling_period %u s is above a day (86400 s): set it with 1-Config, 3 (Deployment "
               "Parameters)",
               static_cast<unsigned>(sys_data.sampling_period));
    }
    if (sys_data.pump1_ontime != 0 && sys_data.pump_seq_type != 1 && sys_data.pump_seq_type != 2) {
        report("pump_seq_type %u is not 1 (single) or 2 (two pumps): set it with 1-Config, P (Pump Sequencer "
               "Setup)",
               static_cast<unsigned>(sys_data.pump_seq_type));
    }
    const unsigned ctd = sys_data.data_cfg[CFG_CTD];
    if (ctd > 2) {
        report("data_cfg[CFG_CTD] %u is not 0 (none), 1 (SBE37) or 2 (Aanderaa 5860): set it with 1-Config, "
               "7 (Config Data Fields), W",
               ctd);
    }
    const char* calib = "1-Config, 4 (pH Sensor Calibration Coefficients)";
    const FloatSetting floats[] = {
        {"low_batt_volt", sys_data.low_batt_volt, "1-Config, 3 (Deployment Parameters)"},
        {"TCOffset", sys_data.TCOffset, calib},
        {"k0int", sys_data.k0int, calib},
        {"k0ext", sys_data.k0ext, calib},
        {"k2int", sys_data.k2int, calib},
        {"k2ext", sys_data.k2ext, calib},
        {"default_sal", sys_data.default_sal, calib},
        {"quadTherm_c0", sys_data.quadTherm_c0, calib},
        {"quadTherm_c1", sys_data.quadTherm_c1, calib},
        {"quadTherm_c2", sys_data.quadTherm_c2, calib},
        {"quadTherm_c3", sys_data.quadTherm_c3, calib},
        {"shTherm_A", sys_data.shTherm_A, calib},
        {"shTherm_B", sys_data.shTherm_B, calib},
        {"shTherm_C", sys_data.shTherm_C, calib},
    };
    for (const FloatSetting& f : floats) {
        if (!std::isfinite(f.value)) {
            report("%s is not a finite number: set it with %s", f.name, f.fix);
        }
    }
    if (sys_data.app_cfg[APPCFG_MICROSD_ENABLE] == 1 &&
        !data_file_name_valid(sys_data.fileName, sizeof sys_data.fileName)) {
        report("fileName \"%.*s\" is not a valid 8.3 data file name (not Error.txt): set it with 1-Config, 2 "
               "(Change File Name)",
               static_cast<int>(sizeof sys_data.fileName), sys_data.fileName);
    }
    return bad == 0;
}

// A wake of a running deployment that meets stored values no deployment
// start accepts: what can be put right is, and the error file says so.
void repair_running_deployment()
{
    char line[100];
    if (sys_data.sampling_period > PERIOD_START_MAX_S) {
        std::snprintf(line, sizeof line, "sampling_period %u above a day: set to 3600",
                      static_cast<unsigned>(sys_data.sampling_period));
        sys_data.sampling_period = PERIOD_MAX_S;
        uprintf("\r\n%s\r\n", line);
        error_store(line);
    }
}

// The pump questions.  The answers take effect only when the dialogue is
// over: left idle, it ends in the main menu's sleep with nothing changed.
void pump_dialogue()
{
    uprintf("\r\nSBE pump will run and must be immersed at start time!\r\n");
    uprintf(
        "\r\n Delayed start feature is disabled... Next Brackwell release should have it, feedback on delay "
        "parm entry is requested. \r\n");

    uint32_t test_mode = 0;
    if (yesOrNoMenuChoice(
            "\r\n\r\n    Pump Test Mode ([Y] allows testing without activating pump)? (Y/N) [N]? ", 0) != 0) {
        uprintf("\r\nPump test mode active\r\n");
        test_mode = 1;
    }

    uint32_t start_time = 0;
    uint32_t cntdown = 0;
    if (yesOrNoMenuChoice("\r\n\r\n    Enter pump delayed start? (Y/N) [N]? ", 0) != 0) {
        if (yesOrNoMenuChoice(
                "\r\n\r\n    Pump start delay entry in Minutes (Y) or DateTime (N)? (Y/N) [Y]? ", 1) != 0) {
            uprintf("\r\nEnter delay [%u] min: ", 0u);
            char entry[5];
            getUserInput(entry, sizeof entry);
            unsigned minutes = 0;
            if (parse_unsigned(entry, &minutes)) {
                start_time = HibernateRTCGet() + minutes * 60;
                cntdown = minutes * 60;
                uprintf("\r\nPump start delay is %d minutes, pump starts at ", static_cast<int>(minutes));
                print_time_t_Time(start_time);
            }
        } else {
            const uint32_t start = getDateAndTime();
            if (start != 0) {
                uprintf("\r\nPump will start at: ");
                print_time_t_Time(start);
                uprintf(sys_data.GMT != 0 ? " GMT" : " Local");
                start_time = start;
                cntdown = start - HibernateRTCGet();
                uprintf("\r\nPump delay %d minutes\r\n", static_cast<int>(cntdown / 60));
            }
        }
    }
    sys_data.test_mode = test_mode;
    sys_data.start_pump_time = start_time;
    sys_samp.start_pump_cntdown = cntdown;
}

void deploy_start()
{
    if (!deployment_settings_usable()) {
        return;
    }
    if (sys_data.pump1_ontime != 0) {
        pump_dialogue();
    }

    // The schedule and the deploy time start when the operator has answered
    // the pump questions, however long they took.
    const uint32_t current_time = HibernateRTCGet();
    sys_samp.nextWakeUp = current_time;
    sys_data.deploy_time = current_time + 1;
    pump_and_sample_start();

    enter_deployment_note(NOTE_TIMEOUT_S);

    sys_samp.current_sample = 0;
    sys_samp.state = DEPLOYED;
    if (sys_data.sampling_period == 0) {
        uprintf("\r\n\r\nDeployed in polled mode, space to wake, then ts ...\r\n\r\n");
        sys_samp.state = COMMAND;
    }

    if (print_write_metadata_header(current_time, 1, 1) != 0) {
        sys_samp.state = IDLE;
        storeSysSampFRAMVariables();
        uprintf("\r\n\r\nFile system error, check SD Card, sleeping in IDLE state\r\n");
        wait_consoleTx();
        sleep(IDLE, 0);
        return;
    }

    uprintf("\r\n\r\nStarting deployment...       Hit a key, then type 'stop' to end deployment.");
    if (sys_data.pump1_ontime != 0) {
        uprintf("  Ctrl-X <Enter> to terminate pump cycle");
    }
    uprintf("\r\n");

    print_write_data_header(1, 1);
    wait_consoleTx();
    storeSysSampFRAMVariables();

    if (sys_samp.state == COMMAND) {
        sleep(COMMAND, 0);
    } else {
        sleep(DEPLOYED, sys_samp.nextWakeUp);
    }
}

void deploy_timed()
{
    repair_running_deployment();
    if (wokebyserialFlg == 0) {
        pump_and_sample(1, 1);
        if (sys_samp.state != DEPLOYED) {
            // The sample ended the deployment (low battery) and its sleep
            // could not store the records: do not resume it.
            return;
        }
        compute_nextWakeUp();
    } else if (sys_data.sample_aligned != 0) {
        compute_nextWakeUp();
    }
    // After a console wake in a timed schedule the pending wake stays where
    // it was: a host that checks on the board every period cancels no
    // sample.  Should the exchange have outlasted it, the sleep wakes 2 s
    // later and the missed slots are caught up as after an overrun.
    sleep(DEPLOYED, sys_samp.nextWakeUp);
}

bool starts_with(const char* line, const char* word)
{
    return std::strncmp(line, word, std::strlen(word)) == 0;
}

// Waits (bounded) until the console transmit ring has room for a chunk.
void wait_tx_room(int bytes)
{
    for (unsigned ms = 0; UARTTxBytesFree() <= bytes && ms < GDATA_TX_WAIT_MS; ++ms) {
        ms_delay(1);
    }
}

// Sends the data logged since the last transfer, from next_gdata_fptr to the
// end of the data file; a key ends it at the end of the current line.
void gdata_transfer()
{
    UARTEchoSet(false);
    char name[sizeof sys_data.fileName + 1];
    std::memcpy(name, sys_data.fileName, sizeof sys_data.fileName);
    name[sizeof sys_data.fileName] = '\0';

    FIL fil{};
    FRESULT fr = f_open(&fil, name, FA_READ | FA_OPEN_ALWAYS);
    if (fr != FR_OK) {
        // Nothing can be read: the saved position stays as it was.
        uprintf("gdata f_open error: %s\r\n", StringFromFresult(fr));
        UARTEchoSet(true);
        return;
    }
    fr = f_lseek(&fil, sys_samp.next_gdata_fptr);
    if (fr != FR_OK) {
        uprintf("gdata f_lseek error: %s\r\n", StringFromFresult(fr));
    }

    char chunk[GDATA_CHUNK + 1];
    bool key_hit = false;
    // Where the next transfer starts: the end of what was sent.
    FSIZE_t sent_end = 0;
    for (;;) {
        UINT got = 0;
        fr = f_read(&fil, chunk, GDATA_CHUNK, &got);
        if (fr != FR_OK) {
            uprintf("gdata f_read error: %s\r\n", StringFromFresult(fr));
        }
        chunk[got] = '\0';
        wait_tx_room(static_cast<int>(GDATA_CHUNK));
        UARTwrite(chunk, static_cast<uint32_t>(std::strlen(chunk)));
        if (kbhit() != 0) {
            key_hit = true;
            break;
        }
        if (got < GDATA_CHUNK) {
            break;
        }
    }
    if (key_hit) {
        // Finish the line that is being sent.
        for (;;) {
            UINT got = 0;
            fr = f_read(&fil, chunk, GDATA_CHUNK, &got);
            if (fr != FR_OK) {
                uprintf("gdata f_read error: %s\r\n", StringFromFresult(fr));
            }
            bool line_end = false;
            for (UINT i = 0; i < got; ++i) {
                wait_tx_room(1);
                UARTwrite(&chunk[i], 1);
                if (chunk[i] == '\n') {
                    line_end = true;
                    sent_end = f_tell(&fil) - (got - (i + 1));
                    break;
                }
            }
            if (line_end || got < GDATA_CHUNK) {
                break;
            }
        }
    }
    // After a key the rest of the last chunk read was not sent: the next
    // transfer starts after the line that ended this one.
    sys_samp.next_gdata_fptr = static_cast<uint32_t>(key_hit && sent_end != 0 ? sent_end : f_tell(&fil));
    f_close(&fil);
    UARTEchoSet(true);
}

// "ss": a silent sample, then "sl" within the window sends it.  Returns true
// when the exchange is over (resume), false to go on with the next command.
bool silent_sample()
{
    UARTFlushRx();
    pump_and_sample(0, 1);
    char line[COMMAND_LINE_SIZE];
    if (getUserInputTimeLimit(line, sizeof line, SL_WINDOW_S) < 0) {
        if (sys_data.output == VERBOSE) {
            uprintf("\r\n\r\nNo command, resuming deployment...");
        }
        return true;
    }
    if (starts_with(line, "sl")) {
        print_sampBuf();
        wait_consoleTx();
        return true;
    }
    uprintf("\r\nexpected sl, received %s\r\n", line);
    return false;
}

} // namespace

void deploy(int state)
{
    switch (state) {
    case START:
        deploy_start();
        break;
    case DEPLOYED:
        deploy_timed();
        break;
    case COMMAND:
        if (exec_command(10) == 1) {
            sleep(COMMAND, 0);
        }
        break;
    default:
        uprintf("\r\n\r\nDeploy() Should NOT be IDLE, check arg error\r\n\r\n");
        wait_consoleTx();
        sleep(IDLE, 0);
        break;
    }
}

uint32_t compute_nextWakeUp()
{
    // A period above a day is a damaged value: the schedule is computed
    // with at most a day, in 64 bits, so that no sum wraps.
    uint64_t period = sys_data.sampling_period;
    if (period > PERIOD_START_MAX_S) {
        period = PERIOD_START_MAX_S;
    }
    const uint64_t now = HibernateRTCGet();
    uint64_t next = now;
    if (period == 0) {
        // Not a timed deployment: never loop on a zero step.
    } else if (sys_data.sample_aligned == 0) {
        next = static_cast<uint64_t>(sys_samp.nextWakeUp) + period;
        // A schedule more than a period ahead of the clock is not one this
        // deployment made: it starts again from now.
        if (next > now + period) {
            next = now + period;
        }
    } else {
        const uint64_t hour = now - now % SECONDS_PER_HOUR;
        // The first hour + k * period, k >= 1, not earlier than now.
        uint64_t k = (now - hour + period - 1) / period;
        if (k == 0) {
            k = 1;
        }
        next = hour + k * period;
    }
    sys_samp.nextWakeUp = next > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(next);
    return sys_samp.nextWakeUp;
}

void state_dump()
{
    dbg_flag = 1;
    dbg_printf("\r\n\r\n");
    switch (sys_samp.state) {
    case DEPLOYED:
        dbg_printf("DEPLOYED\r\n");
        break;
    case COMMAND:
        dbg_printf("COMMAND\r\n");
        break;
    case IDLE:
        dbg_printf("IDLE\r\n");
        break;
    default:
        break;
    }
    dbg_printf("now %lu, next wake %lu, sampling period %lu\r\n",
               static_cast<unsigned long>(HibernateRTCGet()), static_cast<unsigned long>(sys_samp.nextWakeUp),
               static_cast<unsigned long>(sys_data.sampling_period));
}

uint32_t exec_command(uint32_t timeout)
{
    int pumponFlg = 0;
    if (sys_data.app_cfg[APPCFG_DEPLOY_UARTECHO] == 0) {
        UARTEchoSet(false);
    }
    char line[COMMAND_LINE_SIZE];
    for (;;) {
        if (sys_data.output == VERBOSE || sys_data.test_mode != 0) {
            uprintf("\r\nEnter command (ts, ss, gh, gm, gdata, pumpon, pumpoff, stop): ");
        }
        UARTFlushRx();
        if (getUserInputTimeLimit(line, sizeof line, static_cast<int>(timeout)) < 0) {
            if (sys_data.output == VERBOSE) {
                uprintf("\r\n\r\nNo command, resuming...");
            }
            if (pumponFlg == 1) {
                pwr_aux_pwr1_off();
                uprintf("AUX-PWR1 OFF (no serial activity after %u sec, sleeping)\r\n",
                        static_cast<unsigned>(timeout));
            }
            return 1;
        }

        if (starts_with(line, "gdata") && sys_data.app_cfg[APPCFG_MICROSD_ENABLE] == 1) {
            gdata_transfer();
        } else if (starts_with(line, "ts")) {
            pump_and_sample(1, 1);
            return 1;
        } else if (starts_with(line, "ss")) {
            if (silent_sample()) {
                return 1;
            }
        } else if (starts_with(line, "gh")) {
            get_header();
            return 1;
        } else if (starts_with(line, "gm")) {
            print_metadata_header(HibernateRTCGet());
            return 1;
        } else if (starts_with(line, "pumpon")) {
            pumponFlg = 1;
            uprintf("AUX-PWR1 ON\r\n");
            pwr_aux_pwr1_on();
        } else if (starts_with(line, "pumpoff")) {
            pumponFlg = 0;
            uprintf("AUX-PWR1 OFF\r\n");
            pwr_aux_pwr1_off();
        } else if (starts_with(line, "stop") || starts_with(line, "exit")) {
            sys_samp.state = IDLE;
            UARTEchoSet(true);
            storeSysSampFRAMVariables();
            return 0;
        } else if (starts_with(line, "dump")) {
            state_dump();
        } else if (starts_with(line, "go") || starts_with(line, "resume")) {
            return 1;
        } else {
            if (sys_data.output == VERBOSE) {
                uprintf("\r\nInvalid command");
            }
            uprintf("NAK\r\n");
        }
        dbg_printf("\r\nbottom of command loop\r\n");
    }
}
