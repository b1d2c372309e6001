// Start-up routing, main loop and main menu.
#include "app/main.h"

#include "app/deploy.h"
#include "app/help.h"
#include "app/sleep.h"
#include "app/test.h"
#include "records/version.h"
#include "board/board_util.h"
#include "operator/config.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "serial/uartstdio.h"
#include "storage/file_shell.h"

#include <cstdio>
#include <cstring>

unsigned wokebyserialFlg;

namespace {

// Inactivity time-out of the file shell, seconds: as long as the
// configuration menu's, for an operator reading listings between commands.
constexpr uint32_t FILES_IDLE_S = 300;

// Reads the supply; true (and the voltage in *volts) when it is below the
// threshold, with the same 5 mV margin as the sample cycle.
bool supply_low(float* volts)
{
    *volts = read_vbat();
    return static_cast<double>(*volts) < static_cast<double>(sys_data.low_batt_volt) + 0.005;
}

void run_menu_selection(unsigned char key)
{
    switch (key) {
    case '1':
        configuration_menu();
        break;
    case '2':
        deploy(START);
        break;
    case '3':
        test_menu();
        break;
    case '4':
        sleep(IDLE, 0);
        break;
    case '5': {
        float fVbat;
        if (supply_low(&fVbat)) {
            uprintf("\r\n\r\nVoltage input is low (%.2fv < threshold %.2fv, avoid file operations!!!\r\n",
                    static_cast<double>(fVbat), static_cast<double>(sys_data.low_batt_volt));
        }
        if (sys_data.app_cfg[APPCFG_MICROSD_ENABLE] == 0) {
            uprintf("\r\nMicro SD card disabled, file commands are not available\r\n");
            uprintf(
                "   To enable, use 1-Config -> A-App Config to edit app_cfg[APPCFG_MICROSD_ENABLE]=1\r\n");
        } else {
            IdleScope idle({FILES_IDLE_S, sleep_idle});
            viewFiles();
        }
        break;
    }
    case 'H':
    case 'h':
        help_menu();
        break;
    default:
        // Any other key only shows the menu again.
        break;
    }
}

// The menu's time-out expired: sleep when idle, or let a deployment whose
// hibernation failed sleep on to its next wake.  The idle action of every
// wait under the main menu (the pump questions of a deployment's start
// among them), it never starts a deployment step itself: a step may wait
// for the operator again, and the waits would nest without end.
void menu_timeout()
{
    switch (sys_samp.state) {
    case DEPLOYED:
        dbg_printf("\r\nEMM: DEPLOYED, sleeping until the next wake\r\n");
        sleep(DEPLOYED, sys_samp.nextWakeUp);
        break;
    case COMMAND:
        dbg_printf("\r\nEMM: COMMAND, sleeping in polled mode\r\n");
        sleep(COMMAND, 0);
        break;
    default:
        dbg_printf("\r\n***** SLEEP *****\r\n");
        sleep(IDLE, 0);
        break;
    }
}

} // namespace

