// The data fields of the sample record, in one table: for each field its
// index in data_cfg, its letter in the data-field menu, its line in the
// data-field listing, its column names in the data header, how the record
// prints its value and where the value comes from, and the fields its
// letter switches on and off.  The table lies in the record's column order,
// which is also the listing's order; the record builder, the header writer,
// the listing, the menu and the record editor's names are all driven by it,
// so a field's header column and its record column cannot drift apart.
#pragma once

#include "records/system_data.h"

#include <cstddef>
#include <cstdint>

// Column names of the fields that hold a text of several values (each name
// followed by its tab).  The sample record gives each of these fields exactly
// as many columns as it has names, so the record's columns stay under their
// names whatever the instrument sent.
inline constexpr char HEADER_OPTODE[] =
    "Opt_PN\tOpt_SN\tMoxy\tO2satper\tTC_opt\tDphase\tBphase\tRphase\tBamp\tBpot\tRamp\tOpt_rawtemp\t";
// The SBE37's "ts" line holds temperature, conductivity, salinity, date and
// time (no pressure sensor: the parser takes the salinity from the third
// value), so it has no pressure column.
inline constexpr char HEADER_CTD_SBE37[] = "TC_MCat\tCond\tpSal\tDate_MC\tTime_MC\t";
inline constexpr char HEADER_CTD_AAND5860[] = "Cond_PN\tCond_SN\tCond\tTemp\tSal\tDensity \tSSpeed\t";
inline constexpr char HEADER_OCR[] = "OCR_PN  \tChan_1 \tChan_2 \tChan_3 \tChan_4 \t";
// The pump text follows the data fields when the pump sequence reports it
// (pump_seq_type 2); it is not a data field of its own.
inline constexpr char HEADER_PUMP[] = "   Pump\t";

// Number of columns of a column-name text (its tabs).
constexpr int header_columns(const char* names)
{
    int n = 0;
    for (; *names != '\0'; ++names) {
        if (*names == '\t') {
            ++n;
        }
    }
    return n;
}

// A text the record takes from a buffer: at most `size` bytes, terminated
// or not.
struct SampleText {
    const char* buf = "";
    std::size_t size = 0;
};

// What one sample measured and computed: the values the record prints.
struct SampleValues {
    uint32_t sample_num = 0;
    SampleText stamp;
    float vbat = 0, bias_pos = 0, bias_neg = 0, brd_temp = 0;
    uint32_t humidity = 0;
    float vtherm = 0, vtherm_std = 0, temp_c = 0;
    float vrsi = 0, vrsi_std = 0, ph_int = 0;
    float vrse = 0, vrse_std = 0, ph_ext = 0;
    float vrsi_b = 0, vrsi_b_std = 0, vrse_b = 0, vrse_b_std = 0;
    float vk = 0, vk_std = 0, ik = 0, ib = 0;
    SampleText optode, ctd, ocr;
};

// How the record prints a field's value.
enum class DataKind : uint8_t {
    Count,   // an unsigned count, `format` with one %u
    Real,    // a measured or computed value, `format` with one %f
    Text,    // a text, `format` with one %s (the time stamp)
    Columns, // an instrument's text of several values, one column per header name
    Spare,   // a reserved byte: no listing line, no column
};

// A question the upper-case letter asks after switching its fields.
enum class DataAsk : uint8_t { None, Timestamp, Ctd };

// A value of a field with several types (the time stamp, the CTD): its
// header columns (nullptr: no column) and the note its listing line ends
// with.  A value that has no choice gives no listing line and no column.
struct DataChoice {
    uint8_t value;
    const char* header;
    const char* note;
};

constexpr uint32_t field_bit(data_cfg_index i)
{
    return uint32_t{1} << i;
}

struct DataField {
    data_cfg_index index;
    const char* name;    // the record editor's name of the data_cfg element
    char letter;         // menu letter (upper case); 0: listed under the field before
    const char* listing; // listing label, padded up to its "="
    const char* header;  // column names of an on/off field (value not 0)
    const char* format;  // record format of a Count, Real or Text field
    DataKind kind;
    uint32_t SampleValues::*count = nullptr;
    float SampleValues::*real = nullptr;
    SampleText SampleValues::*text = nullptr;
    const DataChoice* choices = nullptr; // a field with several types
    uint8_t choice_count = 0;
    uint32_t on_set = 0;    // fields the upper-case letter sets to 1
    uint32_t on_clear = 0;  // fields the upper-case letter sets to 0 (first)
    uint32_t off_clear = 0; // fields the lower-case letter sets to 0
    DataAsk ask = DataAsk::None;
};

