// Seawater properties the simulated instruments report: conductivity from
// temperature and salinity by the practical salinity scale (PSS-78), the
// one-atmosphere density (EOS-80), the speed of sound (Mackenzie 1981) and
// the oxygen solubility (Garcia and Gordon 1992, Benson and Krause fit).
#pragma once

namespace sim {

// Practical salinity of water of conductivity `c_mscm` (mS/cm) at `t_c`
// degrees C and the sea surface.
double pss78_salinity(double c_mscm, double t_c);
// Its inverse: the conductivity (mS/cm) of water of salinity `s` at `t_c`.
double pss78_conductivity(double s, double t_c);
// Density at the sea surface, kg/m3.
double seawater_density(double s, double t_c);
// Speed of sound at the sea surface, m/s.
double sound_speed(double s, double t_c);
// Oxygen concentration of air-saturated water, micromol per litre.
double o2_solubility_umol_l(double s, double t_c);

} // namespace sim
