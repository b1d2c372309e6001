// Configuration menu: clock, file name, deployment parameters, pump
// sequence, calibration coefficients, console baud rate, data fields and
// presets, application options and converter parameters.  Every editor
// changes sys_data in RAM; leaving the menu (or the data-field or baud-rate
// menu) stores the record.
#include "operator/config.h"

#include "app/sleep.h"
#include "board/board_util.h"
#include "operator/config_headers.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/data_fields.h"
#include "records/system.h"
#include "records/system_data.h"
#include "sampling/ph_calib.h"
#include "sampling/sample.h"
#include "serial/uartstdio.h"
#include "storage/microsd.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// Seconds without a key after which a menu puts the controller to sleep.
constexpr uint32_t MENU_IDLE_S = 300;
// The same for the calibration dialogue, whose display runs while the
// sensors settle in the bath (tens of minutes).
constexpr uint32_t CALIB_IDLE_S = 3600;

// The record as it was before the command in progress: a command left
// idle is abandoned whole, so that nothing half entered is stored.
systemData s_before_command;
systemSamplingData s_samp_before_command;

void config_idle()
{
    sys_data = s_before_command;
    sys_samp = s_samp_before_command;
    sleep_idle();
}
// Numeric replies are read into a buffer of this size: a number never gets
// cut into a different number.
constexpr int NUM_REPLY = 20;
constexpr uint32_t PERIOD_MAX_S = 3600;
constexpr uint32_t PUMP1_MAX_S = 3600;
constexpr int PUMP_RUN_MAX_S = 18000;
constexpr int PUMP_CYCLES_MAX = 1000;

void store_and_report(const char* stored_text)
{
    if (storeSysDataVariables() != 0) {
        uprintf("\r\n\r\nError storing system data.\r\n");
    } else {
        uprintf("%s", stored_text);
    }
}

// Parses a whole reply; false for an empty or unparsable one.
bool parse_u32(const char* text, uint32_t* v)
{
    unsigned value;
    if (text[0] == '\0' || std::sscanf(text, "%u", &value) != 1) {
        return false;
    }
    *v = value;
    return true;
}

bool parse_int(const char* text, int* v)
{
    return text[0] != '\0' && std::sscanf(text, "%d", v) == 1;
}

bool parse_float(const char* text, float* v)
{
    return text[0] != '\0' && std::sscanf(text, "%f", v) == 1;
}

bool parse_double(const char* text, double* v)
{
    return text[0] != '\0' && std::sscanf(text, "%lf", v) == 1;
}

// --- Set clock -----------------------------------------------------------------
void set_clock()
{
    // Enter keeps the flag the clock was set with; the prompt shows it.
    const int gmt = sys_data.GMT != 0 ? 1 : 0;
    sys_data.GMT =
        yesOrNoMenuChoice(gmt != 0 ? "\r\n\r\nIs time GMT? (Y/N) [Y]? " : "\r\n\r\nIs time GMT? (Y/N) [N]? ",
                          gmt) != 0
            ? 1
            : 0;
    const uint32_t t = getDateAndTime();
    if (t == 0) {
        return;
    }
    HibernateRTCSet(t);
    uprintf("\r\nTime now: ");
    printCurrentTime();
    uprintf("%s", sys_data.GMT != 0 ? " GMT" : " Local");
    uprintf("\r\n\r\nNote: Daylight Savings not observed. Use GMT when this will be an issue.\r\n");
}

// --- File name and initials ------------------------------------------------------
void set_file_name()
{
    char name[16];
    uprintf("\r\nEnter data file name (no spaces, 8 characters before .txt or .xls) [%s]: ",
            sys_data.fileName);
    if (getUserInput(name, sizeof name) > 0) {
        std::snprintf(sys_data.fileName, sizeof sys_data.fileName, "%s", name);
        uprintf("\r\nFile name now: %s\r\n", sys_data.fileName);
    }
    char initials[8];
    uprintf("\r\n\r\nEnter user initials [%s]: ", sys_data.user);
    if (getUserInput(initials, sizeof initials) > 0) {
        std::snprintf(sys_data.user, sizeof sys_data.user, "%s", initials);
        uprintf("\r\nUser initials now: %s\r\n", sys_data.user);
    }
}

