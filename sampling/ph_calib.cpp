// pH sensor calibration dialogue, manual (typed values) and automatic
// (measured with the SBE37 MicroCat in the same bath).
#include "sampling/ph_calib.h"

#include "analog/ads1248_iso.h"
#include "board/board_util.h"
#include "instruments/ctd_base.h"
#include "serial/user_io.h"
#include "records/system_data.h"
#include "sampling/system_calc.h"
#include "serial/uartstdio.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double TC_EO_INT = -0.0011012;
constexpr double TC_EO_EXT = -0.0010482;
constexpr int RING = 5;
constexpr int HEADER_EVERY = 20;
// Multiplexer channels and settling time of the sample cycle's readings.
constexpr uint32_t MUX_VRSI = 3;
constexpr uint32_t MUX_VRSE = 0;
constexpr unsigned MUX_SETTLE_MS = 10;
constexpr unsigned char CTRL_X = 0x18;

// Values of the last calibration, shown by the prompts (0 after reset).
float s_pHcalpt;
float s_Vint;
float s_Vext;
float s_tempC;
float s_salt;

// Running statistics of one measured quantity over the last readings.
struct Ring {
    float slot[RING];
    float mean;
    float sd;
};

enum Quantity { Q_VINT, Q_VEXT, Q_VTHERM, Q_TEMP, Q_SAL, Q_COUNT };

struct Stats {
    Ring q[Q_COUNT];
    int next;  // next slot to write
    int taken; // readings taken, at most RING counted
};

Stats s_stats;

// Mean and spread over the readings taken so far (at most the last five):
// slots never written do not count.
void add_reading(Stats& st, const float (&v)[Q_COUNT])
{
    for (int i = 0; i < Q_COUNT; ++i) {
        st.q[i].slot[st.next] = v[i];
    }
    st.next = (st.next + 1) % RING;
    if (st.taken < RING) {
        ++st.taken;
    }
    for (Ring& r : st.q) {
        double sum = 0.0;
        for (int k = 0; k < st.taken; ++k) {
            sum += r.slot[k];
        }
        r.mean = static_cast<float>(sum / st.taken);
        double sq = 0.0;
        for (int k = 0; k < st.taken; ++k) {
            const double d = static_cast<double>(r.slot[k]) - r.mean;
            sq += d * d;
        }
        r.sd = static_cast<float>(std::sqrt(sq));
    }
}

// Prints the prompt with the current value and reads a reply no longer
// than the prompt text.  0: reply parsed into *v; 1: empty; 2: unparsable.
int ask_value(const char* fmt, float current, float* v)
{
    char text[96];
    int n = std::snprintf(text, sizeof text, fmt, static_cast<double>(current));
    if (n < 1 || n >= static_cast<int>(sizeof text)) {
        n = static_cast<int>(sizeof text);
    }
    uprintf("%s", text);
    if (getUserInput(text, n) == 0) {
        return 1;
    }
    return std::sscanf(text, "%f", v) == 1 ? 0 : 2;
}

// Asks until the reply is empty, unparsable or within [lo, hi].
void ask_bounded(const char* fmt, float* value, float lo, float hi, const char* range_msg)
{
    for (;;) {
        float v;
        if (ask_value(fmt, *value, &v) != 0) {
            return;
        }
        if (v >= lo && v <= hi) {
            *value = v;
            return;
        }
        uprintf("%s", range_msg);
    }
}

void ask_cal_point()
{
    for (;;) {
        float v;
        const int r = ask_value("\r\n\r\nEnter pH calibration point [%.3f]: ", s_pHcalpt, &v);
        if (r == 1) {
            uprintf("DEBUG: getUserInput fails to return 1");
            return;
        }
        if (r == 2) {
            uprintf("DEBUG: sscanf fails to return 1");
            return;
        }
        if (v >= 0.0f && v <= 14.0f) {
            s_pHcalpt = v;
            uprintf("pH cal pt = %.3f\r\n", static_cast<double>(s_pHcalpt));
            return;
        }
        uprintf("\r\nEnter between 0 and 14");
    }
}

void manual_values()
{
    ask_bounded("\r\n\r\nEnter Vrsi [%f]: ", &s_Vint, -2.0f, 2.0f, "Enter number between -2 and 2\r\n\r\n");
    ask_bounded("\r\n\r\nEnter Vrse [%f]: ", &s_Vext, -2.0f, 2.0f, "Enter number between -2 and 2\r\n\r\n");
    ask_bounded("\r\nEnter bath temperature [%f]: ", &s_tempC, 0.0f, 100.0f, "\r\nEnter between 0 and 100");
    ask_bounded("\r\nEnter bath salinity [%f]: ", &s_salt, 0.0f, 100.0f, "\r\nEnter between 0 and 100");
}