inline constexpr DataChoice TIMESTAMP_CHOICES[] = {
    {0, nullptr, ""},
    {1, "     MM/DD/YYYY HH:MM:SS\t", ""},
    {2, "Epoch millisec\t", ",  Epoch millisec"},
};
inline constexpr DataChoice CTD_CHOICES[] = {
    {0, nullptr, ""},
    {1, HEADER_CTD_SBE37, ",  SBE37 MicroCat"},
    {2, HEADER_CTD_AAND5860, ",  Aanderaa 5860"},
};

namespace data_fields_detail {

constexpr DataField flag(data_cfg_index i, const char* name, char letter, const char* listing,
                         const char* header, const char* format, float SampleValues::*real)
{
    DataField f{i, name, letter, listing, header, format, DataKind::Real};
    f.real = real;
    f.on_set = f.off_clear = field_bit(i);
    return f;
}

constexpr DataField with(DataField f, uint32_t on_set, uint32_t off_clear)
{
    f.on_set = on_set;
    f.off_clear = off_clear;
    return f;
}

constexpr DataField spare(data_cfg_index i, const char* name)
{
    return DataField{i, name, 0, nullptr, nullptr, nullptr, DataKind::Spare};
}

constexpr DataField count(data_cfg_index i, const char* name, char letter, const char* listing,
                          const char* header, const char* format, uint32_t SampleValues::*value)
{
    DataField f{i, name, letter, listing, header, format, DataKind::Count};
    f.count = value;
    f.on_set = f.off_clear = field_bit(i);
    return f;
}

constexpr DataField timestamp()
{
    DataField f{CFG_TIMESTAMP, "CFG_TIMESTAMP", 'B',           "MM/DD/YYYY HH:MM:SS      ",
                nullptr,       "%s\t",          DataKind::Text};
    f.text = &SampleValues::stamp;
    f.choices = TIMESTAMP_CHOICES;
    f.choice_count = 3;
    f.on_set = f.off_clear = field_bit(CFG_TIMESTAMP);
    f.ask = DataAsk::Timestamp;
    return f;
}

constexpr DataField columns(data_cfg_index i, const char* name, char letter, const char* listing,
                            const char* header, SampleText SampleValues::*text)
{
    DataField f{i, name, letter, listing, header, nullptr, DataKind::Columns};
    f.text = text;
    f.on_set = f.off_clear = field_bit(i);
    return f;
}

constexpr uint32_t B_VTHERM = field_bit(CFG_V_THERMISTOR) | field_bit(CFG_V_THERMISTOR_STD);
constexpr uint32_t B_PH = field_bit(CFG_CALC_PH_VRSI) | field_bit(CFG_CALC_PH_VRSE);

} // namespace data_fields_detail