// --- Deployment parameters ----------------------------------------------------------
void set_sample_period()
{
    char reply[NUM_REPLY];
    for (;;) {
        uprintf("\r\nEnter sample period [%u] sec: ", static_cast<unsigned>(sys_data.sampling_period));
        getUserInput(reply, sizeof reply);
        uint32_t v;
        if (!parse_u32(reply, &v)) {
            return;
        }
        if (v == 0) {
            uprintf("\r\nSample period is zero - polled mode\r\n");
        }
        if (sys_data.sample_aligned != 0 && v != 0 && PERIOD_MAX_S % v != 0) {
            uprintf("\r\nSample period must evenly divide hour (e.g. 5, 10, 15, 20, 30 minutes)");
            continue;
        }
        if (v > PERIOD_MAX_S) {
            uprintf("\r\nEnter time less than or equal to 3600 sec");
            continue;
        }
        sys_data.sampling_period = v;
        uprintf("Sample period now %u sec.\r\n\r\n", static_cast<unsigned>(v));
        return;
    }
}

void set_low_battery()
{
    char reply[100];
    for (;;) {
        int n = std::snprintf(reply, sizeof reply,
                              "\r\nEnter low battery_voltage (ex. 10.5 V with Pump) [%.1f V]: ",
                              static_cast<double>(sys_data.low_batt_volt));
        uprintf("%s", reply);
        getUserInput(reply, n < static_cast<int>(sizeof reply) ? n : static_cast<int>(sizeof reply));
        float v;
        if (!parse_float(reply, &v)) {
            return;
        }
        if (!(v >= 0.0f && v <= 30.0f)) {
            uprintf("\r\nEnter voltage less than 30 V");
            continue;
        }
        sys_data.low_batt_volt = v;
        uprintf("\r\nLow battery_voltage now [%.1f V]\r\n\r\n", static_cast<double>(v));
        return;
    }
}

void set_output_mode()
{
    uprintf("\r\nOutput mode menu\r\n");
    uprintf("1 -- Normal  (Data only)\r\n");
    uprintf("2 -- Verbose (Data with prompts)\r\n");
    uprintf("\r\nEnter Selection [%d]: ", static_cast<int>(sys_data.output));
    switch (get_key()) {
    case '1':
        sys_data.output = NORMAL;
        uprintf("\r\n\r\nOutput mode now: NORMAL");
        break;
    case '2':
        sys_data.output = VERBOSE;
        uprintf("\r\n\r\nOutput mode now: VERBOSE");
        break;
    default:
        break;
    }
}

void print_sample_time_estimate()
{
    const unsigned char* cfg = sys_data.data_cfg;
    uint32_t ms = sys_data.pump1_ontime * 1000u;
    if (cfg[CFG_OPTODE] != 0 || cfg[CFG_CTD] != 0) {
        ms += 2500;
    }
    struct Cost {
        unsigned char idx;
        uint32_t ms;
    };
    static const Cost costs[] = {
        {CFG_BIAS_BAT_NEG, 25},     {CFG_BIAS_BAT_POS, 25},  {CFG_I_SUBSTRATE, 50},  {CFG_I_COUNTER, 50},
        {CFG_V_COUNTER_ELECT, 250}, {CFG_V_THERMISTOR, 250}, {CFG_VRSI_BIASED, 500}, {CFG_VRSI, 500},
        {CFG_VRSE_BIASED, 500},     {CFG_VRSE, 500},
    };
    for (const Cost& c : costs) {
        if (cfg[c.idx] != 0) {
            ms += c.ms;
        }
    }
    ms += 150;
    const double e = ms / 1000.0;
    const unsigned period = static_cast<unsigned>(sys_data.sampling_period);
    if (sys_data.sampling_period * 1000u + 250u >= ms) {
        uprintf("\r\nEstimated sample time = %.2f sec, sample period = %u sec\r\n", e, period);
    } else if (sys_data.sampling_period == 0) {
        uprintf("\r\nEstimated sample time = %.2f sec in polled mode (sample period is 0)\r\n", e);
    } else {
        uprintf("\r\nError: Estimated sample time = %.2f sec, is greater than sample period = %u sec.  "
                "Increase sample period\r\n",
                e, period);
    }
}

