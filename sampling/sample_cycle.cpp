// One sample: power up the isolated side and the monitors, start the enabled
// instruments, take the converter readings while the instruments answer,
// read the board values, check the battery, compute temperature and pH, and
// build, print and log the tab-separated record.
#include "analog/adc_onchip.h"
#include "analog/ads1248_iso.h"
#include "app/sleep.h"
#include "board/board_util.h"
#include "board/rtc_calendar.h"
#include "instruments/ctd_base.h"
#include "instruments/ocr.h"
#include "instruments/optode.h"
#include "serial/line_builder.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/data_fields.h"
#include "records/print_buffer.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "sampling/system_calc.h"
#include "serial/uartstdio.h"
#include "storage/microsd.h"

#include <cstring>
#include <ctime>

float fBiasPos;
float fBiasNeg;

namespace {

// Seconds from 1900-01-01 (the RTC's epoch) to 1970-01-01 (Unix epoch).
constexpr int64_t RTC_TO_UNIX_S = 2208988800;
// Settling time of the environment sensors after their supply comes on.
constexpr uint32_t ENV_SETTLE_MS = 150;
// Multiplexer settling after a channel change, and bias-side settling.
constexpr unsigned MUX_SETTLE_MS = 10;
// A reading of the instruments that has not finished after this long is
// given up (the drivers end their own exchanges long before).
constexpr uint32_t INSTRUMENT_LIMIT_MS = 60000;
constexpr int BAT_ATTEMPTS = 5;
// Factor from the Ik sense voltage to nA (15 kOhm sense resistor).
constexpr double IK_NA_PER_VOLT = 66666.667;

uint32_t s_trace_last;

bool cfg(int index)
{
    return sys_data.data_cfg[index] != 0;
}

bool diag_on()
{
    return sys_data.app_cfg[APPCFG_SAMPLING_DIAG] == 1;
}

// Timing trace: milliseconds since the previous trace point and since the
// start of the sample.  `only_if_elapsed` points print only when more than
// 1 ms passed (the instrument stepping, which is usually instantaneous).
void trace(const char* label, bool only_if_elapsed = false, const char* end = "")
{
    if (!diag_on()) {
        return;
    }
    const uint32_t now = static_cast<uint32_t>(Timer_1ms(0));
    if (only_if_elapsed && now - s_trace_last <= 1) {
        return;
    }
    uprintf("\r\n%-12s = %5u,   %5u%s", label, static_cast<unsigned>(now - s_trace_last),
            static_cast<unsigned>(now), end);
    s_trace_last = now;
}

// The CTD field exists for the two CTD types the header has columns for.
bool ctd_on()
{
    return sys_data.data_cfg[CFG_CTD] == 1 || sys_data.data_cfg[CFG_CTD] == 2;
}

// Readings needed by the record: a value is measured when its own field, its
// standard deviation or a computation that uses it is enabled, so no field
// ever shows a value this sample did not measure.
struct Needs {
    bool temp, vtherm, vrsi, vrse, vrsi_b, vrse_b, vk;
};

Needs needs_of_config()
{
    Needs n{};
    n.temp = cfg(CFG_CALC_TEMP) || cfg(CFG_CALC_PH_VRSI) || cfg(CFG_CALC_PH_VRSE);
    n.vtherm = n.temp || cfg(CFG_V_THERMISTOR) || cfg(CFG_V_THERMISTOR_STD);
    n.vrsi = cfg(CFG_VRSI) || cfg(CFG_VRSI_STD) || cfg(CFG_CALC_PH_VRSI);
    n.vrse = cfg(CFG_VRSE) || cfg(CFG_VRSE_STD) || cfg(CFG_CALC_PH_VRSE);
    n.vrsi_b = cfg(CFG_VRSI_BIASED) || cfg(CFG_VRSI_BIASED_STD);
    n.vrse_b = cfg(CFG_VRSE_BIASED) || cfg(CFG_VRSE_BIASED_STD);
    n.vk = cfg(CFG_V_COUNTER_ELECT) || cfg(CFG_V_COUNTER_ELECT_STD);
    return n;
}

// Current multiplexer channel (-1 = unknown): a reading on another channel
// selects it and lets it settle first.
int s_mux = -1;

void select_mux(int chan)
{
    if (chan != s_mux) {
        ADS1248_gpio_ADG1609_mux(static_cast<uint32_t>(chan));
        ms_delay(MUX_SETTLE_MS);
        s_mux = chan;
    }
}

float read_iso(int pos, int neg, uint32_t trials, uint32_t sps)
{
    return pollADS1248_iso(pos, neg, static_cast<int>(trials), 1, static_cast<int>(sps));
}

struct Reading {
    float v = 0.0f;
    float std = 0.0f;
};

Reading read_iso_std(int pos, int neg, uint32_t trials, uint32_t sps)
{
    Reading r;
    r.v = read_iso(pos, neg, trials, sps);
    r.std = sys_samp.AD24_std;
    return r;
}

float vbat_now()
{
    read_all_adc();
    return vbat_from_count(read_all_adc()[0]);
}

// Battery check; true when the battery is low and the deployment must end.
bool battery_low(float* vbat)
{
    const double threshold = static_cast<double>(sys_data.low_batt_volt);
    if (!(static_cast<double>(*vbat) < threshold + 0.005)) {
        return false;
    }
    pwr_vbat_mon_on();
    ms_delay(10);
    adc_onchip_init();
    ms_delay(100);
    bool low = false;
    for (int attempt = 0; attempt < BAT_ATTEMPTS; ++attempt) {
        if (attempt < BAT_ATTEMPTS - 1) {
            uprintf("\r\nLow battery voltage (%.2f < %.2f) !\r\n", static_cast<double>(*vbat), threshold);
        } else {
            uprintf("\r\nLow battery voltage (%.2f < %.2f) ! Exiting deploy mode...\r\n",
                    static_cast<double>(*vbat), threshold);
        }
        wait_consoleTx();
        ms_delay(150);
        *vbat = vbat_now();
        if (*vbat > sys_data.low_batt_volt) {
            low = false;
            break;
        }
        if (!diag_on()) {
            low = true;
        }
        led_red_on();
        led_green_off();
        delay_msec(500);
        led_red_off();
        led_green_on();
        delay_msec(500);
    }
    return low;
}

void format_timestamp(char* out, std::size_t size)
{
    const uint32_t count = HibernateRTCGet();
    if (sys_data.data_cfg[CFG_TIMESTAMP] == 1) {
        std::strftime(out, size, "%m/%d/%Y %H:%M:%S", rtc_localtime(count));
    } else if (sys_data.data_cfg[CFG_TIMESTAMP] == 2) {
        // Unix epoch milliseconds of the instant the date form shows: the
        // console shows the count less the zone offset, in the zone the
        // clock was set in (GMT, or local time 21600 s behind it).
        int64_t unix_s = static_cast<int64_t>(count) - RTC_TO_UNIX_S;
        if (sys_data.GMT != 0) {
            unix_s -= RTC_ZONE_OFFSET_S;
        }
        if (unix_s < 0) {
            unix_s = 0;
        }
        std::snprintf(out, size, "%13llu", static_cast<unsigned long long>(unix_s) * 1000ull);
    } else {
        out[0] = '\0';
    }
}

// An instrument text: at most its buffer, terminated or not.
int text_len(const char* buf, std::size_t size)
{
    return static_cast<int>(strnlen(buf, size));
}

// A text of several values (an instrument's reply or error text, the pump
// text) in exactly `columns` columns, each ended by its tab: the text's own
// closing tab is dropped, a text with fewer values (an error text) is
// followed by empty columns, and tabs beyond the last column become spaces.
// The record thus has as many columns as the header whatever an instrument
// sent, and every later column stays under its name.
void add_columns(LineBuilder& rec, const char* text, std::size_t size, int columns)
{
    int len = text_len(text, size);
    if (len > 0 && text[len - 1] == '\t') {
        --len;
    }
    int tabs = 0;
    int start = 0;
    for (int i = 0; i < len; ++i) {
        if (text[i] == '\t') {
            const bool last_column = tabs >= columns - 1;
            rec.add("%.*s%c", i - start, text + start, last_column ? ' ' : '\t');
            if (!last_column) {
                ++tabs;
            }
            start = i + 1;
        }
    }
    rec.add("%.*s\t", len - start, text + start);
    for (++tabs; tabs < columns; ++tabs) {
        rec.add("\t");
    }
}

// The data fields the configuration selects, in the header's order and
// under its column names.
void add_fields(LineBuilder& rec, const SampleValues& val)
{
    for (const DataField& f : DATA_FIELDS) {
        const char* names = data_field_header(f, sys_data.data_cfg[f.index]);
        if (names == nullptr) {
            continue;
        }
        switch (f.kind) {
        case DataKind::Count:
            rec.add(f.format, static_cast<unsigned>(val.*f.count));
            break;
        case DataKind::Real:
            rec.add(f.format, static_cast<double>(val.*f.real));
            break;
        case DataKind::Text:
            rec.add(f.format, (val.*f.text).buf);
            break;
        case DataKind::Columns:
            add_columns(rec, (val.*f.text).buf, (val.*f.text).size, header_columns(names));
            break;
        case DataKind::Spare:
            break;
        }
    }
}

void data_file_name(char* out)
{
    std::memcpy(out, sys_data.fileName, sizeof sys_data.fileName);
    out[sizeof sys_data.fileName] = '\0';
}

// Appends the record to the data file, reporting each failure.
void log_record()
{
    char name[sizeof sys_data.fileName + 1];
    data_file_name(name);
    FIL fil{};
    FRESULT fr = data_file_open(&fil, name, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
    if (fr != FR_OK) {
        uprintf("f_open error: %s\r\n", StringFromFresult(fr));
        error_store("f_open error");
        return;
    }
    fr = data_file_seek_end(&fil, name);
    if (fr != FR_OK) {
        uprintf("f_lseek error: %s\r\n", StringFromFresult(fr));
    }
    bool cut = false;
    if (fr == FR_OK) {
        // A record the card cannot take whole is cut back off: the file
        // holds whole records only.
        data_file_append(&fil, name, prnBuf, &cut);
    }
    fr = f_close(&fil);
    if (fr != FR_OK) {
        uprintf("f_close error: %s\r\n", StringFromFresult(fr));
        error_store("f_close error");
    }
    if (cut) {
        data_file_note_full(name);
    }
}

// Instrument states: 0 = off or finished.  The optode and the radiometer
// share one port and its supply: with both on, the radiometer runs after the
// optode has finished.
struct Instruments {
    int optode = 0, ctd = 0, ocr = 0;
    bool optode_on = false, ctd_on = false, ocr_on = false;
    bool ocr_after_optode = false;

    void step(bool conditional_trace)
    {
        if (optode_on && optode != 0) {
            optode = optode_stateMachine(optode);
            trace("Optode St8Ma", conditional_trace);
        }
        if (ctd_on && ctd != 0) {
            ctd = ctd_stateMachine(ctd);
            trace("CTD    St8Ma", conditional_trace);
        }
        if (ocr_on && ocr != 0) {
            ocr = ocr_stateMachine(ocr);
            trace("OCR    St8Ma", true);
        }
    }
};

// Calls a state machine until it reports the reading finished.  The
// machine is a template argument, so every call to it is a direct one.
template <int (*machine)(int)> int finish(int state)
{
    const uint32_t start = static_cast<uint32_t>(Timer_1ms(0));
    while (state != 0 && static_cast<uint32_t>(Timer_1ms(0)) - start < INSTRUMENT_LIMIT_MS) {
        state = machine(state);
        platform_idle();
    }
    return state;
}

} // namespace

void get_sample(int printFlg, int writeFlg)
{
    // 1. Time zero of the sample.
    Timer_1ms(1);
    s_trace_last = 0;
    if (sys_data.test_mode == 1) {
        uprintf("\r\nSampling...");
    }
    trace("Pump");

    // 2. Time stamp, before any measurement.
    char stamp[50];
    format_timestamp(stamp, sizeof stamp);

    // 3. Power.
    openADS1248_iso();
    ms_delay(100);
    ADS1248_gpio_init();
    s_mux = -1;
    pwr_env_mon_on();
    pwr_vbat_mon_on();
    ms_delay(1);
    adc_onchip_init();
    trace("Pwr on, init");
    const uint32_t t_instr = static_cast<uint32_t>(Timer_1ms(0));

    // 4. Start the instruments.
    Instruments ins;
    ins.optode_on = cfg(CFG_OPTODE);
    ins.ctd_on = ctd_on();
    ins.ocr_on = cfg(CFG_OCR);
    ins.ocr_after_optode = ins.optode_on && ins.ocr_on;
    if (ins.optode_on) {
        ins.optode = optode_stateMachine(1);
        trace("Optode St8Ma");
    }
    if (ins.ctd_on) {
        ins.ctd = ctd_stateMachine(1);
        trace("CTD    St8Ma");
    }
    if (ins.ocr_on && !ins.ocr_after_optode) {
        ins.ocr = ocr_stateMachine(1);
        trace("OCR    St8Ma", true);
    }

    // 5-8. Bias battery halves, with the instruments stepped in between.
    if (cfg(CFG_BIAS_BAT_NEG)) {
        ADS1248_gpio3(0);
        ms_delay(MUX_SETTLE_MS);
        fBiasNeg = read_iso(7, 6, sys_data.Vbias_trials, sys_data.Vbias_sps) * 2.0f;
    }
    ins.step(true);
    if (cfg(CFG_BIAS_BAT_POS)) {
        ADS1248_gpio3(1);
        ms_delay(MUX_SETTLE_MS);
        fBiasPos = read_iso(7, 6, sys_data.Vbias_trials, sys_data.Vbias_sps) * 2.0f;
    }
    ins.step(true);
    if (cfg(CFG_BIAS_BAT_NEG) || cfg(CFG_BIAS_BAT_POS)) {
        trace("Bias Bat", true);
    }

    // 9. Finish the instruments one after the other.
    if (ins.optode_on) {
        ins.optode = finish<optode_stateMachine>(ins.optode);
        trace("Optode");
    }
    if (ins.ctd_on) {
        ins.ctd = finish<ctd_stateMachine>(ins.ctd);
        trace("CTD");
    }
    if (ins.ocr_on) {
        if (ins.ocr_after_optode) {
            ins.ocr = ocr_stateMachine(1);
        }
        ins.ocr = finish<ocr_stateMachine>(ins.ocr);
        ocr_stateMachine(0);
        trace("OCR    St8Ma");
    }

    // 10. Isolated converter readings.
    const Needs need = needs_of_config();
    float ib = 0.0f, ik = 0.0f;
    Reading vk, vtherm, vrsi_b, vrsi, vrse_b, vrse;
    if (cfg(CFG_I_SUBSTRATE)) {
        select_mux(2);
        ib = read_iso(1, 6, sys_data.Ib_trials, sys_data.Ib_sps) * 1000.0f;
        trace("Ib Substrate");
    }
    if (cfg(CFG_I_COUNTER)) {
        select_mux(1);
        const float v = read_iso(1, 5, sys_data.Ik_trials, sys_data.Ik_sps);
        const float offset = static_cast<float>(sys_data.offset_Ik);
        ik = static_cast<float>(static_cast<double>(v - offset) * IK_NA_PER_VOLT);
        trace("Ik Cntr E");
    }
    if (need.vk) {
        select_mux(1);
        vk = read_iso_std(1, 6, sys_data.Vk_trials, sys_data.Vk_sps);
        trace("Vk Cntr E");
    }
    if (need.vtherm) {
        vtherm = read_iso_std(0, 6, sys_data.Vtherm_trials, sys_data.Vtherm_sps);
        trace("Vtherm");
    }
    if (need.vrsi_b) {
        select_mux(3);
        vrsi_b = read_iso_std(1, 5, sys_data.Vrsi_trials, sys_data.Vrsi_sps);
        trace("Vrsi_B");
    }
    if (need.vrsi) {
        select_mux(3);
        vrsi = read_iso_std(1, 6, sys_data.Vrsi_trials, sys_data.Vrsi_sps);
        trace("Vrsi");
    }
    if (need.vrse_b) {
        select_mux(0);
        vrse_b = read_iso_std(1, 5, sys_data.Vrse_trials, sys_data.Vrse_sps);
        trace("Vrse_B");
    }
    if (need.vrse) {
        select_mux(0);
        vrse = read_iso_std(1, 6, sys_data.Vrse_trials, sys_data.Vrse_sps);
        trace("Vrse");
    }

    // 11-12. Board values once the environment sensors have settled.
    while (static_cast<uint32_t>(Timer_1ms(0)) - t_instr <= ENV_SETTLE_MS) {
        ms_delay(5);
    }
    read_all_adc();
    const uint32_t* adc = read_all_adc();
    float vbat = vbat_from_count(adc[0]);
    float brd_temp = 0.0f;
    uint32_t humidity = 0;
    if (cfg(CFG_BRD_TEMP)) {
        brd_temp = brd_temp_from_count(adc[4]);
    }
    if (cfg(CFG_BRD_HUMIDITY)) {
        humidity = humidity_from_count(adc[2]);
    }
    trace("Onchip ADC");

    // 13-14. Battery check; the isolated side and the monitors go off
    // before a low battery ends the deployment.
    const bool low = battery_low(&vbat);
    pwr_vbat_mon_off();
    pwr_env_mon_off();
    closeADS1248_iso();
    if (low) {
        led_sampling_off();
        error_store("Low battery! Exiting deploy mode");
        sleep(IDLE, 0);
        return; // the records could not be stored: the sample stays unfinished
    }

    // 15. Computations.
    float temp_c = 0.0f, ph_int = 0.0f, ph_ext = 0.0f;
    if (need.temp) {
        temp_c = DuraFET_temp(vtherm.v, sys_data.TCOffset);
        trace("Calc TempC");
    }
    if (cfg(CFG_CALC_PH_VRSE)) {
        const float salinity = ctd_on() ? sys_samp.sensor_sal : sys_data.default_sal;
        ph_ext = calc_pHext(vrse.v, temp_c, salinity);
        trace("Calc pH Ext");
    }
    if (cfg(CFG_CALC_PH_VRSI)) {
        ph_int = calc_pHint(vrsi.v, temp_c);
        trace("Calc pH Int");
    }

    // 16. The record.
    LineBuilder rec(prnBuf, sizeof prnBuf);
    SampleValues val;
    val.sample_num = sys_samp.current_sample;
    val.stamp = {stamp, sizeof stamp};
    val.vbat = vbat;
    val.bias_pos = fBiasPos;
    val.bias_neg = fBiasNeg;
    val.brd_temp = brd_temp;
    val.humidity = humidity;
    val.vtherm = vtherm.v;
    val.vtherm_std = vtherm.std;
    val.temp_c = temp_c;
    val.vrsi = vrsi.v;
    val.vrsi_std = vrsi.std;
    val.ph_int = ph_int;
    val.vrse = vrse.v;
    val.vrse_std = vrse.std;
    val.ph_ext = ph_ext;
    val.vrsi_b = vrsi_b.v;
    val.vrsi_b_std = vrsi_b.std;
    val.vrse_b = vrse_b.v;
    val.vrse_b_std = vrse_b.std;
    val.vk = vk.v;
    val.vk_std = vk.std;
    val.ik = ik;
    val.ib = ib;
    val.optode = {optode.buf, sizeof optode.buf};
    val.ctd = {ctd.buf, sizeof ctd.buf};
    val.ocr = {ocr.buf, sizeof ocr.buf};
    add_fields(rec, val);
    if (sys_data.pump_seq_type == 2) {
        add_columns(rec, pumpBuf, sizeof pumpBuf, header_columns(HEADER_PUMP));
    }
    trace("format data", false, "\r\n");
    if (diag_on()) {
        rec.add("(%u msec)\t", static_cast<unsigned>(Timer_1ms(0)));
    }
    rec.end_line();

    // 17-19. Console and data file.
    if (printFlg == 1) {
        // Room for the whole record, so that none of it is dropped.
        if (static_cast<std::size_t>(UARTTxBytesFree()) <= rec.length()) {
            wait_consoleTx();
        }
        UARTwrite(prnBuf, static_cast<uint32_t>(rec.length()));
    }
    // 20.  The record's number is used up before the record can reach the
    // card: a power cut after its last card write must not number the
    // next record the same.
    sys_samp.current_sample++;
    if (sys_data.app_cfg[APPCFG_MICROSD_ENABLE] == 1 && writeFlg == 1) {
        storeSysSampFRAMVariables();
        log_record();
        trace("uSD writes");
    }
    wait_consoleTx();
    trace("wait TX");
    led_sampling_off();
}