// The data fields in the record's column order, then the reserved bytes.
inline constexpr DataField DATA_FIELDS[] = {
    // clang-format off
    data_fields_detail::count(CFG_SAMPLE_NUM, "CFG_SAMPLE_NUM", 'A', "Sample Num               ", " SampNum\t", "#%07u\t", &SampleValues::sample_num),
    data_fields_detail::timestamp(),
    data_fields_detail::flag(CFG_VIN_BAT_VOLT, "CFG_VIN_BAT_VOLT", 'C', "Battery Volt             ", "VbatMain\t", "%8.2f\t", &SampleValues::vbat),
    data_fields_detail::flag(CFG_BIAS_BAT_POS, "CFG_BIAS_BAT_POS", 'D', "Bias Battery Pos         ", "VbiasPos\t", "%8.2f\t", &SampleValues::bias_pos),
    data_fields_detail::flag(CFG_BIAS_BAT_NEG, "CFG_BIAS_BAT_NEG", 'E', "Bias Battery Neg         ", "VbiasNeg\t", "%8.2f\t", &SampleValues::bias_neg),
    data_fields_detail::flag(CFG_BRD_TEMP, "CFG_BRD_TEMP", 'F', "Board Temperature        ", " TC_cont\t", "%8.2f\t", &SampleValues::brd_temp),
    data_fields_detail::count(CFG_BRD_HUMIDITY, "CFG_BRD_HUMIDITY", 'G', "Board Humidity           ", "Humidity\t", "%8u\t", &SampleValues::humidity),
    data_fields_detail::with(data_fields_detail::flag(CFG_V_THERMISTOR, "CFG_V_THERMISTOR", 'H', "Vthermistor              ", "  Vtherm\t", "%8.6f\t", &SampleValues::vtherm),
        data_fields_detail::B_VTHERM, data_fields_detail::B_VTHERM | data_fields_detail::B_PH),
    data_fields_detail::with(data_fields_detail::flag(CFG_V_THERMISTOR_STD, "CFG_V_THERMISTOR_STD", 0, "Vtermistor Std           ", "VthrmStd\t", "%8.6f\t", &SampleValues::vtherm_std), 0, 0),
    data_fields_detail::with(data_fields_detail::flag(CFG_CALC_TEMP, "CFG_CALC_TEMP", 'I', "Temperature Calc         ", " TC_Dfet\t", "%8.3f\t", &SampleValues::temp_c),
        field_bit(CFG_CALC_TEMP), field_bit(CFG_CALC_TEMP) | data_fields_detail::B_PH),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSI, "CFG_VRSI", 'J', "Vrsi (Int Ref pH volt)   ", "    Vrsi\t", "%8.6f\t", &SampleValues::vrsi),
        field_bit(CFG_VRSI) | field_bit(CFG_VRSI_STD), field_bit(CFG_VRSI) | field_bit(CFG_VRSI_STD)),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSI_STD, "CFG_VRSI_STD", 0, "Vrsi Std                 ", "Vrsi_std\t", "%8.6f\t", &SampleValues::vrsi_std), 0, 0),
    data_fields_detail::with(data_fields_detail::flag(CFG_CALC_PH_VRSI, "CFG_CALC_PH_VRSI", 'K', "pH Vrsi Calc             ", "pHintEst\t", "%8.3f\t", &SampleValues::ph_int),
        field_bit(CFG_CALC_PH_VRSI) | data_fields_detail::B_VTHERM | field_bit(CFG_CALC_TEMP) | field_bit(CFG_VRSI), field_bit(CFG_CALC_PH_VRSI)),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSE, "CFG_VRSE", 'L', "Vrse (Ext Ref pH volt)   ", "    Vrse\t", "%8.6f\t", &SampleValues::vrse),
        field_bit(CFG_VRSE) | field_bit(CFG_VRSE_STD), field_bit(CFG_VRSE) | field_bit(CFG_VRSE_STD)),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSE_STD, "CFG_VRSE_STD", 0, "Vrse Std                 ", "Vrse_std\t", "%8.6f\t", &SampleValues::vrse_std), 0, 0),
    data_fields_detail::with(data_fields_detail::flag(CFG_CALC_PH_VRSE, "CFG_CALC_PH_VRSE", 'M', "pH Vrse Calc             ", "pHextEst\t", "%8.3f\t", &SampleValues::ph_ext),
        field_bit(CFG_CALC_PH_VRSE) | data_fields_detail::B_VTHERM | field_bit(CFG_CALC_TEMP) | field_bit(CFG_VRSE), field_bit(CFG_CALC_PH_VRSE)),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSI_BIASED, "CFG_VRSI_BIASED", 'N', "Vrsi Biased (7pH=0v)     ", "  Vrsi_B\t", "%8.6f\t", &SampleValues::vrsi_b),
        field_bit(CFG_VRSI_BIASED), field_bit(CFG_VRSI_BIASED) | field_bit(CFG_VRSI_BIASED_STD)),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSI_BIASED_STD, "CFG_VRSI_BIASED_STD", 'O', "Vrsi Biased Std          ", "VrsiBstd\t", "%8.6f\t", &SampleValues::vrsi_b_std),
        field_bit(CFG_VRSI_BIASED_STD) | field_bit(CFG_VRSI_BIASED), field_bit(CFG_VRSI_BIASED_STD)),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSE_BIASED, "CFG_VRSE_BIASED", 'P', "Vrse Biased (7pH=0v)     ", "  Vrse_B\t", "%8.6f\t", &SampleValues::vrse_b),
        field_bit(CFG_VRSE_BIASED), field_bit(CFG_VRSE_BIASED) | field_bit(CFG_VRSE_BIASED_STD)),
    data_fields_detail::with(data_fields_detail::flag(CFG_VRSE_BIASED_STD, "CFG_VRSE_BIASED_STD", 'Q', "Vrse Biased Std          ", "VrseBstd\t", "%8.6f\t", &SampleValues::vrse_b_std),
        field_bit(CFG_VRSE_BIASED_STD) | field_bit(CFG_VRSE_BIASED), field_bit(CFG_VRSE_BIASED_STD)),
    data_fields_detail::with(data_fields_detail::flag(CFG_V_COUNTER_ELECT, "CFG_V_COUNTER_ELECT", 'R', "Counter Electrode Vk     ", "      Vk\t", "%8.6f\t", &SampleValues::vk),
        field_bit(CFG_V_COUNTER_ELECT) | field_bit(CFG_V_COUNTER_ELECT_STD), field_bit(CFG_V_COUNTER_ELECT) | field_bit(CFG_V_COUNTER_ELECT_STD)),
    data_fields_detail::with(data_fields_detail::flag(CFG_V_COUNTER_ELECT_STD, "CFG_V_COUNTER_ELECT_STD", 0, "Counter Electrode Vk Std ", "  Vk_std\t", "%8.6f\t", &SampleValues::vk_std), 0, 0),
    data_fields_detail::flag(CFG_I_COUNTER, "CFG_I_COUNTER", 'T', "Counter Electrode Cur Ik ", "      Ik\t", "%8.2f\t", &SampleValues::ik),
    data_fields_detail::flag(CFG_I_SUBSTRATE, "CFG_I_SUBSTRATE", 'U', "Substrate Current        ", "      Ib\t", "%8.3f\t", &SampleValues::ib),
    [] {
        DataField f = data_fields_detail::columns(CFG_OPTODE, "CFG_OPTODE", 'V', "Optode                   ", HEADER_OPTODE, &SampleValues::optode);
        f.on_clear = field_bit(CFG_OCR);
        return f;
    }(),
    [] {
        DataField f = data_fields_detail::columns(CFG_CTD, "CFG_CTD", 'W', "Conductivity             ", nullptr, &SampleValues::ctd);
        f.choices = CTD_CHOICES;
        f.choice_count = 3;
        f.on_set = 0;
        f.on_clear = field_bit(CFG_CTD);
        f.ask = DataAsk::Ctd;
        return f;
    }(),
    [] {
        DataField f = data_fields_detail::columns(CFG_OCR, "CFG_OCR", 'X', "OCR-504                  ", HEADER_OCR, &SampleValues::ocr);
        f.on_clear = field_bit(CFG_OPTODE);
        return f;
    }(),
    data_fields_detail::spare(CFG_SPARE2, "CFG_SPARE2"),
    data_fields_detail::spare(CFG_SPARE3, "CFG_SPARE3"),
    data_fields_detail::spare(CFG_SPARE4, "CFG_SPARE4"),
    data_fields_detail::spare(CFG_SPARE5, "CFG_SPARE5"),
    data_fields_detail::spare(CFG_SPARE6, "CFG_SPARE6"),
    // clang-format on
};

