// The water over time: what the pH sensor, the thermistor and the
// instruments see at a moment of the run.  A water file (CSV rows
// interpolated linearly, the last row holding after its end) or the
// constant water of --temp, --sal, --ph and --o2-sat gives the base; the
// built-in tide and diurnal cycles add sinusoids to it; a sensor drift
// moves the electrodes' standard potentials by so many millivolts per day.
//
// Parameters (RunOptions::params): "water" = a comma-separated list of
// "tide", "diurnal" and at most one file path; "tide_period",
// "tide_temp", "tide_sal", "tide_ph", "tide_o2", the same for "diurnal_";
// "drift_int", "drift_ext" in mV per day (docs/simulator.md).
#pragma once

#include "tools/common/status.h"

#include <map>
#include <string>
#include <vector>

namespace sim {

using varve::Status;

struct WaterState {
    double temp_c;
    double salinity;
    double ph;
    double o2_sat_pct;
};

struct WaterCycle {
    bool on = false;
    double period_s;
    double temp_c, salinity, ph, o2_sat_pct; // amplitudes (signed)
};

struct WaterScenario {
    // File rows (empty: the constant base).
    std::vector<double> t_s;
    std::vector<WaterState> rows;
    WaterState base{12.0, 33.5, 8.05, 95.0};
    WaterCycle tide{false, 44712.0, -0.5, 0.3, 0.02, 3.0};    // M2, 12.42 h
    WaterCycle diurnal{false, 86400.0, 0.8, 0.0, 0.05, 10.0}; // sun and photosynthesis
    double drift_int_mv_per_day = 0.0;
    double drift_ext_mv_per_day = 0.0;

    // Anything that changes with time.
    bool varies() const
    {
        return !rows.empty() || tide.on || diurnal.on || drift_int_mv_per_day != 0 ||
               drift_ext_mv_per_day != 0;
    }
};

// Names accepted in RunOptions::params for the water (besides "water").
const std::vector<std::string>& water_param_names();

// Reads the scenario (the file too); `base` is the constant water of the
// other options.  Fails for a malformed value or file.
Status water_from(const std::map<std::string, std::string>& params, const WaterState& base,
                  WaterScenario* out);
// Reads a water file's CSV text; a failure says where ("line N: ...").
Status water_parse_csv(const std::string& text, WaterScenario* out);

// The water `t_s` seconds after the start of the run.
WaterState water_at(const WaterScenario& w, double t_s);
// The drift of the internal and external reference at `t_s`, volts.
double drift_int_v(const WaterScenario& w, double t_s);
double drift_ext_v(const WaterScenario& w, double t_s);

} // namespace sim
