// The field tables of the two stored records.
#include "records/record_fields.h"

#include <cstring>
#include <type_traits>

namespace {

template <typename T> constexpr uint16_t elements()
{
    if constexpr (std::is_array_v<T>) {
        return static_cast<uint16_t>(std::extent_v<T>);
    } else {
        return 1;
    }
}

template <typename T> constexpr uint16_t element_size()
{
    return static_cast<uint16_t>(sizeof(std::remove_extent_t<T>));
}

#define SD_FIELD(kind, f)                                                                                    \
    RecordField                                                                                              \
    {                                                                                                        \
#f, static_cast < uint16_t>(offsetof(systemData, f)), element_size < decltype(systemData::f)>(),     \
            elements < decltype(systemData::f)>(), FieldKind::kind, nullptr, 0                               \
    }
#define SD_INDEXED(kind, f, names)                                                                           \
    RecordField                                                                                              \
    {                                                                                                        \
#f, static_cast < uint16_t>(offsetof(systemData, f)), element_size < decltype(systemData::f)>(),     \
            elements < decltype(systemData::f)>(), FieldKind::kind, names,                                   \
            static_cast < uint16_t>(sizeof(names) / sizeof(names[0]))                                        \
    }
#define SD_TEXT(f)                                                                                           \
    RecordField                                                                                              \
    {                                                                                                        \
#f, static_cast < uint16_t>(offsetof(systemData, f)),                                                \
            static_cast < uint16_t>(sizeof(systemData::f)), 1, FieldKind::Text, nullptr, 0                   \
    }
#define QA_FIELD(kind, f)                                                                                    \
    RecordField                                                                                              \
    {                                                                                                        \
        "qa." #f, static_cast<uint16_t>(offsetof(systemData, qa) + offsetof(qaData, f)),                     \
            element_size<decltype(qaData::f)>(), elements<decltype(qaData::f)>(), FieldKind::kind, nullptr,  \
            0                                                                                                \
    }
#define QA_TEXT(f)                                                                                           \
    RecordField                                                                                              \
    {                                                                                                        \
        "qa." #f, static_cast<uint16_t>(offsetof(systemData, qa) + offsetof(qaData, f)),                     \
            static_cast<uint16_t>(sizeof(qaData::f)), 1, FieldKind::Text, nullptr, 0                         \
    }
#define SS_FIELD(kind, f)                                                                                    \
    RecordField                                                                                              \
    {                                                                                                        \
#f, static_cast < uint16_t>(offsetof(systemSamplingData, f)),                                        \
            element_size < decltype(systemSamplingData::f)>(),                                               \
            elements < decltype(systemSamplingData::f)>(), FieldKind::kind, nullptr, 0                       \
    }

constexpr RecordField SYS_DATA_FIELDS[] = {
    SD_FIELD(U32, sampling_period),
    SD_FIELD(U32, chksum),
    SD_FIELD(U32, averaging_interval),
    SD_FIELD(F32, low_batt_volt),
    SD_FIELD(F32, TCOffset),
    SD_FIELD(F32, TCSlope),
    SD_FIELD(F32, k0ext),
    SD_FIELD(F32, k0int),
    SD_FIELD(F32, k2ext),
    SD_FIELD(F32, k2int),
    SD_FIELD(F64, quadTherm_c0),
    SD_FIELD(F64, quadTherm_c1),
    SD_FIELD(F64, quadTherm_c2),
    SD_FIELD(F64, quadTherm_c3),
    SD_FIELD(F64, shTherm_A),
    SD_FIELD(F64, shTherm_B),
    SD_FIELD(F64, shTherm_C),
    SD_FIELD(F32, default_sal),
    SD_FIELD(U32, Vrsi_sps),
    SD_FIELD(U32, Vrsi_trials),
    SD_FIELD(U32, Vrse_sps),
    SD_FIELD(U32, Vrse_trials),
    SD_FIELD(U32, Vtherm_sps),
    SD_FIELD(U32, Vtherm_trials),
    SD_FIELD(U32, Ik_sps),
    SD_FIELD(U32, Ik_trials),
    SD_FIELD(U32, Vk_sps),
    SD_FIELD(U32, Vk_trials),
    SD_FIELD(U32, Ib_sps),
    SD_FIELD(U32, Ib_trials),
    SD_FIELD(U32, Vb_sps),
    SD_FIELD(U32, Vb_trials),
    SD_FIELD(U32, Vbias_sps),
    SD_FIELD(U32, Vbias_trials),
    SD_FIELD(U32, offset_Ik),
    SD_FIELD(U32, offset_Ib),
    SD_FIELD(OutputMode, output),
    SD_FIELD(U32, test_mode),
    SD_FIELD(U32, fast_mode),
    SD_FIELD(U32, solenoid_on2hold_msec),
    SD_FIELD(U32, solenoid_hold_pwm),
    SD_FIELD(U32, solenoid_holdtime),
    SD_FIELD(U32, baud_rate),
    SD_INDEXED(U8, data_cfg, DATA_CFG_NAMES),
    SD_INDEXED(U8, app_cfg, APP_CFG_NAMES),
    SD_FIELD(U8, GMT),
    SD_FIELD(U8, sample_aligned),
    SD_FIELD(U32, diag),
    SD_FIELD(U32, debug_flag),
    SD_FIELD(U32, deploy_time),
    SD_FIELD(U32, start_pump_time),
    SD_FIELD(U32, pump_seq_type),
    SD_FIELD(U32, sampleCnt_duty_on),
    SD_FIELD(U32, sampleCnt_duty_off),
    SD_FIELD(U32, pump1_cycles),
    SD_FIELD(U32, pump2_cycles),
    SD_FIELD(U32, pump1_ontime),
    SD_FIELD(U32, pump2_ontime),
    SD_FIELD(U32, pump_spare),
    SD_FIELD(F32, pHOffset),
    SD_FIELD(F32, pHSlope),
    SD_FIELD(F32, sensor_ctd_TC),
    SD_FIELD(F32, sensor_optode_TC),
    SD_FIELD(F32, spare),
    SD_TEXT(fileName),
    SD_TEXT(user),
    SD_TEXT(board_SN),
    SD_TEXT(tamb_SN),
    SD_TEXT(durafet_SN),
    SD_TEXT(package_name),
    SD_TEXT(optode_SN),
    SD_TEXT(ctd_SN),
    SD_TEXT(pump_SN),
    SD_TEXT(pump2_SN),
    SD_TEXT(pump3_SN),
    SD_TEXT(board_fab_note),
    SD_TEXT(deploy_note),
    QA_FIELD(U32, microSD),
    QA_FIELD(U32, time),
    QA_FIELD(U32, test_time),
    QA_FIELD(U32, eeprom),
    QA_FIELD(U32, sys_data_init),
    QA_FIELD(U32, fram),
    QA_FIELD(U32, adc12onchip),
    QA_FIELD(U32, adc24),
    QA_FIELD(F32, Vrsi),
    QA_FIELD(F32, Vrsi_std),
    QA_FIELD(F32, Vrsi_err),
    QA_FIELD(F32, Vrse),
    QA_FIELD(F32, Vrse_std),
    QA_FIELD(F32, Vrse_err),
    QA_FIELD(F32, Vtherm),
    QA_FIELD(F32, Vtherm_std),
    QA_FIELD(F32, Vtherm_err),
    QA_FIELD(F32, Ik),
    QA_FIELD(F32, Ik_std),
    QA_FIELD(F32, Ik_err),
    QA_FIELD(F32, Vk),
    QA_FIELD(F32, Vk_std),
    QA_FIELD(F32, Vk_err),
    QA_FIELD(F32, Ib),
    QA_FIELD(F32, Ib_std),
    QA_FIELD(F32, Ib_err),
    QA_FIELD(F32, Vb),
    QA_FIELD(F32, Vb_std),
    QA_FIELD(F32, Vb_err),
    QA_FIELD(F32, Vbias_pos),
    QA_FIELD(F32, Vbias_neg),
    QA_FIELD(U32, aux_pwr1),
    QA_FIELD(U32, aux_pwr2),
    QA_FIELD(U32, aux_pwr3),
    QA_FIELD(U32, ctd),
    QA_FIELD(U32, optode),
    QA_FIELD(U32, comm_pwr),
    QA_TEXT(tester),
    QA_TEXT(firmware_version),
};

constexpr RecordField SYS_SAMP_FIELDS[] = {
    SS_FIELD(DeployState, state),  SS_FIELD(U32, nextWakeUp), SS_FIELD(U32, next_gdata_fptr),
    SS_FIELD(U32, current_sample), SS_FIELD(F32, AD24_std),   SS_FIELD(F32, sensor_sal),
    SS_FIELD(F32, spare1),         SS_FIELD(F32, spare2),     SS_FIELD(F32, spare3),
    SS_FIELD(F32, spare4),         SS_FIELD(U32, initNum),    SS_FIELD(U32, pump_seq_state),
    SS_FIELD(U32, pump1_cnt),      SS_FIELD(U32, pump2_cnt),  SS_FIELD(U32, start_pump_cntdown),
};

#undef SD_FIELD
#undef SD_INDEXED
#undef SD_TEXT
#undef QA_FIELD
#undef QA_TEXT
#undef SS_FIELD

constexpr uint16_t kind_size(FieldKind k)
{
    switch (k) {
    case FieldKind::U8:
    case FieldKind::OutputMode:
        return 1;
    case FieldKind::F64:
        return 8;
    case FieldKind::Text:
        return 0; // any width
    default:
        return 4;
    }
}

// A table describes its record completely: fields in stored order, none
// overlapping, each element as wide as its kind, and between them (and after
// the last) no more than the padding the next field's alignment needs.
template <std::size_t N> constexpr bool describes(const RecordField (&fields)[N], std::size_t record_size)
{
    std::size_t end = 0;
    for (const RecordField& f : fields) {
        const uint16_t width = kind_size(f.kind);
        if ((width != 0 && f.elem_size != width) || f.offset < end) {
            return false;
        }
        const std::size_t align = width == 0 ? 1 : width;
        if (f.offset - end >= align) {
            return false; // a gap wider than padding: a field is missing
        }
        if (f.index_name_count > f.count) {
            return false;
        }
        end = f.offset + static_cast<std::size_t>(f.elem_size) * f.count;
    }
    return end <= record_size && record_size - end < 8;
}

static_assert(describes(SYS_DATA_FIELDS, sizeof(systemData)), "SYS_DATA_FIELDS must describe systemData");
static_assert(describes(SYS_SAMP_FIELDS, sizeof(systemSamplingData)),
              "SYS_SAMP_FIELDS must describe systemSamplingData");

} // namespace