void set_deployment_parameters()
{
    if (sys_data.sample_aligned == 1) {
        sys_data.sample_aligned =
            yesOrNoMenuChoice("\r\n\r\nSample aligned to hour? (Y/N) [Y]? ", 1) != 0 ? 1 : 0;
    } else {
        sys_data.sample_aligned =
            yesOrNoMenuChoice("\r\n\r\nSample aligned to hour? (Y/N) [N]? ", 0) != 0 ? 1 : 0;
    }
    set_sample_period();
    pump_sequencer_setup();
    set_low_battery();
    set_output_mode();
    print_sample_time_estimate();
}

// Asks for one bounded integer of the pump sequence; keeps the value on an
// empty or unparsable reply.  Limits compare unsigned: negatives are refused.
void ask_pump_number(const char* prompt, uint32_t* field, uint32_t max, const char* range_msg,
                     const char* accepted)
{
    char reply[NUM_REPLY];
    for (;;) {
        uprintf(prompt, static_cast<int>(*field));
        getUserInput(reply, sizeof reply);
        int v;
        if (!parse_int(reply, &v)) {
            return;
        }
        if (static_cast<uint32_t>(v) > max) {
            uprintf(range_msg, static_cast<int>(max));
            continue;
        }
        *field = static_cast<uint32_t>(v);
        uprintf(accepted, v);
        return;
    }
}

// --- Data fields ------------------------------------------------------------------
unsigned char& dcfg(unsigned idx)
{
    return sys_data.data_cfg[idx];
}

void preset_fields(std::initializer_list<int> on)
{
    for (unsigned i = 0; i <= CFG_OCR; ++i) {
        dcfg(i) = 0;
    }
    for (int i : on) {
        dcfg(static_cast<unsigned>(i)) = 1;
    }
}

void set_range(int first, int last)
{
    for (int i = first; i <= last; ++i) {
        dcfg(static_cast<unsigned>(i)) = 1;
    }
}

void clear_presettable()
{
    for (unsigned i = 0; i <= CFG_OCR; ++i) {
        dcfg(i) = 0;
    }
}

void default_converter_settings()
{
    uprintf("Default ADS1248 sps and trial settings\r\n");
    ads1248_sampling_defaults();
}

void apply_preset(unsigned char key)
{
    clear_presettable();
    switch (key) {
    case '0':
        break;
    case '1':
        set_range(0, 24);
        user_select_ctd();
        break;
    case '2':
        preset_fields({0, 1, 8, 9});
        set_range(15, 20);
        default_converter_settings();
        break;
    case '3':
        set_range(0, 7);
        set_range(15, 23);
        default_converter_settings();
        break;
    case '4':
        set_range(0, 4);
        set_range(8, 10);
        set_range(15, 20);
        set_range(22, 24);
        dcfg(CFG_CTD) = 1;
        user_select_ctd();
        sys_data.app_cfg[APPCFG_DEPLOY_UARTECHO] = 1;
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 1;
        uprintf("MicroSD data logging is enabled\r\n");
        uprintf("Console echo of deployment commands is enabled\r\n");
        default_converter_settings();
        break;
    case '5':
        dcfg(0) = 1;
        set_range(2, 7);
        dcfg(11) = 1;
        set_range(15, 23);
        sys_data.app_cfg[APPCFG_DEPLOY_UARTECHO] = 0;
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 0;
        uprintf("MicroSD data logging is Disabled\r\n");
        uprintf("Console echo of deployment commands is disabled\r\n");
        default_converter_settings();
        break;
    case '6':
        set_range(0, 4);
        set_range(8, 9);
        set_range(15, 18);
        dcfg(20) = 1;
        dcfg(22) = 1;
        dcfg(23) = 1;
        default_converter_settings();
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 0;
        uprintf("Data logging is Disabled\r\n");
        break;
    case '7':
        uprintf("\r\nVORN config and fast sample for wire walker\r\n");
        set_range(8, 9);
        set_range(15, 18);
        dcfg(23) = 1;
        dcfg(CFG_TIMESTAMP) = 2;
        uprintf("Changes from default ADS1248 sps and trials:\r\n");
        sys_data.Vrse_sps = 20;
        uprintf("   Vrse_sps = %u\r\n", static_cast<unsigned>(sys_data.Vrse_sps));
        sys_data.Vrse_trials = 5;
        uprintf("   Vrse_trials = %u\r\n", static_cast<unsigned>(sys_data.Vrse_trials));
        sys_data.Vk_sps = 320;
        uprintf("   Vk_sps = %u\r\n", static_cast<unsigned>(sys_data.Vk_sps));
        sys_data.Vk_trials = 3;
        uprintf("   Vk_trials = %u\r\n", static_cast<unsigned>(sys_data.Vk_trials));
        sys_data.Ik_sps = 160;
        uprintf("   Ik_sps = %u\r\n", static_cast<unsigned>(sys_data.Ik_sps));
        sys_data.Ik_trials = 1;
        uprintf("   Ik_trials = %u\r\n", static_cast<unsigned>(sys_data.Ik_trials));
        sys_data.Ib_sps = 160;
        uprintf("   Ib_sps = %u\r\n", static_cast<unsigned>(sys_data.Ib_sps));
        sys_data.Ib_trials = 1;
        uprintf("   Ib_trials = %u\r\n", static_cast<unsigned>(sys_data.Ib_trials));
        uprintf("\r\n");
        sys_data.sampling_period = 2;
        uprintf("Sampling period = %u\r\n", static_cast<unsigned>(sys_data.sampling_period));
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 0;
        uprintf("MicroSD data logging is Disabled\r\n");
        dcfg(CFG_TIMESTAMP) = 2;
        uprintf("Timestamp in Epoch millisec format\r\n");
        break;
    default:
        break;
    }
}

