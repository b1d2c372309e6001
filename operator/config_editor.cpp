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

namespace {

// One step of the record dump. A field is named as in the records' field
// table, which gives where it lies, its kind and its elements; the dump
// adds only its order, the separators and the few lines printed their own
// way.
enum class DumpStep : uint8_t {
    Field,      // a field of the configuration record
    Progress,   // a field of the progress record
    Time,       // a time field, printed as a date and time
    Line,       // `name` printed as it is
    Wait,       // the console's transmit buffer drains
    DataFields, // the data-field listing
};

// How a field's line differs from "// NAME: VALUE" (the few the dump has).
enum class DumpLook : uint8_t {
    Plain,
    WideColon,   // "chksum:          0"
    TwoSpaces,   // "pHSlope:  1.000000"
    SpacedColon, // "spare[0] : 0.000000"
    Msec,        // "... 100 msec"
    Sec,         // "... 10 sec"
    Pump1,       // pump_SN printed as "pump1_SN"
};

struct LookText {
    const char* label; // printed instead of the field's name (nullptr: the name)
    const char* colon; // between the name and the value
    const char* unit;  // after the value
};

constexpr LookText LOOK_TEXT[] = {
    {nullptr, ": ", ""},      {nullptr, ":          ", ""}, {nullptr, ":  ", ""},   {nullptr, " : ", ""},
    {nullptr, ": ", " msec"}, {nullptr, ": ", " sec"},      {"pump1_SN", ": ", ""},
};
static_assert(sizeof LOOK_TEXT / sizeof LOOK_TEXT[0] == static_cast<std::size_t>(DumpLook::Pump1) + 1,
              "one LOOK_TEXT entry per DumpLook");

// Eight bytes a line: the list stays small in flash.
struct DumpLine {
    const char* name = nullptr; // the field's name in the table (Line: the text)
    DumpStep step = DumpStep::Field;
    DumpLook look = DumpLook::Plain;
    uint8_t decimals = 0; // of a float (0: 6 for a float, 11 for a double)
    uint8_t elements = 0; // of an array: the first ones (0: all, or the named ones)
};

constexpr DumpLine SEPARATOR{.name = "//\r\n", .step = DumpStep::Line};
constexpr DumpLine WAIT{.step = DumpStep::Wait};

constexpr DumpLine DUMP[] = {
    {.name = "sampling_period"},
    {.name = "chksum", .look = DumpLook::WideColon},
    {.name = "averaging_interval"},
    {.name = "pump1_ontime"},
    {.name = "low_batt_volt", .decimals = 2},
    {.name = "\r\n", .step = DumpStep::Line},
    {.name = "TCOffset"},
    {.name = "k0ext"},
    {.name = "k0int"},
    {.name = "k2ext"},
    {.name = "k2int"},
    {.name = "quadTherm_c0"},
    {.name = "quadTherm_c1"},
    {.name = "quadTherm_c2"},
    {.name = "quadTherm_c3"},
    {.name = "shTherm_A"},
    {.name = "shTherm_B"},
    {.name = "shTherm_C"},
    {.name = "default_sal"},
    {.name = "sensor_sal", .step = DumpStep::Progress},
    SEPARATOR,
    WAIT,
    {.name = "Vrsi_sps"},
    {.name = "Vrsi_trials"},
    {.name = "Vrse_sps"},
    {.name = "Vrse_trials"},
    {.name = "Vtherm_sps"},
    {.name = "Vtherm_trials"},
    {.name = "Ik_sps"},
    {.name = "Ik_trials"},
    {.name = "Vk_sps"},
    {.name = "Vk_trials"},
    {.name = "Ib_sps"},
    {.name = "Ib_trials"},
    {.name = "Vb_sps"},
    {.name = "Vb_trials"},
    {.name = "Vbias_sps"},
    {.name = "Vbias_trials"},
    {.name = "offset_Ik"},
    {.name = "offset_Ib"},
    SEPARATOR,
    WAIT,
    {.name = "output"},
    {.name = "test_mode"},
    {.name = "fast_mode"},
    {.name = "solenoid_on2hold_msec", .look = DumpLook::Msec},
    {.name = "solenoid_hold_pwm"},
    {.name = "solenoid_holdtime", .look = DumpLook::Sec},
    {.name = "baud_rate"},
    SEPARATOR,
    WAIT,
    {.step = DumpStep::DataFields},
    WAIT,
    SEPARATOR,
    {.name = "app_cfg"},
    SEPARATOR,
    WAIT,
    {.name = "GMT"},
    {.name = "sample_aligned"},
    {.name = "deploy_time"},
    {.name = "start_pump_time", .step = DumpStep::Time},
    {.name = "pHOffset"},
    {.name = "pHSlope", .look = DumpLook::TwoSpaces},
    {.name = "TCSlope"},
    {.name = "sensor_ctd_TC", .look = DumpLook::TwoSpaces},
    {.name = "sensor_optode_TC", .look = DumpLook::TwoSpaces},
    {.name = "spare", .look = DumpLook::SpacedColon, .elements = 4},
    WAIT,
    {.name = "fileName"},
    {.name = "user"},
    {.name = "board_SN"},
    {.name = "tamb_SN"},
    {.name = "durafet_SN"},
    {.name = "package_name"},
    {.name = "optode_SN"},
    {.name = "ctd_SN"},
    {.name = "pump_SN", .look = DumpLook::Pump1},
    {.name = "pump2_SN"},
    {.name = "deploy_note"},
    {.name = "board_fab_note"},
    SEPARATOR,
    WAIT,
};

// One element of a field, on one line. Texts are printed at most to their
// size, terminated or not.
void dump_value(const DumpLine& line, const RecordField& f, const uint8_t* at, const char* label)
{
    const LookText& look = LOOK_TEXT[static_cast<uint8_t>(line.look)];
    switch (f.kind) {
    case FieldKind::F32:
    case FieldKind::F64: {
        double v = 0.0;
        int decimals = line.decimals;
        if (f.kind == FieldKind::F32) {
            float x = 0.0f;
            std::memcpy(&x, at, sizeof x);
            v = static_cast<double>(x);
            decimals = decimals == 0 ? 6 : decimals;
        } else {
            std::memcpy(&v, at, sizeof v);
            decimals = decimals == 0 ? 11 : decimals;
        }
        uprintf("// %s%s%.*f%s\r\n", label, look.colon, decimals, v, look.unit);
        break;
    }
    case FieldKind::Text:
        uprintf("// %s%s%.*s%s\r\n", label, look.colon, static_cast<int>(f.elem_size),
                reinterpret_cast<const char*>(at), look.unit);
        break;
    case FieldKind::U8:
    case FieldKind::OutputMode:
        uprintf("// %s%s%u%s\r\n", label, look.colon, static_cast<unsigned>(*at), look.unit);
        break;
    default: {
        uint32_t v = 0;
        std::memcpy(&v, at, sizeof v);
        if (line.step == DumpStep::Time) {
            uprintf("// %s%s", label, look.colon);
            print_time_t_Time(v);
            uprintf("\r\n");
        } else {
            uprintf("// %s%s%u%s\r\n", label, look.colon, static_cast<unsigned>(v), look.unit);
        }
        break;
    }
    }
}

// A field's lines: one, or one per element of an array (its named elements
// when it has names).
void dump_field(const DumpLine& line)
{
    const bool progress = line.step == DumpStep::Progress;
    const RecordLayout& layout = progress ? SYS_SAMP_LAYOUT : SYS_DATA_LAYOUT;
    const uint8_t* record =
        progress ? reinterpret_cast<const uint8_t*>(&sys_samp) : reinterpret_cast<const uint8_t*>(&sys_data);
    const RecordField* f = record_field_find(layout, line.name, std::strlen(line.name));
    if (f == nullptr) {
        return;
    }
    const char* renamed = LOOK_TEXT[static_cast<uint8_t>(line.look)].label;
    const char* name = renamed != nullptr ? renamed : f->name;
    const uint8_t* at = record + f->offset;
    if (f->count == 1 || f->kind == FieldKind::Text) {
        dump_value(line, *f, at, name);
        return;
    }
    unsigned n = f->index_names != nullptr ? f->index_name_count : f->count;
    if (line.elements != 0 && line.elements < n) {
        n = line.elements;
    }
    for (unsigned i = 0; i < n; ++i) {
        char label[48];
        if (f->index_names != nullptr) {
            std::snprintf(label, sizeof label, "%s[%s]", name, f->index_names[i]);
        } else {
            std::snprintf(label, sizeof label, "%s[%u]", name, i);
        }
        dump_value(line, *f, at + static_cast<std::size_t>(i) * f->elem_size, label);
    }
}

} // namespace

void print_sys_data_structure()
{
    uprintf("\r\n");
    uprintf("// ------ sys_data EEPROM structure, size = %u ---- \r\n",
            static_cast<unsigned>(sizeof(systemData)));
    for (const DumpLine& line : DUMP) {
        switch (line.step) {
        case DumpStep::Line:
            uprintf("%s", line.name);
            break;
        case DumpStep::Wait:
            wait_consoleTx();
            break;
        case DumpStep::DataFields:
            print_write_config_data_fields(1, 0, 1);
            break;
        default:
            dump_field(line);
            break;
        }
    }
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
