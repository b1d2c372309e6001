// The configuration record (EEPROM) and the deployment-progress record
// (FRAM).  Their byte images are stored as they lie in memory, so the field
// order, widths and padding below are a stored format.
#pragma once

#include <cstddef>
#include <cstdint>

enum BOOL : uint8_t { FALSE = 0, TRUE = 1 };
enum deploy_state : uint8_t { IDLE = 0, START = 1, DEPLOYED = 2, COMMAND = 3 };
enum output_mode : uint8_t { NORMAL = 1, VERBOSE = 2 };

// Data-field selection, one byte per field of the data record.
enum data_cfg_index : uint8_t {
    CFG_SAMPLE_NUM = 0,
    CFG_TIMESTAMP = 1,
    CFG_V_THERMISTOR = 2,
    CFG_V_THERMISTOR_STD = 3,
    CFG_CALC_TEMP = 4,
    CFG_VRSI = 5,
    CFG_VRSI_STD = 6,
    CFG_CALC_PH_VRSI = 7,
    CFG_VRSE = 8,
    CFG_VRSE_STD = 9,
    CFG_CALC_PH_VRSE = 10,
    CFG_VRSI_BIASED = 11,
    CFG_VRSI_BIASED_STD = 12,
    CFG_VRSE_BIASED = 13,
    CFG_VRSE_BIASED_STD = 14,
    CFG_V_COUNTER_ELECT = 15,
    CFG_V_COUNTER_ELECT_STD = 16,
    CFG_I_COUNTER = 17,
    CFG_I_SUBSTRATE = 18,
    CFG_VIN_BAT_VOLT = 19,
    CFG_BIAS_BAT_POS = 20,
    CFG_BIAS_BAT_NEG = 21,
    CFG_BRD_TEMP = 22,
    CFG_BRD_HUMIDITY = 23,
    CFG_OPTODE = 24,
    CFG_CTD = 25,
    CFG_OCR = 26,
    CFG_SPARE2 = 27,
    CFG_SPARE3 = 28,
    CFG_SPARE4 = 29,
    CFG_SPARE5 = 30,
    CFG_SPARE6 = 31,
};
constexpr std::size_t DATA_CFG_SIZE = 32;

// Application options.
enum app_cfg_index : uint8_t {
    APPCFG_SAMPLING_DIAG = 0,
    APPCFG_TEMPC_SH_ALG = 1,
    APPCFG_MICROSD_ENABLE = 2,
    APPCFG_MENU_LEVEL = 3,
    APPCFG_DEPLOY_UARTECHO = 4,
    APPCFG_EXEC_SWITCHERONI = 5,
};
constexpr std::size_t APP_CFG_SIZE = 16;

// Board QA results.
struct qaData {
    uint32_t microSD;
    uint32_t time;
    uint32_t test_time;
    uint32_t eeprom;
    uint32_t sys_data_init;
    uint32_t fram;
    uint32_t adc12onchip;
    uint32_t adc24;
    float Vrsi, Vrsi_std, Vrsi_err;
    float Vrse, Vrse_std, Vrse_err;
    float Vtherm, Vtherm_std, Vtherm_err;
    float Ik, Ik_std, Ik_err;
    float Vk, Vk_std, Vk_err;
    float Ib, Ib_std, Ib_err;
    float Vb, Vb_std, Vb_err;
    float Vbias_pos;
    float Vbias_neg;
    uint32_t aux_pwr1;
    uint32_t aux_pwr2;
    uint32_t aux_pwr3;
    uint32_t ctd;
    uint32_t optode;
    uint32_t comm_pwr;
    char tester[48];
    char firmware_version[32];
};

// Ranges of the pH sensor's calibration constants that the configuration
// menu takes and an automatic calibration may store.
constexpr float PH_COEFF_MIN = -2.0f;
constexpr float PH_COEFF_MAX = 2.0f;
constexpr float TC_OFFSET_MIN = -400.0f;
constexpr float TC_OFFSET_MAX = 400.0f;