void eeprom_firmware_qa_check()
{
    if (std::memcmp(sys_data.qa.firmware_version, FIRMWARE_VERSION_STR, sizeof FIRMWARE_VERSION_STR) == 0) {
        return;
    }
    // The stored text need not be terminated: print at most its field, a
    // byte that is not printable as '?', and a blank EEPROM (all 0xFF) as
    // such.
    char stored[sizeof sys_data.qa.firmware_version + 1];
    bool blank = true;
    std::size_t n = 0;
    for (; n < sizeof sys_data.qa.firmware_version && sys_data.qa.firmware_version[n] != '\0'; ++n) {
        const unsigned char c = static_cast<unsigned char>(sys_data.qa.firmware_version[n]);
        blank = blank && c == 0xFF;
        stored[n] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    stored[n] = '\0';
    if (blank && n == sizeof sys_data.qa.firmware_version) {
        std::snprintf(stored, sizeof stored, "none (blank EEPROM)");
    }
    uprintf("\r\n\r\n\r\n\r\n\r\n");
    uprintf("************* ERROR: EEPROM data check failed (firmware upgrade) **************\r\n*\r\n");
    uprintf("*  EEPROM layout must match firmware, please run EEPROM copy / edit procedure  \r\n*\r\n");
    uprintf("*  QA: %s, does not match firmware: %s\r\n*\r\n", stored, FIRMWARE_VERSION_STR);
    uprintf("*  Run EEPROM data procedure:  1-Config Menu -> E -- Edit/Copy EEPROM sys_data \r\n*\r\n*\r\n");
    uprintf("*******************************************************************************\r\n");
}

void print_main_menu()
{
    eeprom_firmware_qa_check();
    if (sys_data.app_cfg[APPCFG_MICROSD_ENABLE] == 0) {
        uprintf("\r\nMicroSD card is disabled, use 1-Config -> A-App Config Fields to edit "
                "app_cfg[APPCFG_MICROSD_ENABLE]=1 to enable\r\n");
    }
    float fVbat;
    if (supply_low(&fVbat)) {
        uprintf("\r\n\r\nVoltage input is low (%.2fv < threshold %.2fv, avoid file operations\r\n",
                static_cast<double>(fVbat), static_cast<double>(sys_data.low_batt_volt));
    }
    uprintf("\r\n\r\n\r\nMain Menu -- %s -- Will sleep in %u seconds", FIRMWARE_VERSION_STR, deployDelay);
    uprintf("\r\n1 -- Configure");
    uprintf("\r\n2 -- Deploy");
    uprintf("\r\n3 -- Test");
    uprintf("\r\n4 -- Sleep");
    uprintf("\r\n5 -- Files");
    uprintf("\r\nH -- Help");
    uprintf("\r\nEnter Selection: ");
}

void exec_main_menu()
{
    // Every wait of the menu and of what it runs without a limit of its own
    // (the selection line, the deployment's start dialogue) ends after
    // deployDelay seconds without a byte.  Should the time-out's action
    // return (the records could not be stored), the wait goes on for
    // another period rather than retrying at once, which would flood the
    // console and the error file.
    IdleScope idle({deployDelay, menu_timeout});
    for (;;) {
        print_main_menu();
        UARTFlushRx();
        run_menu_selection(get_key());
    }
}

int print_sampBuf()
{
    int len = static_cast<int>(strnlen(prnBuf, sizeof prnBuf));
    UARTwrite(prnBuf, static_cast<uint32_t>(len));
    return len;
}

int main()
{
    init();
    led_power_on();
    led_sampling_on();
    led_sampling_off();

    dbg_flag = static_cast<int>(sys_data.debug_flag);
    wokebyserialFlg = 0;
    dbg_printf("\r\n***** BOARD_Varve = 1 *****\r\n");

    const uint32_t wakeSource = sleep_handler();

    for (;;) {
        switch (sys_samp.state) {
        case IDLE:
            dbg_printf("\r\nMAIN: state = IDLE\r\n");
            sys_samp.state = IDLE;
            exec_main_menu();
        case DEPLOYED:
            if (wakeSource == WAKE_PIN) {
                dbg_printf("\r\nMAIN: DEPLOYED, calling exec_command\r\n");
                if (exec_command(5) == 0) {
                    sys_samp.state = IDLE;
                } else {
                    wokebyserialFlg = 1;
                    dbg_printf("\r\nMAIN: calling deploy(DEPLOYED) after key command\r\n");
                    deploy(DEPLOYED);
                }
            } else if (wakeSource == WAKE_RTC) {
                dbg_printf("\r\nMAIN: calling deploy(DEPLOYED)\r\n");
                deploy(DEPLOYED);
            } else {
                dbg_printf("\r\n(wakeSource == WAKE_NOTSET)\r\n");
                sys_samp.state = IDLE;
                storeSysDataVariables();
            }
            break;
        case COMMAND:
            dbg_printf("\r\nMAIN: calling deploy(COMMAND)\r\n");
            deploy(COMMAND);
            break;
        default:
            uprintf("ERROR in sys_samp.state = %u", static_cast<unsigned>(sys_samp.state));
            sys_samp.state = IDLE;
            exec_main_menu();
        }
    }
}