float read_channel(uint32_t mux, int pos, uint32_t trials, uint32_t sps)
{
    ADS1248_gpio_ADG1609_mux(mux);
    ms_delay(MUX_SETTLE_MS);
    return pollADS1248_iso(pos, 6, static_cast<int>(trials), 1, static_cast<int>(sps));
}

// One CTD transaction.  Ctrl-X abandons it; other input is left for the key
// that ends the readings.  True when the CTD gave a reading.
bool ctd_transaction(bool* key_hit)
{
    int state = ST_CTD_INIT;
    while (state != 0) {
        state = ctd_stateMachine(state);
        if (UARTPeek(CTRL_X) >= 0) {
            UARTFlushRx();
            ctd.tempC = 0.0f;
            ctd.salt = 0.0f;
            ctd_close();
            return false;
        }
        if (UARTRxBytesAvail() > 0) {
            *key_hit = true;
        }
    }
    return ctd.state == 0 && ctd.type != 0;
}

// Takes readings until a key is hit; returns the mean thermistor voltage.
// A reading whose CTD transaction failed or was abandoned is shown but not
// averaged: its temperature and salinity would count as 0.
void measure_until_key(int* header_count, float* vtherm)
{
    // At least one reading is taken after each key, so that the averages
    // always stand for measured values.
    bool key_hit = false;
    idle_activity();
    while (!key_hit) {
        idle_poll();
        // The same electrodes, inputs and settings as the sample cycle.
        const float vint = read_channel(MUX_VRSI, 1, sys_data.Vrsi_trials, sys_data.Vrsi_sps);
        const float vext = read_channel(MUX_VRSE, 1, sys_data.Vrse_trials, sys_data.Vrse_sps);
        const float vth = pollADS1248_iso(0, 6, static_cast<int>(sys_data.Vtherm_trials), 1,
                                          static_cast<int>(sys_data.Vtherm_sps));
        const bool ctd_ok = ctd_transaction(&key_hit);
        if (!ctd_ok) {
            uprintf("\r\n%8.5f\t        \t%8.5f\t        \t%8.5f\t        \tCTD reading failed, not averaged",
                    static_cast<double>(vint), static_cast<double>(vext), static_cast<double>(vth));
            if (UARTRxBytesAvail() > 0) {
                key_hit = true;
            }
            continue;
        }
        s_tempC = ctd.tempC;
        s_salt = ctd.salt;
        const float reading[Q_COUNT] = {vint, vext, vth, s_tempC, s_salt};
        add_reading(s_stats, reading);
        if (*header_count < HEADER_EVERY) {
            ++*header_count;
        } else {
            uprintf("\r\n\r\n    Vrsi\t Vrsi-SD\t    Vrse\t Vrse-SD\t  Vtherm\tVthermSD\t   "
                    "TempC\tTempC-SD\tSalinity"
                    "\tSal-SD");
            *header_count = 1;
        }
        const Ring* q = s_stats.q;
        uprintf("\r\n%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f\t%8.5f",
                static_cast<double>(vint), static_cast<double>(q[Q_VINT].sd), static_cast<double>(vext),
                static_cast<double>(q[Q_VEXT].sd), static_cast<double>(vth),
                static_cast<double>(q[Q_VTHERM].sd), static_cast<double>(s_tempC),
                static_cast<double>(q[Q_TEMP].sd), static_cast<double>(s_salt),
                static_cast<double>(q[Q_SAL].sd));
        if (UARTRxBytesAvail() > 0) {
            key_hit = true;
        }
    }
    // The key is a line: wait for its Enter and discard it.
    get_key();
    *vtherm = s_stats.q[Q_VTHERM].mean;
}

// Automatic branch: measures until the operator accepts the averages.
// False when no reading succeeded.
bool automatic_values(float* vtherm)
{
    std::memset(&s_stats, 0, sizeof s_stats);
    int header_count = HEADER_EVERY;
    openADS1248_iso();
    ms_delay(1000);
    ADS1248_gpio_init();
    uprintf("\r\n\r\nPlace DuraFET and MicroCAT in calibration bath.");
    uprintf("\r\nHit any key when values have stabilized...");
    UARTFlushRx();
    for (;;) {
        measure_until_key(&header_count, vtherm);
        if (s_stats.taken == 0) {
            uprintf("\r\n\r\nNo CTD reading succeeded: nothing to average, check the MicroCAT");
            closeADS1248_iso();
            ctd_close();
            return false;
        }
        const Ring* q = s_stats.q;
        uprintf("\r\n\r\nAverage of last %d values", s_stats.taken);
        s_Vint = q[Q_VINT].mean;
        s_Vext = q[Q_VEXT].mean;
        s_tempC = q[Q_TEMP].mean;
        s_salt = q[Q_SAL].mean;
        uprintf("\r\nVint = %f V  SD = %f", static_cast<double>(s_Vint), static_cast<double>(q[Q_VINT].sd));
        uprintf("\r\nVext = %f V  SD = %f", static_cast<double>(s_Vext), static_cast<double>(q[Q_VEXT].sd));
        uprintf("\r\nVtherm = %f C  SD = %f", static_cast<double>(*vtherm),
                static_cast<double>(q[Q_VTHERM].sd));
        uprintf("\r\nMicroCAT Temperature = %f C  SD = %f", static_cast<double>(s_tempC),
                static_cast<double>(q[Q_TEMP].sd));
        uprintf("\r\nMicroCAT Salinity = %f  SD = %f", static_cast<double>(s_salt),
                static_cast<double>(q[Q_SAL].sd));
        if (yesOrNoMenuChoice("\r\n\r\nValues acceptable (Y/N) [N]? ", 0) != 0) {
            break;
        }
        UARTFlushRx();
    }
    closeADS1248_iso();
    ctd_close();
    return true;
}