// A letter of the data-field menu; false when the key is not a field letter.
bool apply_letter(unsigned char key)
{
    const bool on = key >= 'A' && key <= 'Z';
    if (!on && !(key >= 'a' && key <= 'z')) {
        return key == '8'; // taken, and does nothing
    }
    const DataField* f = data_field_of_letter(static_cast<char>(on ? key : key - ('a' - 'A')));
    if (f == nullptr) {
        return true; // a letter without a field does nothing
    }
    const auto set = [](uint32_t fields, unsigned char v) {
        for (unsigned i = 0; i < DATA_CFG_SIZE; ++i) {
            if ((fields & (uint32_t{1} << i)) != 0) {
                dcfg(i) = v;
            }
        }
    };
    if (!on) {
        set(f->off_clear, 0);
        return true;
    }
    set(f->on_clear, 0);
    set(f->on_set, 1);
    if (f->ask == DataAsk::Timestamp) {
        user_select_timestamp();
    } else if (f->ask == DataAsk::Ctd) {
        user_select_ctd();
    }
    return true;
}

// Waits for a key of a type prompt: 1 or 2, or Ctrl-X for `cancel_value`.
unsigned char select_type(const char* again_text, unsigned char cancel_value)
{
    for (;;) {
        const unsigned char key = get_key();
        if (key == '1') {
            return 1;
        }
        if (key == '2') {
            return 2;
        }
        if (key == 0x18) {
            return cancel_value;
        }
        uprintf("%s", again_text);
    }
}

void print_config_menu()
{
    uprintf("\r\n\r\n\r\nConfiguration Menu:\r\n");
    uprintf("1 -- Set Clock\r\n");
    uprintf("2 -- Change File Name\r\n");
    uprintf("3 -- Set Deployment Parameters\r\n");
    uprintf("4 -- Enter pH Sensor Calibration Coefficients\r\n");
    uprintf("5 -- Calculate pH Sensor Calibration Coefficients\r\n");
    uprintf("6 -- Change Baud Rate\r\n");
    uprintf("7 -- Config Data Fields\r\n");
    uprintf("8 -- Metadata Settings\r\n");
    uprintf("\r\n");
    uprintf("D -- Data Header, Sample Data, Sample Timing\r\n");
    uprintf("E -- Edit/Copy EEPROM sys_data structure\r\n");
    uprintf("S -- Print EEPROM Sys_data structure\r\n");
    uprintf("A -- App Config Fields\r\n");
    uprintf("Z -- ADC 24bit Sampling Parameters\r\n");
    uprintf("P -- Pump Sequencer Setup\r\n");
    uprintf("9 -- Exit to Main Menu\r\n");
    uprintf("\r\nEnter Selection [9]: ");
}

} // namespace

unsigned char get_menu_key_idle()
{
    UARTFlushRx();
    return get_key();
}

