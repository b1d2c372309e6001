// Record editor: the field editors, the walk through the whole
// configuration record in nine batches, the record dump and the metadata
// entry.
#include "operator/config.h"

#include "records/version.h"
#include "operator/config_headers.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/record_fields.h"
#include "records/system.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int NUM_REPLY = 20;
constexpr int TEXT_REPLY = 128;

// Reads a numeric reply; false when it is empty.
bool read_reply(char* reply)
{
    return getUserInput(reply, NUM_REPLY) > 0;
}

void ask_u32(const char* name, uint32_t* field)
{
    uprintf("%s [%u]: ", name, static_cast<unsigned>(*field));
    edit_uint(field);
}

void ask_u8(const char* prompt, unsigned char* field)
{
    uprintf(prompt, static_cast<unsigned>(*field));
    edit_uint(field);
}

void ask_f(const char* prompt, float* field)
{
    uprintf(prompt, static_cast<double>(*field));
    edit_float(field);
}

void ask_d(const char* prompt, double* field)
{
    uprintf(prompt, *field);
    edit_double(field);
}

// A text field is always shown and kept terminated within its size.
void terminate(char* field, uint32_t size)
{
    field[size - 1] = '\0';
}

void ask_s(const char* prompt, char* field, uint32_t size)
{
    terminate(field, size);
    uprintf(prompt, field);
    edit_string(field, size);
}

// Copies a reply into a text field, cut to the field and terminated.
void copy_text(char* field, uint32_t size, const char* text)
{
    const std::size_t n = strnlen(text, size - 1);
    std::memcpy(field, text, n);
    field[n] = '\0';
}

// nan and inf parse as numbers but no setting can use them.
void refuse_not_finite()
{
    uprintf("\r\nNot a finite number: value kept\r\n");
}

bool revisit()
{
    return yesOrNoMenuChoice("\r\n\r\nRe-visit? (Y/N) [N]? ", 0) != 0;
}

void ask_data_cfg(unsigned idx)
{
    uprintf("sys_data.data_cfg[%s] [%u]: ", DATA_CFG_NAMES[idx],
            static_cast<unsigned>(sys_data.data_cfg[idx]));
    edit_uint(&sys_data.data_cfg[idx]);
}

void batch1()
{
    uprintf("\r\nFirst 5 sys_data fields:\r\n\r\n");
    uprintf("sampling_period [%u] sec: ", static_cast<unsigned>(sys_data.sampling_period));
    edit_uint(&sys_data.sampling_period);
    uprintf("sampling_average [%u] sec: ", static_cast<unsigned>(sys_data.chksum));
    char reply[NUM_REPLY];
    read_reply(reply);
    uprintf("averaging_interval: [%u] sec: ", static_cast<unsigned>(sys_data.averaging_interval));
    edit_uint(&sys_data.averaging_interval);
    uprintf("pump1_ontime [%u] sec: ", static_cast<unsigned>(sys_data.pump1_ontime));
    edit_uint(&sys_data.pump1_ontime);
    ask_f("low_batt_volt [%.1f]: ", &sys_data.low_batt_volt);
    uprintf("\r\n");
}

void batch2()
{
    uprintf("\r\nSecond batch of 13 sys_data fields:\r\n\r\n");
    ask_f("TCOffset [%.6f]: ", &sys_data.TCOffset);
    ask_f("k0ext [%.6f]: ", &sys_data.k0ext);
    ask_f("k0int [%.6f]: ", &sys_data.k0int);
    ask_f("k2ext [%.6f]: ", &sys_data.k2ext);
    ask_f("k2int [%.6f]: ", &sys_data.k2int);
    ask_d("quadTherm_c0 [%.11f]: ", &sys_data.quadTherm_c0);
    ask_d("quadTherm_c1 [%.11f]: ", &sys_data.quadTherm_c1);
    ask_d("quadTherm_c2 [%.11f]: ", &sys_data.quadTherm_c2);
    ask_d("quadTherm_c3 [%.11f]: ", &sys_data.quadTherm_c3);
    ask_d("shTherm_A [%.11f]: ", &sys_data.shTherm_A);
    ask_d("shTherm_B [%.11f]: ", &sys_data.shTherm_B);
    ask_f("default_sal [%.3f]: ", &sys_data.default_sal);
    ask_f("sensor_sal [%.3f]: ", &sys_samp.sensor_sal);
}

