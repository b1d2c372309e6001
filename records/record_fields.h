// The fields of the two stored records by name: where each lies in the
// record, how wide it is, what kind of value it holds and, for the indexed
// fields, the names of their elements.  Built from the record definitions
// (offsetof, sizeof), so anything that reads or writes a field by its name
// works on the stored layout itself.
#pragma once

#include "records/system_data.h"

#include <cstddef>
#include <cstdint>

enum class FieldKind : uint8_t {
    U8,          // unsigned char
    U32,         // uint32_t
    I32,         // int32_t
    F32,         // float
    F64,         // double
    Text,        // char[N], terminated within the field
    OutputMode,  // output_mode (one byte): NORMAL, VERBOSE
    DeployState, // int32_t holding a deploy_state: IDLE, START, DEPLOYED, COMMAND
};

struct RecordField {
    const char* name;   // as written in the record: "sampling_period", "qa.tester"
    uint16_t offset;    // byte offset in the record
    uint16_t elem_size; // bytes of one element (a text: the whole field)
    uint16_t count;     // elements: 1 for a single value or a text
    FieldKind kind;
    const char* const* index_names; // names of the elements by index (nullptr: none)
    uint16_t index_name_count;      // named elements (the first ones)
};

struct RecordLayout {
    const char* name; // "sys_data", "sys_samp"
    const RecordField* fields;
    uint16_t field_count;
    uint16_t size; // sizeof the record
};

// The configuration record (EEPROM) and the progress record (FRAM), fields
// in the order they are stored.
extern const RecordLayout SYS_DATA_LAYOUT;
extern const RecordLayout SYS_SAMP_LAYOUT;

// Names of the data_cfg and app_cfg indices, in index order.
constexpr std::size_t APP_CFG_NAMED = 6;
extern const char* const DATA_CFG_NAMES[DATA_CFG_SIZE];
extern const char* const APP_CFG_NAMES[APP_CFG_NAMED];
// Names of the values of the deploy_state and output_mode fields (indexed by
// value; nullptr where a value has no name).
constexpr std::size_t DEPLOY_STATE_VALUES = 4;
constexpr std::size_t OUTPUT_MODE_VALUES = 3;
extern const char* const DEPLOY_STATE_NAMES[DEPLOY_STATE_VALUES];
extern const char* const OUTPUT_MODE_NAMES[OUTPUT_MODE_VALUES];

// The field named by the `len` characters at `name`, or nullptr.
const RecordField* record_field_find(const RecordLayout& layout, const char* name, std::size_t len);
// The element named by the `len` characters at `name` (one of the field's
// index names), or -1.
int record_field_index(const RecordField& field, const char* name, std::size_t len);