// Every index of data_cfg has exactly one entry.
static_assert(sizeof DATA_FIELDS / sizeof DATA_FIELDS[0] == DATA_CFG_SIZE);
static_assert([] {
    uint32_t seen = 0;
    for (const DataField& f : DATA_FIELDS) {
        if ((seen & field_bit(f.index)) != 0) {
            return false;
        }
        seen |= field_bit(f.index);
    }
    return seen == 0xFFFFFFFFu;
}());

// The choice a field's value selects: nullptr when the value has none (no
// listing line, no column).  A field without choices always has one.
constexpr const DataChoice* data_field_choice(const DataField& f, unsigned value)
{
    for (uint8_t i = 0; i < f.choice_count; ++i) {
        if (f.choices[i].value == value) {
            return &f.choices[i];
        }
    }
    return nullptr;
}

// The column names a field's value gives the header and the record, or
// nullptr when the field has no column.
constexpr const char* data_field_header(const DataField& f, unsigned value)
{
    if (f.kind == DataKind::Spare) {
        return nullptr;
    }
    if (f.choice_count > 0) {
        const DataChoice* c = data_field_choice(f, value);
        return c != nullptr ? c->header : nullptr;
    }
    return value != 0 ? f.header : nullptr;
}

// The field whose menu letter is `upper` (an upper-case letter), or nullptr.
constexpr const DataField* data_field_of_letter(char upper)
{
    for (const DataField& f : DATA_FIELDS) {
        if (f.letter != 0 && f.letter == upper) {
            return &f;
        }
    }
    return nullptr;
}
