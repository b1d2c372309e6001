// Seawater properties (see seawater.h).
#include "sim/devices/instruments/seawater.h"

#include <cmath>

namespace sim {

namespace {

// Conductivity of standard seawater (S = 35, 15 degrees C, sea surface).
constexpr double C35_15_MSCM = 42.914;

double rt_ratio(double t)
{
    return 0.6766097 + t * (2.00564e-2 + t * (1.104259e-4 + t * (-6.9698e-7 + t * 1.0031e-9)));
}

double salinity_of_ratio(double rt, double t)
{
    static const double a[6] = {0.0080, -0.1692, 25.3851, 14.0941, -7.0261, 2.7081};
    static const double b[6] = {0.0005, -0.0056, -0.0066, -0.0375, 0.0636, -0.0144};
    double dt = t - 15.0;
    double root = std::sqrt(rt);
    double sa = 0;
    double sb = 0;
    double power = 1;
    for (int i = 0; i < 6; ++i) {
        sa += a[i] * power;
        sb += b[i] * power;
        power *= root;
    }
    return sa + dt / (1.0 + 0.0162 * dt) * sb;
}

} // namespace

double pss78_salinity(double c_mscm, double t_c)
{
    if (c_mscm <= 0) {
        return 0;
    }
    double t68 = t_c * 1.00024;
    double rt = c_mscm / C35_15_MSCM / rt_ratio(t68);
    return salinity_of_ratio(rt, t68);
}

double pss78_conductivity(double s, double t_c)
{
    if (s <= 0) {
        return 0;
    }
    double t68 = t_c * 1.00024;
    double lo = 0;
    double hi = 4;
    for (int i = 0; i < 80; ++i) {
        double mid = 0.5 * (lo + hi);
        if (salinity_of_ratio(mid, t68) < s) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return 0.5 * (lo + hi) * rt_ratio(t68) * C35_15_MSCM;
}

double seawater_density(double s, double t)
{
    double rho_w =
        999.842594 +
        t * (6.793952e-2 + t * (-9.095290e-3 + t * (1.001685e-4 + t * (-1.120083e-6 + t * 6.536332e-9))));
    double b = 8.24493e-1 + t * (-4.0899e-3 + t * (7.6438e-5 + t * (-8.2467e-7 + t * 5.3875e-9)));
    double c = -5.72466e-3 + t * (1.0227e-4 - t * 1.6546e-6);
    double d = 4.8314e-4;
    return rho_w + b * s + c * s * std::sqrt(s) + d * s * s;
}

double sound_speed(double s, double t)
{
    return 1448.96 + 4.591 * t - 5.304e-2 * t * t + 2.374e-4 * t * t * t + 1.340 * (s - 35.0) -
           1.025e-2 * t * (s - 35.0);
}

double o2_solubility_umol_l(double s, double t)
{
    double ts = std::log((298.15 - t) / (273.15 + t));
    double ln_c =
        5.80871 + ts * (3.20291 + ts * (4.17887 + ts * (5.10006 + ts * (-9.86643e-2 + ts * 3.80369))));
    ln_c += s * (-7.01577e-3 + ts * (-7.70028e-3 + ts * (-1.13864e-2 + ts * -9.51519e-3)));
    ln_c += -2.75915e-7 * s * s;
    // micromol per kilogram to micromol per litre.
    return std::exp(ln_c) * seawater_density(s, t) / 1000.0;
}

} // namespace sim