void batch3()
{
    uprintf("\r\nThird batch of 20 sys_data fields:\r\n\r\n");
    edit_converter_fields();
}

void batch4()
{
    uprintf("\r\nFourth batch of 7 sys_data fields:\r\n\r\n");
    uprintf("output [%u]: ", static_cast<unsigned>(sys_data.output));
    edit_uint(&sys_data.output);
    ask_u32("test_mode", &sys_data.test_mode);
    ask_u32("fast_mode", &sys_data.fast_mode);
    ask_u32("solenoid_on2hold_msec", &sys_data.solenoid_on2hold_msec);
    ask_u32("solenoid_hold_pwm", &sys_data.solenoid_hold_pwm);
    ask_u32("solenoid_holdtime", &sys_data.solenoid_holdtime);
    ask_u32("baud_rate", &sys_data.baud_rate);
}

void batch5()
{
    uprintf("\r\nFifth batch of 32 sys_data fields:\r\n\r\n");
    ask_data_cfg(CFG_SAMPLE_NUM);
    ask_data_cfg(CFG_TIMESTAMP);
    ask_data_cfg(CFG_V_THERMISTOR);
    sys_data.data_cfg[CFG_V_THERMISTOR_STD] = sys_data.data_cfg[CFG_V_THERMISTOR];
    ask_data_cfg(CFG_V_THERMISTOR_STD);
    for (unsigned i = CFG_CALC_TEMP; i < DATA_CFG_SIZE; ++i) {
        ask_data_cfg(i);
    }
}

void batch6()
{
    uprintf("\r\nSixth batch of 8 sys_data fields:\r\n\r\n");
    for (unsigned i = 0; i < sizeof APP_CFG_NAMES / sizeof APP_CFG_NAMES[0]; ++i) {
        uprintf("app_cfg[%s] [%u]: ", APP_CFG_NAMES[i], static_cast<unsigned>(sys_data.app_cfg[i]));
        edit_uint(&sys_data.app_cfg[i]);
    }
    for (unsigned i = 6; i < APP_CFG_SIZE; ++i) {
        sys_data.app_cfg[i] = 0;
    }
}

void batch7()
{
    uprintf("\r\nSeventh batch of 14 sys_data fields:\r\n\r\n");
    ask_u8("GMT [%u]: ", &sys_data.GMT);
    ask_u8("sample_aligned [%u]: ", &sys_data.sample_aligned);
    sys_data.deploy_time = 0;
    ask_u32("deploy_time", &sys_data.deploy_time);
    sys_data.start_pump_time = HibernateRTCGet();
    ask_u32("start_pump_time", &sys_data.start_pump_time);
    sys_samp.start_pump_cntdown = sys_data.start_pump_time - HibernateRTCGet();
    ask_u32("start_pump_cntdown", &sys_samp.start_pump_cntdown);
    ask_u32("diag", &sys_data.diag);
    ask_u32("debug_flag", &sys_data.debug_flag);
    dbg_flag = static_cast<int>(sys_data.debug_flag);
    ask_f("pHOffset [%.6f]: ", &sys_data.pHOffset);
    ask_f("pHSlope [%.6f]: ", &sys_data.pHSlope);
    ask_f("TCSlope [%.6f]: ", &sys_data.TCSlope);
    ask_f("sensor_ctd_TC [%.6f]: ", &sys_data.sensor_ctd_TC);
    ask_f("sensor_optode_TC [%.6f]: ", &sys_data.sensor_optode_TC);
    ask_f("spare[0] [%.6f]: ", &sys_data.spare[0]);
    ask_f("spare[1] [%.6f]: ", &sys_data.spare[1]);
    ask_f("spare[2] [%.6f]: ", &sys_data.spare[2]);
    ask_f("spare[3] [%.6f]: ", &sys_data.spare[3]);
}

