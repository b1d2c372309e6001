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

void pump_dialogue()
{
    uprintf("\r\nSBE pump will run and must be immersed at start time!\r\n");
    uprintf(
        "\r\n Delayed start feature is disabled... Next Brackwell release should have it, feedback on delay "
        "parm entry is requested. \r\n");

    sys_data.test_mode = 0;
    if (yesOrNoMenuChoice(
            "\r\n\r\n    Pump Test Mode ([Y] allows testing without activating pump)? (Y/N) [N]? ", 0) != 0) {
        uprintf("\r\nPump test mode active\r\n");
        sys_data.test_mode = 1;
    }

    sys_data.start_pump_time = 0;
    sys_samp.start_pump_cntdown = 0;
    if (yesOrNoMenuChoice("\r\n\r\n    Enter pump delayed start? (Y/N) [N]? ", 0) == 0) {
        sys_data.start_pump_time = 0;
        return;
    }
    if (yesOrNoMenuChoice("\r\n\r\n    Pump start delay entry in Minutes (Y) or DateTime (N)? (Y/N) [Y]? ",
                          1) != 0) {
        uprintf("\r\nEnter delay [%u] min: ", 0u);
        char entry[5];
        getUserInput(entry, sizeof entry);
        unsigned minutes = 0;
        if (!parse_unsigned(entry, &minutes)) {
            return;
        }
        sys_data.start_pump_time = HibernateRTCGet() + minutes * 60;
        sys_samp.start_pump_cntdown = minutes * 60;
        uprintf("\r\nPump start delay is %d minutes, pump starts at ", static_cast<int>(minutes));
        print_time_t_Time(sys_data.start_pump_time);
    } else {
        const uint32_t start = getDateAndTime();
        if (start == 0) {
            return;
        }
        uprintf("\r\nPump will start at: ");
        print_time_t_Time(start);
        uprintf(sys_data.GMT != 0 ? " GMT" : " Local");
        sys_data.start_pump_time = start;
        sys_samp.start_pump_cntdown = start - HibernateRTCGet();
        uprintf("\r\nPump delay %d minutes\r\n", static_cast<int>(sys_samp.start_pump_cntdown / 60));
    }
}

void deploy_start()
{
    const uint32_t current_time = HibernateRTCGet();
    sys_samp.nextWakeUp = current_time;
    sys_data.deploy_time = current_time + 1;
    pump_and_sample_start();

    if (sys_data.pump1_ontime != 0) {
        pump_dialogue();
    }

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
    if (wokebyserialFlg == 0) {
        pump_and_sample(1, 1);
        if (sys_samp.state != DEPLOYED) {
            // The sample ended the deployment (low battery) and its sleep
            // could not store the records: do not resume it.
            return;
        }
    }
    compute_nextWakeUp();
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
    const uint32_t period = sys_data.sampling_period;
    if (period == 0) {
        // Not a timed deployment: never loop on a zero step.
        sys_samp.nextWakeUp = HibernateRTCGet();
    } else if (sys_data.sample_aligned == 0) {
        sys_samp.nextWakeUp += period;
    } else {
        const uint32_t now = HibernateRTCGet();
        uint32_t next = now - now % SECONDS_PER_HOUR;
        do {
            next += period;
        } while (next < now);
        sys_samp.nextWakeUp = next;
    }
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