void configuration_menu()
{
    IdleScope idle({MENU_IDLE_S, config_idle});
    for (;;) {
        s_before_command = sys_data;
        s_samp_before_command = sys_samp;
        print_config_menu();
        const unsigned char key = get_menu_key_idle();
        switch (key) {
        case '1':
            set_clock();
            break;
        case '2':
            set_file_name();
            break;
        case '3':
            set_deployment_parameters();
            break;
        case '4':
            enter_pH_sensor_cal_coeff();
            break;
        case '5': {
            IdleScope calib_idle({CALIB_IDLE_S, config_idle});
            ph_calib();
            break;
        }
        case '6':
            change_baud_rate();
            break;
        case '7':
            config_data_fields();
            break;
        case '8':
            uprintf("\r\nMetadata Settings:\r\n");
            enter_metadata();
            break;
        case 'A':
        case 'a':
            edit_appcfg_fields();
            break;
        case 'C':
        case 'c':
            exercise_iso();
            break;
        case 'D':
            test_get_sample_loop();
            break;
        case 'd':
            test_get_sample_timing();
            break;
        case 'E':
        case 'e':
            copy_edit_sys_data_structure();
            break;
        case 'P':
        case 'p':
            pump_sequencer_setup();
            break;
        case 'S':
        case 's':
            print_sys_data_structure();
            break;
        case 'Z':
        case 'z':
            config_adc24_sampling_parms();
            break;
        default:
            store_and_report("\r\n\r\nSystem data stored.  -- Press enter to bring up main menu\r\n");
            return;
        }
    }
}

void pump_sequencer_setup()
{
    if (sys_data.pump_seq_type == 0) {
        sys_data.pump_seq_type = 1;
    }
    char reply[NUM_REPLY];
    for (;;) {
        uprintf("\r\nEnter Pump Sequence Type (1=Single, 2=Two Pump Alt ORVEKv1 [%d]: ",
                static_cast<int>(sys_data.pump_seq_type));
        getUserInput(reply, sizeof reply);
        int v;
        if (!parse_int(reply, &v)) {
            break;
        }
        if (v == 1 || v == 2) {
            sys_data.pump_seq_type = static_cast<uint32_t>(v);
            uprintf("\r\nPump Sequence Type = %d\r\n\r\n", v);
            break;
        }
        uprintf("\r\nEnter 1 or 2");
    }
    if (sys_data.pump_seq_type == 1) {
        for (;;) {
            uprintf("Enter Pump1 run time [%u] sec: ", static_cast<unsigned>(sys_data.pump1_ontime));
            getUserInput(reply, sizeof reply);
            uint32_t v = sys_data.pump1_ontime;
            // Enter keeps the stored time only within the limit (a time
            // set for two pumps may be longer).
            if (!parse_u32(reply, &v) && v <= PUMP1_MAX_S) {
                break;
            }
            if (v > PUMP1_MAX_S) {
                uprintf("\r\nEnter time less than 3600 sec");
                continue;
            }
            sys_data.pump1_ontime = v;
            uprintf("Pump on time now %u sec.\r\n\r\n", static_cast<unsigned>(v));
            break;
        }
    }
    uprintf("\r\nEnter Experiment Duty Cycle feature is not yet implemented...\r\n");
    if (sys_data.pump_seq_type == 2) {
        ask_pump_number("\r\nEnter Pump1 run time [%d] sec: ", &sys_data.pump1_ontime, PUMP_RUN_MAX_S,
                        "\r\nEnter a number less than or equal to %d seconds",
                        "Pump1 run time = %d sec\r\n\r\n");
        ask_pump_number("\r\nEnter Pump2 run time [%d] sec: ", &sys_data.pump2_ontime, PUMP_RUN_MAX_S,
                        "\r\nEnter a number less than or equal to %d seconds",
                        "\r\nPump2 run time = %d sec\r\n\r\n");
        ask_pump_number("\r\nEnter number of sampling cycles for Pump1 [%d]: ", &sys_data.pump1_cycles,
                        PUMP_CYCLES_MAX, "\r\nEnter a number less than 1000 cycles",
                        "\r\nSampling cycles Pump1 = %d\r\n\r\n");
        ask_pump_number("\r\nEnter number of sampling cycles for Pump2 [%d]: ", &sys_data.pump2_cycles,
                        PUMP_CYCLES_MAX, "\r\nEnter a number less than 1000 cycles",
                        "\r\nSampling cycles Pump2 = %d\r\n\r\n");
    }
}

