// Sensor temperature and pH from the measured voltages: the thermistor
// fits, the internal-reference Nernst equation, and the external-reference
// total-scale pH with the seawater chemistry (ionic strength, chloride,
// sulfate, bisulfate dissociation, HCl activity).  Pure functions of their
// arguments and the calibration coefficients in sys_data.
#pragma once

// Temperature in degrees C from the thermistor divider voltage, plus offset.
float DuraFET_temp(float V_therm, float TCOffset);
// pH against the internal reference; Eint = Vrsi in volts, TC in degrees C.
float calc_pHint(float Eint, float TC);
// Total-scale pH against the external reference; Eext = Vrse in volts.
float calc_pHext(float Eext, float TC, float salt);

// Steps of calc_pHext, for the calibration and for checks.
// Nernst slope in volts per pH unit at TC degrees C (single precision).
float calc_nernst_slope(float TC);
// Ionic strength of seawater of practical salinity `salt`.
float calc_ionic_strength(float salt);
// Bisulfate dissociation constant (free scale, mol per kg of solution) at
// absolute temperature TK, ionic strength Z and salinity `salt`.
float calc_KHSO4(float TK, float Z, float salt);
