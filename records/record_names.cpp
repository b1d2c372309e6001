// Names of the indexed fields' elements and of the enumerated values of
// the stored records (records/record_fields.h).  A unit of their own: the
// record editor links them without the field tables, which only the
// simulator's board tool uses.
#include "records/record_fields.h"

#include "records/data_fields.h"

namespace {

// The name of the data field at `index` in data_cfg.
constexpr const char* data_cfg_name(unsigned index)
{
    for (const DataField& f : DATA_FIELDS) {
        if (f.index == index) {
            return f.name;
        }
    }
    return nullptr;
}

} // namespace

static_assert(DATA_CFG_SIZE == 32);
#define DATA_CFG_NAMES_4(i) data_cfg_name(i), data_cfg_name(i + 1), data_cfg_name(i + 2), data_cfg_name(i + 3)
const char* const DATA_CFG_NAMES[DATA_CFG_SIZE] = {
    DATA_CFG_NAMES_4(0),  DATA_CFG_NAMES_4(4),  DATA_CFG_NAMES_4(8),  DATA_CFG_NAMES_4(12),
    DATA_CFG_NAMES_4(16), DATA_CFG_NAMES_4(20), DATA_CFG_NAMES_4(24), DATA_CFG_NAMES_4(28),
};
#undef DATA_CFG_NAMES_4

const char* const APP_CFG_NAMES[APP_CFG_NAMED] = {
    "APPCFG_SAMPLING_DIAG", "APPCFG_TEMPC_SH_ALG",    "APPCFG_MICROSD_ENABLE",
    "APPCFG_MENU_LEVEL",    "APPCFG_DEPLOY_UARTECHO", "APPCFG_EXEC_SWITCHERONI",
};

const char* const DEPLOY_STATE_NAMES[DEPLOY_STATE_VALUES] = {"IDLE", "START", "DEPLOYED", "COMMAND"};
const char* const OUTPUT_MODE_NAMES[OUTPUT_MODE_VALUES] = {nullptr, "NORMAL", "VERBOSE"};