namespace {

template <typename T> struct CoeffEntry {
    T* field;
    const char* prompt;
    T lo, hi;
    const char* range_msg;
    const char* confirm; // nullptr: none
};

void ask_coeff(const CoeffEntry<float>& e)
{
    char reply[NUM_REPLY];
    for (;;) {
        uprintf(e.prompt, static_cast<double>(*e.field));
        getUserInput(reply, sizeof reply);
        float v;
        if (!parse_float(reply, &v)) {
            return;
        }
        if (!(v >= e.lo && v <= e.hi)) {
            uprintf("%s", e.range_msg);
            continue;
        }
        *e.field = v;
        return;
    }
}

void ask_coeff(const CoeffEntry<double>& e)
{
    char reply[NUM_REPLY];
    for (;;) {
        uprintf(e.prompt, *e.field);
        getUserInput(reply, sizeof reply);
        double v;
        if (!parse_double(reply, &v)) {
            return;
        }
        if (!(v >= e.lo && v <= e.hi)) {
            uprintf("%s", e.range_msg);
            continue;
        }
        *e.field = v;
        uprintf(e.confirm, v);
        return;
    }
}

} // namespace

void enter_pH_sensor_cal_coeff()
{
    const CoeffEntry<float> k[] = {
        {&sys_data.k0int, "\r\nEnter k0int (ex. -0.4) [%f]: ", PH_COEFF_MIN, PH_COEFF_MAX,
         "Enter number between -2 and 2 (ex. -0.4)\r\n\r\n", nullptr},
        {&sys_data.k0ext, "\r\nEnter k0ext (ex. -1.3) [%f]: ", PH_COEFF_MIN, PH_COEFF_MAX,
         "Enter number between -2 and 2 (ex. -1.3)\r\n\r\n", nullptr},
        {&sys_data.k2int, "\r\nEnter k2int (ex. -0.001455) [%f]: ", PH_COEFF_MIN, PH_COEFF_MAX,
         "Enter number between -2 and 2 (ex. -0.001)\r\n\r\n", nullptr},
        {&sys_data.k2ext, "\r\nEnter k2ext (ex. -0.001081) [%f]: ", PH_COEFF_MIN, PH_COEFF_MAX,
         "Enter number between -2 and 2 (ex. -0.001)\r\n\r\n", nullptr},
    };
    for (const auto& e : k) {
        ask_coeff(e);
    }
    if (!(sys_data.TCOffset >= TC_OFFSET_MIN && sys_data.TCOffset <= TC_OFFSET_MAX)) {
        sys_data.TCOffset = 0.0f;
    }
    ask_coeff(CoeffEntry<float>{&sys_data.TCOffset, "\r\nEnter TCOffset [%f]: ", TC_OFFSET_MIN, TC_OFFSET_MAX,
                                "Enter a reasonable TCOffset such as 0.0\r\n\r\n", nullptr});
    if (!(sys_data.default_sal >= 0.0f && sys_data.default_sal <= 100.0f)) {
        uprintf("Salinity out of range, recommend running the test menu, qa board menu to initialize vars in "
                "eeprom\r\n");
        sys_data.default_sal = 35.0f;
    }
    ask_coeff(CoeffEntry<float>{&sys_data.default_sal,
                                "\r\nEnter Salinity for Ext Ref pH calc (typical is 35) [%f]: ", 0.0f, 100.0f,
                                "Enter 35.0\r\n\r\n", nullptr});

    const char* sh_msg = "Enter number between -500 and 500, not sure what to recommend \r\n\r\n";
    if (sys_data.app_cfg[APPCFG_TEMPC_SH_ALG] == 0) {
        uprintf("\r\n4 Var S-H coefficients for Thermistor to Temperature Celsius:\r\n");
        uprintf("     c0 = %.11lf\r\n", sys_data.quadTherm_c0);
        uprintf("     c1 = %.11lf\r\n", sys_data.quadTherm_c1);
        uprintf("     c2 = %.11lf\r\n", sys_data.quadTherm_c2);
        uprintf("     c3 = %.11lf\r\n", sys_data.quadTherm_c3);
        uprintf("\r\n");
        const CoeffEntry<double> c[] = {
            {&sys_data.quadTherm_c0, "\r\nEnter 4 Var S-H c0 (ex. 340.9819863) [%.11lf]: ", 0.0, 500.0,
             "Enter number between 0 and 500 (ex. 340.9819863)\r\n\r\n", "c0 = %.11lf"},
            {&sys_data.quadTherm_c1, "\r\nEnter 4 Var S-H c1 (ex. -0.0000910257, -9.10257E-05) [%.11lf]: ",
             -0.1, 0.1, "Enter number between 0.1 and -0.1 (ex. 0.0000910257)\r\n\r\n", "c1 = %.11lf"},
            {&sys_data.quadTherm_c2, "\r\nEnter 4 Var S-H  c2 (ex. -95.08806667) [%.11lf]: ", -200.0, 200.0,
             "Enter number between -200.0 and 200.0 (ex. -95.08806667)\r\n\r\n", "c2 = %.11lf"},
            {&sys_data.quadTherm_c3, "\r\nEnter 4 Var S-H  c3 (ex. 0.965370274) [%.11lf]: ", -2.0, 2.0,
             "Enter number between -2.0 and 2.0 (ex. 0.965370274)\r\n\r\n", "c3 = %.11lf"},
        };
        for (const auto& e : c) {
            ask_coeff(e);
        }
    } else if (sys_data.app_cfg[APPCFG_TEMPC_SH_ALG] == 1) {
        uprintf("\r\n3 Var S-H coefficients for Thermistor to Temperature Celsius:\r\n");
        uprintf("      A = %.11lf\r\n", sys_data.shTherm_A);
        uprintf("      B = %.11lf\r\n", sys_data.shTherm_B);
        uprintf("      C = %.11lf\r\n", sys_data.shTherm_C);
        uprintf("\r\n");
        const CoeffEntry<double> c[] = {
            {&sys_data.shTherm_A, "\r\nEnter 3 Var Steinhart-Hart A  [%.11lf]: ", -500.0, 500.0, sh_msg,
             "A = %.11lf"},
            {&sys_data.shTherm_B, "\r\nEnter 3 Var Steinhart-Hart B  [%.11lf]: ", -500.0, 500.0, sh_msg,
             "B = %.11lf"},
            {&sys_data.shTherm_C, "\r\nEnter 3 Var Steinhart-Hart C  [%.11lf]: ", -500.0, 500.0, sh_msg,
             "C = %.11lf"},
        };
        for (const auto& e : c) {
            ask_coeff(e);
        }
    }
}

