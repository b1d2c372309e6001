// Quality flags of a data file's measurements, after the QARTOD tests for
// moored time series: gross range, spike, rate of change and flat line,
// plus the controller's own evidence (a converter reading without data, a
// standard deviation above a limit, an instrument that sent no values, a
// low supply).
#pragma once

#include "tools/varve-host/data_file.h"

#include <string>
#include <vector>

namespace varvehost {

// QARTOD flag values.
enum QcFlag : int { QC_PASS = 1, QC_NOT_EVALUATED = 2, QC_SUSPECT = 3, QC_FAIL = 4, QC_MISSING = 9 };

// The limits of one kind of measurement.
struct QcLimits {
    double sensor_min, sensor_max; // outside: fail
    double user_min, user_max;     // outside: suspect
    double spike_suspect, spike_fail;
    double rate_suspect;         // change per hour above which a value is suspect
    int flat_suspect, flat_fail; // the same reading this many records in a row
};

struct QcConfig {
    QcLimits ph, temperature, salinity, oxygen, oxygen_saturation;
    double std_max = 1e-4;       // V: a converter reading's standard deviation above it is suspect
    double battery_margin = 0.5; // V: a supply below the low-battery voltage plus this is suspect
};

// The documented defaults (docs/host-tools.md).
QcConfig default_qc_config();

// Reads "GROUP.NAME = VALUE" lines ('#' starts a comment) over `c`; fails,
// naming the line, on an unknown name or a bad value.
Status read_qc_config(const std::string& text, QcConfig* c);

// Unix times (UTC) of the low-battery entries of an error file ("\r\n"
// "YYYY/MM/DD HH:MM:SS text" entries, in the clock's zone: `offset_s` east
// of UTC).
std::vector<double> low_battery_times(const std::string& error_file, int offset_s);

// Inserts a column "X_qc" after each flagged column X of the table (pH,
// temperature, salinity and oxygen values), one flag per row.
void add_quality_flags(Table* t, const QcConfig& c, const std::vector<double>& low_battery = {});

} // namespace varvehost
