// pH sensor calibration against a bath of known pH: derives the standard
// potentials k0int and k0ext (and, when measured, the thermistor offset)
// from typed or measured cell voltages and the bath's temperature and
// salinity.  Changes sys_data in RAM only.
#pragma once

#include <cstdint>

void ph_calib();

// Calibration constants from one calibration point (the inverse of the pH
// computation): the standard potentials at 25 degrees C.
struct PhCalResult {
    float k0int;
    float k0ext;
};
PhCalResult ph_calib_compute(float pH, float Vint, float Vext, float tempC, float salt);