void change_baud_rate()
{
    uprintf(
        "\r\n\r\n\r\nChange Baud Rate - select baud menu item, change terminal baud rate, then hit 'V' to "
        "verify, then main menu, sleep and wakeup");
    uprintf("\r\n1 -- 115200");
    uprintf("\r\n2 -- 57600");
    uprintf("\r\n3 -- 38400");
    uprintf("\r\n4 -- 19200");
    uprintf("\r\n5 -- 9600");
    uprintf("\r\n6 -- 4800");
    uprintf("\r\n9 -- Exit to Main Menu");
    uprintf("\r\nEnter Selection [9]: ");
    static const uint32_t rates[] = {115200, 57600, 38400, 19200, 9600, 4800};
    const unsigned char key = get_menu_key_idle();
    if (key >= '1' && key <= '6') {
        sys_data.baud_rate = rates[key - '1'];
        uprintf("baud rate = %u\r\n", static_cast<unsigned>(sys_data.baud_rate));
        wait_consoleTx();
        UARTStdioConfig(0, sys_data.baud_rate, PIOSC_HZ);
        return;
    }
    if (key == 'V' || key == 'v') {
        uprintf("\r\nBaud rate verify %u\r\n", static_cast<unsigned>(sys_data.baud_rate));
        return;
    }
    store_and_report("\r\n\r\nSystem data stored.  -- Press enter to bring up main menu\r\n");
}

