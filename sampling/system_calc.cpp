// Temperature and pH computations.  Arithmetic is double precision; the
// intermediate values named below are kept as single precision, as the
// calibration that produced the coefficients did.
#include "sampling/system_calc.h"

#include "records/system_data.h"

#include <cmath>

namespace {

constexpr double KELVIN_OFFSET = 273.15;
constexpr double GAS_CONSTANT = 8.31451; // J / (mol K)
constexpr double FARADAY = 96487.0;      // C / mol
constexpr double LN10 = 2.302585;
constexpr double TC_EO_INT = -0.0011012;  // V / degree C
constexpr double TC_EO_EXT = -0.0010482;  // V / degree C
constexpr double THERM_SUPPLY = 3.3;      // V
constexpr double THERM_DIVIDER = 20000.0; // ohm

} // namespace

float DuraFET_temp(float V_therm, float TCOffset)
{
    const double v = V_therm;
    const double rtherm = THERM_DIVIDER / (THERM_SUPPLY / v - 1.0);

    const double lg = std::log10(rtherm);
    const double t4 = sys_data.quadTherm_c0 + sys_data.quadTherm_c1 * rtherm + sys_data.quadTherm_c2 * lg +
                      sys_data.quadTherm_c3 * (lg * lg * lg);

    const double ln = std::log(rtherm);
    const double t3 =
        1.0 / (sys_data.shTherm_A + sys_data.shTherm_B * ln + sys_data.shTherm_C * (ln * ln * ln)) -
        KELVIN_OFFSET;

    float tc = 0.0f;
    switch (sys_data.app_cfg[APPCFG_TEMPC_SH_ALG]) {
    case 0:
        tc = static_cast<float>(t4);
        break;
    case 1:
        tc = static_cast<float>(t3);
        break;
    default:
        tc = 0.0f;
        break;
    }
    return tc + TCOffset;
}

float calc_nernst_slope(float TC)
{
    const float tk = static_cast<float>(TC + KELVIN_OFFSET);
    return static_cast<float>(GAS_CONSTANT * tk / FARADAY * LN10);
}

float calc_pHint(float Eint, float TC)
{
    const float s_t = calc_nernst_slope(TC);
    const float eo_int = static_cast<float>(sys_data.k0int + TC_EO_INT * (TC - 25.0f));
    return (Eint - eo_int) / s_t;
}

float calc_ionic_strength(float salt)
{
    return static_cast<float>(19.924 * salt / (1000.0 - 1.005 * salt));
}

float calc_KHSO4(float TK, float Z, float salt)
{
    const double tk = TK;
    const double z = Z;
    const double ln_tk = std::log(tk);
    const double sqrt_z = std::sqrt(z);
    // These four quotients are single precision.
    const float q_sqrt = -13856.0f / TK;
    const float q_lin = 35474.0f / TK;
    const float q_z15 = 2698.0f / TK;
    const float q_z2 = 1776.0f / TK;
    const double ln_k = -4276.1 / tk + 141.328 - 23.093 * ln_tk +
                        (q_sqrt + 324.57 - 47.986 * ln_tk) * sqrt_z + (q_lin - 771.54 + 114.723 * ln_tk) * z -
                        q_z15 * (sqrt_z * sqrt_z * sqrt_z) + q_z2 * (z * z) + std::log(1.0 - 0.001005 * salt);
    return static_cast<float>(std::exp(ln_k));
}

float calc_pHext(float Eext, float TC, float salt)
{
    const float tk = static_cast<float>(TC + KELVIN_OFFSET);
    const float s_t = static_cast<float>(GAS_CONSTANT * tk / FARADAY * LN10);
    // Unlike the internal reference, TC - 25 is formed in double here.
    const float eo_ext = static_cast<float>(sys_data.k0ext + TC_EO_EXT * (static_cast<double>(TC) - 25.0));

    const float z = calc_ionic_strength(salt);
    // Total sulfate (0.14 / 96.062) S / 1.80655 and chloride
    // (0.99889 / 35.453) S / 1.80655, in mol per kg of solution.
    const float so4_tot = static_cast<float>(0.001457392100934813 * salt / 1.80655);
    const float m_cl = static_cast<float>(0.028175048655967053 * salt / 1.80655);
    const float k_hso4 = calc_KHSO4(tk, z, salt);

    // Debye-Hueckel constant and the activity coefficient of HCl.
    const float dh_const = static_cast<float>(0.00000343 * TC * TC + 0.00067524 * TC + 0.49172143);
    const double sqrt_z = std::sqrt(static_cast<double>(z));
    const float log10_gamma_hcl = static_cast<float>(
        2.0 * (-dh_const * sqrt_z / (1.0 + 1.394 * sqrt_z) + (0.08885 - 0.000111 * TC) * z));

    const float ph_free = static_cast<float>((static_cast<double>(Eext) - eo_ext) / s_t +
                                             std::log10(static_cast<double>(m_cl)) + log10_gamma_hcl);
    // Quotient and the added 1 in single precision.
    const float ratio = so4_tot / k_hso4;
    const float one_plus = 1.0f + ratio;
    return static_cast<float>(ph_free - std::log10(static_cast<double>(one_plus)));
}