// Ranges the configuration menu enforces for the constants (key 4).
bool in_config_ranges(const PhCalResult& r, float tc_offset)
{
    return r.k0int >= PH_COEFF_MIN && r.k0int <= PH_COEFF_MAX && r.k0ext >= PH_COEFF_MIN &&
           r.k0ext <= PH_COEFF_MAX && tc_offset >= TC_OFFSET_MIN && tc_offset <= TC_OFFSET_MAX;
}

} // namespace

PhCalResult ph_calib_compute(float pH, float Vint, float Vext, float tempC, float salt)
{
    const double T = tempC;
    const double S = salt;
    const float tk = static_cast<float>(T + 273.15);
    const float s_t = calc_nernst_slope(tempC);
    PhCalResult r;
    r.k0int = static_cast<float>((Vint - static_cast<double>(pH) * s_t) + (25.0 - T) * TC_EO_INT);

    const float z = calc_ionic_strength(salt);
    const double sqrt_z = std::sqrt(static_cast<double>(z));
    const float so4 = static_cast<float>((S / 1.80655) * 0.001457392100934813);
    const float m_cl = static_cast<float>((0.028175048655967053 * S) / 1.80655);
    const float k_hso4 = calc_KHSO4(tk, z, salt);
    const float ph_free = static_cast<float>(pH + std::log10(static_cast<double>(so4 / k_hso4 + 1.0f)));
    const float dh_const = static_cast<float>(3.43e-06 * T * T + 0.00067524 * T + 0.49172143);
    const float log10_gamma = static_cast<float>(
        2.0 * (-dh_const * sqrt_z / (1.0 + 1.394 * sqrt_z) + (0.08885 - 0.000111 * T) * z));
    const float a = static_cast<float>((m_cl * std::pow(10.0, -static_cast<double>(ph_free))) *
                                       std::pow(10.0, static_cast<double>(log10_gamma)));
    r.k0ext = static_cast<float>((Vext + s_t * std::log10(static_cast<double>(a))) + (25.0 - T) * TC_EO_EXT);
    return r;
}

void ph_calib()
{
    uprintf("\r\nph_calib() not supported in this version\r\n");
    ask_cal_point();
    const bool automatic =
        yesOrNoMenuChoice("\r\n\r\nPerform automatic DuraFET calibration (Y/N) [N]? ", 0) != 0;
    // The manual branch has no thermistor reading: it keeps the stored offset.
    float tc_offset = sys_data.TCOffset;
    if (automatic) {
        float vtherm = 0.0f;
        if (!automatic_values(&vtherm)) {
            uprintf("\r\nStored calibration constants kept");
            return;
        }
        tc_offset = s_tempC - DuraFET_temp(vtherm, 0.0f);
    } else {
        manual_values();
    }
    const PhCalResult r = ph_calib_compute(s_pHcalpt, s_Vint, s_Vext, s_tempC, s_salt);
    uprintf("\r\n\r\nEo Int @ 25C = %f", static_cast<double>(r.k0int));
    uprintf("\r\nEo Ext @ 25C = %f", static_cast<double>(r.k0ext));
    uprintf("\r\nTCOffset = %f", static_cast<double>(tc_offset));
    if (!std::isfinite(r.k0int) || !std::isfinite(r.k0ext) || !std::isfinite(tc_offset)) {
        uprintf(
            "\r\n\r\nCalibration values are not finite (check bath salinity and temperature): not stored");
        return;
    }
    if (!in_config_ranges(r, tc_offset)) {
        uprintf("\r\n\r\nCalibration values outside the configuration's ranges (k0 -2 to 2, TCOffset -400 to "
                "400): not stored");
        return;
    }
    if (yesOrNoMenuChoice("\r\n\r\nAccept and store calibration values(Y/N) [N]? ", 0) != 0) {
        sys_data.k0int = r.k0int;
        sys_data.k0ext = r.k0ext;
        sys_data.TCOffset = tc_offset;
        uprintf("\r\nCalibration values stored");
    }
}
