// Configuration module: factory defaults of the configuration record.
#include "operator/config.h"

#include "platform/platform.h"
#include "records/system_data.h"

#include <cstdio>
#include <cstring>

namespace {

void set_text(char* field, std::size_t size, const char* text)
{
    std::snprintf(field, size, "%s", text);
}

} // namespace

void ads1248_sampling_defaults()
{
    sys_data.Vrsi_sps = 20;
    sys_data.Vrsi_trials = 10;
    sys_data.Vrse_sps = 20;
    sys_data.Vrse_trials = 10;
    sys_data.Vtherm_sps = 20;
    sys_data.Vtherm_trials = 5;
    sys_data.Ik_sps = 20;
    sys_data.Ik_trials = 1;
    sys_data.Vk_sps = 20;
    sys_data.Vk_trials = 5;
    sys_data.Ib_sps = 20;
    sys_data.Ib_trials = 1;
    sys_data.Vb_sps = 20;
    sys_data.Vb_trials = 5;
    sys_data.Vbias_sps = 40;
    sys_data.Vbias_trials = 1;
}

void config_qa_data_init()
{
    std::memset(&sys_data.qa, 0, sizeof sys_data.qa);
    set_text(sys_data.qa.tester, sizeof sys_data.qa.tester, "Count Zero");
    set_text(sys_data.qa.firmware_version, sizeof sys_data.qa.firmware_version, "Version Not Defined");
}

void config_sys_data_default_init()
{
    sys_data.sampling_period = 0;
    sys_data.chksum = 0;
    sys_data.averaging_interval = 60;
    sys_data.low_batt_volt = 10.0f;
    sys_data.TCOffset = 0.0f;
    sys_data.TCSlope = 1.0f;
    sys_data.k0ext = -1.3f;
    sys_data.k0int = -0.4f;
    sys_data.k2ext = -0.001081f;
    sys_data.k2int = -0.001455f;
    sys_data.quadTherm_c0 = 340.9819863;
    sys_data.quadTherm_c1 = -9.10257E-05;
    sys_data.quadTherm_c2 = -95.08806667;
    sys_data.quadTherm_c3 = 0.965370274;
    sys_data.shTherm_A = 0.002108508173;
    sys_data.shTherm_B = 7.979204727E-05;
    sys_data.shTherm_C = 6.535076315E-07;
    sys_data.default_sal = 35.0f;
    ads1248_sampling_defaults();
    sys_data.offset_Ik = 0;
    sys_data.offset_Ib = 0;
    sys_data.output = NORMAL;
    sys_data.test_mode = 0;
    sys_data.fast_mode = 1;
    sys_data.solenoid_on2hold_msec = 100;
    sys_data.solenoid_hold_pwm = 40;
    sys_data.solenoid_holdtime = 10;
    sys_data.baud_rate = 115200;

    std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
    static const unsigned char on_by_default[] = {
        CFG_SAMPLE_NUM,
        CFG_TIMESTAMP,
        CFG_V_THERMISTOR,
        CFG_V_THERMISTOR_STD,
        CFG_CALC_TEMP,
        CFG_VRSI,
        CFG_VRSI_STD,
        CFG_CALC_PH_VRSI,
        CFG_VRSE,
        CFG_VRSE_STD,
        CFG_VRSI_BIASED,
        CFG_V_COUNTER_ELECT,
        CFG_V_COUNTER_ELECT_STD,
        CFG_I_COUNTER,
        CFG_I_SUBSTRATE,
        CFG_VIN_BAT_VOLT,
        CFG_BIAS_BAT_POS,
        CFG_BIAS_BAT_NEG,
        CFG_BRD_TEMP,
        CFG_BRD_HUMIDITY,
    };
    for (unsigned char idx : on_by_default) {
        sys_data.data_cfg[idx] = 1;
    }

    std::memset(sys_data.app_cfg, 0, sizeof sys_data.app_cfg);
    sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 1;
    sys_data.app_cfg[APPCFG_DEPLOY_UARTECHO] = 1;

    sys_data.GMT = 0;
    sys_data.sample_aligned = 0;
    sys_data.diag = 0;
    sys_data.debug_flag = 0;
    sys_data.deploy_time = 0;
    sys_data.start_pump_time = 0;
    sys_data.pump_seq_type = 1;
    sys_data.sampleCnt_duty_on = 0;
    sys_data.sampleCnt_duty_off = 0;
    sys_data.pump1_cycles = 1;
    sys_data.pump2_cycles = 0;
    sys_data.pump1_ontime = 0;
    sys_data.pump2_ontime = 0;
    sys_data.pHOffset = 0.0f;
    sys_data.pHSlope = 1.0f;
    sys_data.sensor_ctd_TC = 0.0f;
    sys_data.sensor_optode_TC = 0.0f;
    for (int i = 0; i < 4; ++i) {
        sys_data.spare[i] = 0.0f;
    }

    set_text(sys_data.fileName, sizeof sys_data.fileName, "noname.txt");
    set_text(sys_data.user, sizeof sys_data.user, "abc");
    set_text(sys_data.board_SN, sizeof sys_data.board_SN, " ");
    set_text(sys_data.tamb_SN, sizeof sys_data.tamb_SN, " ");
    set_text(sys_data.durafet_SN, sizeof sys_data.durafet_SN, " ");
    set_text(sys_data.package_name, sizeof sys_data.package_name, " ");
    set_text(sys_data.optode_SN, sizeof sys_data.optode_SN, " ");
    set_text(sys_data.ctd_SN, sizeof sys_data.ctd_SN, " ");
    set_text(sys_data.pump_SN, sizeof sys_data.pump_SN, " ");
    set_text(sys_data.pump2_SN, sizeof sys_data.pump2_SN, " ");
    set_text(sys_data.pump3_SN, sizeof sys_data.pump3_SN, " ");
    set_text(sys_data.board_fab_note, sizeof sys_data.board_fab_note, " ");
    set_text(sys_data.deploy_note, sizeof sys_data.deploy_note, " ");

    // The progress record starts over: idle, no samples, next wake now.
    sys_samp.state = IDLE;
    sys_samp.nextWakeUp = HibernateRTCGet() + sys_data.sampling_period;
    sys_samp.next_gdata_fptr = 0;
    sys_samp.AD24_std = 0.0f;
    sys_samp.current_sample = 0;
    sys_samp.start_pump_cntdown = 0;
    sys_samp.sensor_sal = 0.0f;

    config_qa_data_init();
}