void batch8()
{
    uprintf("\r\nEighth batch of 7 sys_data fields:\r\n\r\n");
    ask_u32("pump_seq_type", &sys_data.pump_seq_type);
    ask_u32("sampleCnt_duty_on", &sys_data.sampleCnt_duty_on);
    ask_u32("sampleCnt_duty_off", &sys_data.sampleCnt_duty_off);
    ask_u32("pump1_cycles", &sys_data.pump1_cycles);
    ask_u32("pump2_cycles", &sys_data.pump2_cycles);
    ask_u32("pump1_ontime", &sys_data.pump1_ontime);
    ask_u32("pump2_ontime", &sys_data.pump2_ontime);
}

void batch9()
{
    uprintf("\r\nNineth batch of 11 sys_data fields:\r\n\r\n");
    ask_s("Filename [%s]: ", sys_data.fileName, sizeof sys_data.fileName);
    ask_s("User Initials [%s]: ", sys_data.user, sizeof sys_data.user);
    ask_s("board_SN [%s]: ", sys_data.board_SN, sizeof sys_data.board_SN);
    ask_s("tamb_SN [%s]: ", sys_data.tamb_SN, sizeof sys_data.tamb_SN);
    ask_s("durafet_SN [%s]: ", sys_data.durafet_SN, sizeof sys_data.durafet_SN);
    ask_s("package_name [%s]: ", sys_data.package_name, sizeof sys_data.package_name);
    ask_s("optode_SN [%s]: ", sys_data.optode_SN, sizeof sys_data.optode_SN);
    ask_s("ctd_SN [%s]: ", sys_data.ctd_SN, sizeof sys_data.ctd_SN);
    ask_s("pump1_SN [%s]: ", sys_data.pump_SN, sizeof sys_data.pump_SN);
    ask_s("pump2_SN [%s]: ", sys_data.pump2_SN, sizeof sys_data.pump2_SN);
    ask_s("board_fab_note [%s]: ", sys_data.board_fab_note, sizeof sys_data.board_fab_note);
    ask_s("deploy_note [%s]: ", sys_data.deploy_note, sizeof sys_data.deploy_note);
    // The stored version need not be terminated: print at most its field.
    char old_version[sizeof sys_data.qa.firmware_version + 1];
    std::memcpy(old_version, sys_data.qa.firmware_version, sizeof sys_data.qa.firmware_version);
    old_version[sizeof sys_data.qa.firmware_version] = '\0';
    uprintf("\r\nOld firmware version: %s\r\n", old_version);
    uprintf("New firmware version: %s\r\n", FIRMWARE_VERSION_STR);
    std::snprintf(sys_data.qa.firmware_version, sizeof sys_data.qa.firmware_version, "%s",
                  FIRMWARE_VERSION_STR);
    uprintf("\r\nIf the old firmware version is corrupt or shifted, please re-run QA routine\r\n\r\n");
}

void run_batch(int batch)
{
    switch (batch) {
    case 1:
        batch1();
        break;
    case 2:
        batch2();
        break;
    case 3:
        batch3();
        break;
    case 4:
        batch4();
        break;
    case 5:
        batch5();
        break;
    case 6:
        batch6();
        break;
    case 7:
        batch7();
        break;
    case 8:
        batch8();
        break;
    default:
        batch9();
        break;
    }
}

struct MetaField {
    char* field;
    uint32_t size;
    const char* prompt;
    int limit;
    const char* confirm;
};

} // namespace

uint32_t edit_uint(uint32_t* field)
{
    char reply[NUM_REPLY];
    unsigned v = 0;
    if (read_reply(reply) && std::sscanf(reply, "%u", &v) == 1) {
        *field = v;
        return v;
    }
    return 0;
}

uint32_t edit_uint(unsigned char* field)
{
    char reply[NUM_REPLY];
    unsigned v = 0;
    if (read_reply(reply) && std::sscanf(reply, "%u", &v) == 1) {
        *field = static_cast<unsigned char>(v);
        return v;
    }
    return 0;
}

uint32_t edit_uint(output_mode* field)
{
    unsigned char v = static_cast<unsigned char>(*field);
    const uint32_t r = edit_uint(&v);
    *field = static_cast<output_mode>(v);
    return r;
}

float edit_float(float* field)
{
    char reply[NUM_REPLY];
    float v = 0.0f;
    if (read_reply(reply) && std::sscanf(reply, "%f", &v) == 1) {
        if (!std::isfinite(v)) {
            refuse_not_finite();
            return 0.0f;
        }
        *field = v;
        return v;
    }
    return 0.0f;
}