struct systemData {
    uint32_t sampling_period;
    uint32_t chksum;
    uint32_t averaging_interval;
    float low_batt_volt;
    float TCOffset;
    float TCSlope;
    float k0ext;
    float k0int;
    float k2ext;
    float k2int;
    double quadTherm_c0;
    double quadTherm_c1;
    double quadTherm_c2;
    double quadTherm_c3;
    double shTherm_A;
    double shTherm_B;
    double shTherm_C;
    float default_sal;
    uint32_t Vrsi_sps, Vrsi_trials;
    uint32_t Vrse_sps, Vrse_trials;
    uint32_t Vtherm_sps, Vtherm_trials;
    uint32_t Ik_sps, Ik_trials;
    uint32_t Vk_sps, Vk_trials;
    uint32_t Ib_sps, Ib_trials;
    uint32_t Vb_sps, Vb_trials;
    uint32_t Vbias_sps, Vbias_trials;
    uint32_t offset_Ik;
    uint32_t offset_Ib;
    output_mode output;
    uint32_t test_mode;
    uint32_t fast_mode;
    uint32_t solenoid_on2hold_msec;
    uint32_t solenoid_hold_pwm;
    uint32_t solenoid_holdtime;
    uint32_t baud_rate;
    unsigned char data_cfg[DATA_CFG_SIZE];
    unsigned char app_cfg[APP_CFG_SIZE];
    unsigned char GMT;
    unsigned char sample_aligned;
    uint32_t diag;
    uint32_t debug_flag;
    uint32_t deploy_time;
    uint32_t start_pump_time;
    uint32_t pump_seq_type;
    uint32_t sampleCnt_duty_on;
    uint32_t sampleCnt_duty_off;
    uint32_t pump1_cycles;
    uint32_t pump2_cycles;
    uint32_t pump1_ontime;
    uint32_t pump2_ontime;
    uint32_t pump_spare[16];
    float pHOffset;
    float pHSlope;
    float sensor_ctd_TC;
    float sensor_optode_TC;
    float spare[64];
    char fileName[16];
    char user[8];
    char board_SN[24];
    char tamb_SN[24];
    char durafet_SN[24];
    char package_name[32];
    char optode_SN[24];
    char ctd_SN[24];
    char pump_SN[24];
    char pump2_SN[24];
    char pump3_SN[24];
    char board_fab_note[80];
    char deploy_note[80];
    qaData qa;
};

// Deployment progress, kept in FRAM.
struct systemSamplingData {
    int32_t state; // a deploy_state value
    uint32_t nextWakeUp;
    uint32_t next_gdata_fptr;
    uint32_t current_sample;
    float AD24_std;
    float sensor_sal;
    float spare1;
    float spare2;
    float spare3;
    float spare4;
    uint32_t initNum;
    uint32_t pump_seq_state;
    uint32_t pump1_cnt;
    uint32_t pump2_cnt;
    uint32_t start_pump_cntdown;
};

// Where the data file ended after its last append, kept in FRAM beside the
// progress record, so that the next append (after a reset) is positioned
// without walking the file's cluster chain.  `pos` holds the FAT module's
// position record (FFHINT) as bytes; the FAT module checks it against the
// card before use.  `check` is a CRC-32 of the bytes before it: a blank or
// damaged record is not used.
struct appendPosition {
    uint32_t magic;    // APPEND_POS_MAGIC
    char fileName[16]; // the data file it belongs to (as systemData::fileName)
    uint8_t pos[52];   // FFHINT
    uint32_t check;    // CRC-32 of magic, fileName and pos
};

constexpr uint32_t APPEND_POS_MAGIC = 0x41505031; // "APP1"

// Layout of a copy kept in the hibernation module's battery-backed
// registers (no deployment path uses it).
struct systemDataVolatile {
    uint32_t state;
    uint32_t nextWakeUp;
    uint32_t next_gdata_fptr;
    uint32_t current_sample;
    float AD24_std;
    uint32_t samp_state;
    uint32_t chksum;
};

constexpr uint32_t SYS_SAMP_INIT_NUM = 0x55AA55AA;

static_assert(sizeof(qaData) == 228, "qaData is a stored format");
static_assert(sizeof(systemData) == 1272, "systemData is a stored format");
static_assert(sizeof(systemData) % 4 == 0, "EEPROM transfers whole words");
static_assert(offsetof(systemData, data_cfg) == 200);
static_assert(offsetof(systemData, app_cfg) == 232);
static_assert(offsetof(systemData, GMT) == 248);
static_assert(offsetof(systemData, sample_aligned) == 249);
static_assert(offsetof(systemData, diag) == 252);
static_assert(offsetof(systemData, fileName) == 632);
static_assert(offsetof(systemData, deploy_note) == 960);
static_assert(offsetof(systemData, qa) == 1040);
static_assert(sizeof(systemSamplingData) == 60, "systemSamplingData is a stored format");
static_assert(offsetof(systemSamplingData, initNum) == 40);
static_assert(sizeof(systemDataVolatile) == 28);
static_assert(sizeof(appendPosition) == 76, "appendPosition is a stored format");

extern systemData sys_data;
extern systemSamplingData sys_samp;
extern systemDataVolatile sys_data_chg;
