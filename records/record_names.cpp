// Names of the indexed fields' elements and of the enumerated values of
// the stored records (records/record_fields.h).  A unit of their own: the
// record editor links them without the field tables, which only the
// simulator's board tool uses.
#include "records/record_fields.h"

const char* const DATA_CFG_NAMES[DATA_CFG_SIZE] = {
    "CFG_SAMPLE_NUM",
    "CFG_TIMESTAMP",
    "CFG_V_THERMISTOR",
    "CFG_V_THERMISTOR_STD",
    "CFG_CALC_TEMP",
    "CFG_VRSI",
    "CFG_VRSI_STD",
    "CFG_CALC_PH_VRSI",
    "CFG_VRSE",
    "CFG_VRSE_STD",
    "CFG_CALC_PH_VRSE",
    "CFG_VRSI_BIASED",
    "CFG_VRSI_BIASED_STD",
    "CFG_VRSE_BIASED",
    "CFG_VRSE_BIASED_STD",
    "CFG_V_COUNTER_ELECT",
    "CFG_V_COUNTER_ELECT_STD",
    "CFG_I_COUNTER",
    "CFG_I_SUBSTRATE",
    "CFG_VIN_BAT_VOLT",
    "CFG_BIAS_BAT_POS",
    "CFG_BIAS_BAT_NEG",
    "CFG_BRD_TEMP",
    "CFG_BRD_HUMIDITY",
    "CFG_OPTODE",
    "CFG_CTD",
    "CFG_OCR",
    "CFG_SPARE2",
    "CFG_SPARE3",
    "CFG_SPARE4",
    "CFG_SPARE5",
    "CFG_SPARE6",
};

const char* const APP_CFG_NAMES[APP_CFG_NAMED] = {
    "APPCFG_SAMPLING_DIAG", "APPCFG_TEMPC_SH_ALG",    "APPCFG_MICROSD_ENABLE",
    "APPCFG_MENU_LEVEL",    "APPCFG_DEPLOY_UARTECHO", "APPCFG_EXEC_SWITCHERONI",
};

const char* const DEPLOY_STATE_NAMES[DEPLOY_STATE_VALUES] = {"IDLE", "START", "DEPLOYED", "COMMAND"};
const char* const OUTPUT_MODE_NAMES[OUTPUT_MODE_VALUES] = {nullptr, "NORMAL", "VERBOSE"};