const RecordLayout SYS_DATA_LAYOUT = {
    "sys_data", SYS_DATA_FIELDS, static_cast<uint16_t>(sizeof SYS_DATA_FIELDS / sizeof SYS_DATA_FIELDS[0]),
    static_cast<uint16_t>(sizeof(systemData))};
const RecordLayout SYS_SAMP_LAYOUT = {
    "sys_samp", SYS_SAMP_FIELDS, static_cast<uint16_t>(sizeof SYS_SAMP_FIELDS / sizeof SYS_SAMP_FIELDS[0]),
    static_cast<uint16_t>(sizeof(systemSamplingData))};

const RecordField* record_field_find(const RecordLayout& layout, const char* name, std::size_t len)
{
    for (uint16_t i = 0; i < layout.field_count; ++i) {
        const RecordField& f = layout.fields[i];
        if (std::strlen(f.name) == len && std::strncmp(f.name, name, len) == 0) {
            return &f;
        }
    }
    return nullptr;
}

int record_field_index(const RecordField& field, const char* name, std::size_t len)
{
    for (uint16_t i = 0; i < field.index_name_count; ++i) {
        const char* n = field.index_names[i];
        if (std::strlen(n) == len && std::strncmp(n, name, len) == 0) {
            return i;
        }
    }
    return -1;
}