void config_data_fields()
{
    for (;;) {
        uprintf(
            "\r\n\r\n\r\nChange Data Field - lower case turns data field off (=0), upper case turns field on "
            "(=1)\r\n\r\n\r\n");
        print_write_config_data_fields(1, 0, 0);
        wait_consoleTx();
        uprintf("\r\n0 -- Zero (Clear) all config fields");
        uprintf("\r\n1 -- Set all config fields");
        delay_msec(200);
        uprintf("\r\n2 -- Use Case: GLIDER,          (A,B,C,D,L,M,R,T,U)");
        uprintf("\r\n3 -- Use Case: vORN Default,    (A,B,C,D,E,F,G,H,I,J,K,R,T,U)");
        uprintf("\r\n4 -- Use Case: Varve Default,   (A,B,C,D,F,G,H,I,L,M,R,T,U,V,W)");
        uprintf("\r\n5 -- Use Case: Varve m2m,       (A,C,D,E,F,G,H,I,J,K,N,R,T,U)");
        uprintf("\r\n6 -- Use Case: Kestrin Default, (A,B,D,F,G,H,I,L,R,S,T,U)");
        uprintf("\r\n7 -- Use Case: VORN WireWalker, (B,G,L,R,T,U)");
        uprintf("\r\n");
        uprintf("\r\n9 -- Exit to Main Menu");
        uprintf("\r\nEnter Selection [9]: ");
        const unsigned char key = get_menu_key_idle();
        if (key >= '0' && key <= '7') {
            apply_preset(key);
            continue;
        }
        if (apply_letter(key)) {
            continue;
        }
        sys_data.fast_mode = 1;
        store_and_report("\r\n\r\nSystem data stored. (910) -- Press enter to bring up main menu\r\n");
        return;
    }
}

void user_select_timestamp()
{
    uprintf("Select Timestamp type[%u]:  1 -- MM/DD/YYYY HH:MM:SS, 2 -- Epoch millisec ",
            static_cast<unsigned>(sys_data.data_cfg[CFG_TIMESTAMP]));
    sys_data.data_cfg[CFG_TIMESTAMP] = select_type("Enter 1 or 2:  1 for MM/DD/YYYY HH:MM:SS, 2 for Epoch "
                                                   "milli-seconds 13digit, Ctrl-X <enter> to exit  ",
                                                   1);
}

void user_select_ctd()
{
    uprintf("Select CTD type[%u]:  1 -- SBE37 MicroCat, 2 -- Aanderaa 5860  ",
            static_cast<unsigned>(sys_data.data_cfg[CFG_CTD]));
    sys_data.data_cfg[CFG_CTD] =
        select_type("Enter 1 or 2:  1 for SBE37 MicroCat, 2 for Aanderaa 5860, Ctrl-X <enter> to exit  ", 0);
}

void edit_appcfg_fields()
{
    unsigned char& sd = sys_data.app_cfg[APPCFG_MICROSD_ENABLE];
    const unsigned char old_sd = sd;
    if (sd == 1) {
        sd = yesOrNoMenuChoice("\r\n\r\nEnable MicroSD logging? (Y/N) [Y]? ", 1) != 0 ? 1 : 0;
    } else {
        sd = yesOrNoMenuChoice("\r\n\r\nEnable MicroSD logging? (Y/N) [N]? ", 0) != 0 ? 1 : 0;
    }
    storeSysDataVariables();
    uprintf("%s",
            sd == 1 ? "MicroSD logging is Enabled\r\n\r\n" : "MicroSD card DISabled, no Logging\r\n\r\n");
    if (old_sd == 0 && sd == 1) {
        if (uSD_present() != 0) {
            uprintf("\r\nMicroSD card is Initialized....\r\n");
            Init_SDCard();
            microSD_flg = 1;
        } else {
            uprintf("\r\nError: MicroSD card is not detected\r\n");
            microSD_flg = 0;
        }
    }
    unsigned char& echo = sys_data.app_cfg[APPCFG_DEPLOY_UARTECHO];
    if (echo == 1) {
        echo = yesOrNoMenuChoice("\r\n\r\nEnable character echo for deployment commands? (Y/N) [Y]? ", 1) != 0
                   ? 1
                   : 0;
    } else {
        echo = yesOrNoMenuChoice("\r\n\r\nEnable character echo for deployment commands? (Y/N) [N]? ", 0) != 0
                   ? 1
                   : 0;
    }
    storeSysDataVariables();
    uprintf("%s", echo == 1 ? "Deployment command character echo is Enabled (typical case)\r\n\r\n"
                            : "Deployment command character echo Disabled for m2m\r\n\r\n");
}

void config_adc24_sampling_parms()
{
    uprintf("\r\nThird batch of 20 sys_data fields:\r\n\r\n");
    edit_converter_fields();
}