double edit_double(double* field)
{
    char reply[NUM_REPLY];
    double v = 0.0;
    if (read_reply(reply) && std::sscanf(reply, "%lf", &v) == 1) {
        if (!std::isfinite(v)) {
            refuse_not_finite();
            return 0.0;
        }
        *field = v;
        return v;
    }
    return 0.0;
}

uint32_t edit_string(char* field, uint32_t size)
{
    char reply[TEXT_REPLY];
    const uint32_t limit = size < sizeof reply ? size : sizeof reply;
    const int n = getUserInput(reply, static_cast<int>(limit));
    if (n > 0) {
        copy_text(field, size, reply);
    }
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

namespace {

// The 24-bit converter's data rates, samples per second.
constexpr uint32_t CONVERTER_RATES[] = {5, 10, 20, 40, 80, 160, 320, 640, 1000, 2000};

// A data rate: asked again until it is one the converter has (an Enter
// that keeps a stored rate it does not have included).
void ask_sps(const char* name, uint32_t* field)
{
    for (;;) {
        const uint32_t before = *field;
        ask_u32(name, field);
        for (uint32_t rate : CONVERTER_RATES) {
            if (*field == rate) {
                return;
            }
        }
        uprintf("\r\n%s %u: the converter's data rates are 5, 10, 20, 40, 80, 160, 320, 640, 1000 and "
                "2000\r\n",
                name, static_cast<unsigned>(*field));
        *field = before;
    }
}

} // namespace

void edit_converter_fields()
{
    ask_sps("Vrsi_sps", &sys_data.Vrsi_sps);
    ask_u32("Vrsi_trials", &sys_data.Vrsi_trials);
    ask_sps("Vrse_sps", &sys_data.Vrse_sps);
    ask_u32("Vrse_trials", &sys_data.Vrse_trials);
    ask_sps("Vtherm_sps", &sys_data.Vtherm_sps);
    ask_u32("Vtherm_trials", &sys_data.Vtherm_trials);
    ask_u32("Vtherm_trials", &sys_data.Vtherm_trials);
    ask_sps("Ik_sps", &sys_data.Ik_sps);
    ask_u32("Ik_trials", &sys_data.Ik_trials);
    ask_sps("Vk_sps", &sys_data.Vk_sps);
    ask_u32("Vk_trials", &sys_data.Vk_trials);
    ask_sps("Ib_sps", &sys_data.Ib_sps);
    ask_u32("Ib_trials", &sys_data.Ib_trials);
    ask_sps("Vb_sps", &sys_data.Vb_sps);
    ask_u32("Vb_trials", &sys_data.Vb_trials);
    ask_sps("Vbias_sps", &sys_data.Vbias_sps);
    ask_u32("Vbias_trials", &sys_data.Vbias_trials);
    ask_u32("offset_Ik", &sys_data.offset_Ik);
    ask_u32("offset_Ib", &sys_data.offset_Ib);
}

void copy_edit_sys_data_structure()
{
    uprintf("// ------ sys_data structure, size = %u ---- \r\n", static_cast<unsigned>(sizeof(systemData)));
    for (int batch = 1; batch <= 9; ++batch) {
        do {
            run_batch(batch);
        } while (revisit());
    }
    uprintf("\r\nEEPROM sys_data copy/edit is complete\r\n\r\n");
    if (storeSysDataVariables() != 0) {
        uprintf("\r\n\r\nError storing system data.\r\n");
    }
}

void print_sys_data_structure()
{
    const systemData& d = sys_data;
    auto u = [](uint32_t v) { return static_cast<unsigned>(v); };
    auto f = [](float v) { return static_cast<double>(v); };
    uprintf("\r\n");
    uprintf("// ------ sys_data EEPROM structure, size = %u ---- \r\n", u(sizeof(systemData)));
    uprintf("// sampling_period: %u\r\n", u(d.sampling_period));
    uprintf("// chksum:          %u\r\n", u(d.chksum));
    uprintf("// averaging_interval: %u\r\n", u(d.averaging_interval));
    uprintf("// pump1_ontime: %u\r\n", u(d.pump1_ontime));
    uprintf("// low_batt_volt: %.2f\r\n", f(d.low_batt_volt));
    uprintf("\r\n");
    uprintf("// TCOffset: %.6f\r\n", f(d.TCOffset));
    uprintf("// k0ext: %.6f\r\n", f(d.k0ext));
    uprintf("// k0int: %.6f\r\n", f(d.k0int));
    uprintf("// k2ext: %.6f\r\n", f(d.k2ext));
    uprintf("// k2int: %.6f\r\n", f(d.k2int));
    uprintf("// quadTherm_c0: %.11lf\r\n", d.quadTherm_c0);
    uprintf("// quadTherm_c1: %.11lf\r\n", d.quadTherm_c1);
    uprintf("// quadTherm_c2: %.11lf\r\n", d.quadTherm_c2);
    uprintf("// quadTherm_c3: %.11lf\r\n", d.quadTherm_c3);
    uprintf("// shTherm_A: %.11lf\r\n", d.shTherm_A);
    uprintf("// shTherm_B: %.11lf\r\n", d.shTherm_B);
    uprintf("// shTherm_C: %.11lf\r\n", d.shTherm_C);
    uprintf("// default_sal: %.6f\r\n", f(d.default_sal));
    uprintf("// sensor_sal: %.6f\r\n", f(sys_samp.sensor_sal));
    uprintf("//\r\n");
    wait_consoleTx();
    const struct {
        const char* name;
        uint32_t v;
    } conv[] = {
        {"Vrsi_sps", d.Vrsi_sps},     {"Vrsi_trials", d.Vrsi_trials},
        {"Vrse_sps", d.Vrse_sps},     {"Vrse_trials", d.Vrse_trials},
        {"Vtherm_sps", d.Vtherm_sps}, {"Vtherm_trials", d.Vtherm_trials},
        {"Ik_sps", d.Ik_sps},         {"Ik_trials", d.Ik_trials},
        {"Vk_sps", d.Vk_sps},         {"Vk_trials", d.Vk_trials},
        {"Ib_sps", d.Ib_sps},         {"Ib_trials", d.Ib_trials},
        {"Vb_sps", d.Vb_sps},         {"Vb_trials", d.Vb_trials},
        {"Vbias_sps", d.Vbias_sps},   {"Vbias_trials", d.Vbias_trials},
        {"offset_Ik", d.offset_Ik},   {"offset_Ib", d.offset_Ib},
    };
    for (const auto& c : conv) {
        uprintf("// %s: %u\r\n", c.name, u(c.v));
    }
    uprintf("//\r\n");
    wait_consoleTx();
    uprintf("// output: %u\r\n", u(d.output));
    uprintf("// test_mode: %u\r\n", u(d.test_mode));
    uprintf("// fast_mode: %u\r\n", u(d.fast_mode));
    uprintf("// solenoid_on2hold_msec: %u msec\r\n", u(d.solenoid_on2hold_msec));
    uprintf("// solenoid_hold_pwm: %u\r\n", u(d.solenoid_hold_pwm));
    uprintf("// solenoid_holdtime: %u sec\r\n", u(d.solenoid_holdtime));
    uprintf("// baud_rate: %u\r\n", u(d.baud_rate));
    uprintf("//\r\n");
    wait_consoleTx();
    print_write_config_data_fields(1, 0, 1);
    wait_consoleTx();
    uprintf("//\r\n");
    for (unsigned i = 0; i < sizeof APP_CFG_NAMES / sizeof APP_CFG_NAMES[0]; ++i) {
        uprintf("// app_cfg[%s]: %u\r\n", APP_CFG_NAMES[i], u(d.app_cfg[i]));
    }
    uprintf("//\r\n");
    wait_consoleTx();
    uprintf("// GMT: %u\r\n", u(d.GMT));
    uprintf("// sample_aligned: %u\r\n", u(d.sample_aligned));
    uprintf("// deploy_time: %u\r\n", u(d.deploy_time));
    uprintf("// start_pump_time: ");
    print_time_t_Time(d.start_pump_time);
    uprintf("\r\n");
    uprintf("// pHOffset: %.6f\r\n", f(d.pHOffset));
    uprintf("// pHSlope:  %.6f\r\n", f(d.pHSlope));
    uprintf("// TCSlope: %.6f\r\n", f(d.TCSlope));
    uprintf("// sensor_ctd_TC:  %.6f\r\n", f(d.sensor_ctd_TC));
    uprintf("// sensor_optode_TC:  %.6f\r\n", f(d.sensor_optode_TC));
    for (unsigned i = 0; i < 4; ++i) {
        uprintf("// spare[%u] : %.6f\r\n", i, f(d.spare[i]));
    }
    wait_consoleTx();
    // Text fields are printed at most to their size, terminated or not.
    const struct {
        const char* name;
        const char* text;
        int size;
    } texts[] = {
        {"fileName", d.fileName, sizeof d.fileName},
        {"user", d.user, sizeof d.user},
        {"board_SN", d.board_SN, sizeof d.board_SN},
        {"tamb_SN", d.tamb_SN, sizeof d.tamb_SN},
        {"durafet_SN", d.durafet_SN, sizeof d.durafet_SN},
        {"package_name", d.package_name, sizeof d.package_name},
        {"optode_SN", d.optode_SN, sizeof d.optode_SN},
        {"ctd_SN", d.ctd_SN, sizeof d.ctd_SN},
        {"pump1_SN", d.pump_SN, sizeof d.pump_SN},
        {"pump2_SN", d.pump2_SN, sizeof d.pump2_SN},
        {"deploy_note", d.deploy_note, sizeof d.deploy_note},
        {"board_fab_note", d.board_fab_note, sizeof d.board_fab_note},
    };
    for (const auto& t : texts) {
        uprintf("// %s: %.*s\r\n", t.name, t.size, t.text);
    }
    uprintf("//\r\n");
    wait_consoleTx();
}

void enter_metadata()
{
    const MetaField fields[] = {
        {sys_data.fileName, sizeof sys_data.fileName,
         "\r\nEnter data file name (no spaces, 8.3 format) [%s]: ", 13, "\r\nFile name now: %s\r\n"},
        {sys_data.user, sizeof sys_data.user, "\r\nEnter user initials [%s]: ", 7,
         "\r\nUser initials now: %s\r\n"},
        {sys_data.board_SN, sizeof sys_data.board_SN, "\r\nEnter VARVE Serial # [%s]: ", 23,
         "\r\nBoard Serial #: %s\r\n"},
        {sys_data.tamb_SN, sizeof sys_data.tamb_SN, "\r\nEnter TAMB Serial # [%s]: ", 23,
         "\r\nTAMB Serial #: %s\r\n"},
        {sys_data.board_fab_note, sizeof sys_data.board_fab_note,
         "\r\nEnter board Fabrication notes [%s]: ", 79, "\r\nBoard Fab notes: %s\r\n"},
        {sys_data.package_name, sizeof sys_data.package_name, "\r\nEnter Package name [%s]: ", 31,
         "\r\nPackage name: %s\r\n"},
        {sys_data.durafet_SN, sizeof sys_data.durafet_SN, "\r\nEnter Durafet Serial # [%s]: ", 23,
         "\r\nDurafet Serial #: %s\r\n"},
        {sys_data.optode_SN, sizeof sys_data.optode_SN, "\r\nEnter Optode Serial # [%s]: ", 23,
         "\r\nOptode Serial #: %s\r\n"},
        {sys_data.ctd_SN, sizeof sys_data.ctd_SN, "\r\nEnter Conductivity Serial # [%s]: ", 23,
         "\r\nConductivity Serial #: %s\r\n"},
        {sys_data.pump_SN, sizeof sys_data.pump_SN, "\r\nEnter Pump1 Serial #  [%s]: ", 23,
         "\r\nPump Serial #: %s\r\n"},
        {sys_data.pump2_SN, sizeof sys_data.pump2_SN, "\r\nEnter Pump2 Serial #  [%s]: ", 23,
         "\r\nPump Serial #: %s\r\n"},
    };
    char reply[TEXT_REPLY];
    for (const MetaField& m : fields) {
        terminate(m.field, m.size);
        uprintf(m.prompt, m.field);
        if (getUserInput(reply, m.limit) > 0) {
            copy_text(m.field, m.size, reply);
            uprintf(m.confirm, m.field);
        }
    }
}
