// What the board draws from its supply battery: the power table (the
// current of every switched supply line, the processor running and
// hibernating, the card, the instruments), and the battery the controller
// runs from (capacity and discharge curve).
//
// The table's defaults are below (power_defaults(), with the basis of each
// value); a board folder's "power.txt" overrides entries, and the command
// line's --power KEY=MA overrides both.  The run statistics turn on-times
// into charge with it (run_stats.cpp); the analog world reads the battery's
// voltage through supply_battery_volts() (board_services.h).
#pragma once

#include "tools/common/status.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace sim {

using varve::Status;

struct PowerDefault {
    const char* key;
    double value; // mA (entries ending in "_ms": milliseconds per card sector)
    const char* basis;
};
const std::vector<PowerDefault>& power_defaults();

struct PowerTable {
    std::map<std::string, double> value;
    std::map<std::string, std::string> origin; // "default", "power.txt", "command line"
    double get(const std::string& key) const;
};

// The defaults, then `board_dir`/power.txt (when present), then the
// "power.KEY" run parameters.  Fails for an unknown key or a
// value that is not a number >= 0.
Status power_table_load(const std::map<std::string, std::string>& params, const std::string& board_dir,
                        PowerTable* out);
// The table as text, one entry a line: key, value, unit, where it comes
// from, the basis of the default.
std::string power_table_text(const PowerTable& t);

// The battery: capacity and discharge curve (fraction drawn 0..1 against
// pack volts at rest).  The curve is scaled so that it starts at the fresh
// voltage (--vbat).
struct Battery {
    double capacity_mAh = 0; // 0: no battery model, the supply holds --vbat
    std::vector<double> drawn;
    std::vector<double> volts;
    std::string curve_name;
    bool present() const { return capacity_mAh > 0; }
    // Pack volts after `drawn_mAh`, for a fresh voltage of `fresh_v`.
    double volts_after(double drawn_mAh, double fresh_v) const;
    // Charge drawn when the voltage first falls below `threshold_v`
    // (negative when it never does).
    double mAh_to(double threshold_v, double fresh_v) const;
};
// "battery_ah" and "battery_curve" of the run parameters.
Status battery_from(const std::map<std::string, std::string>& params, Battery* out);
// A curve file's text: a header row "drawn_pct,volts", then rows.
Status battery_parse_curve(const std::string& text, Battery* out);

// The table and the battery of the current run (loaded when the run
// starts; every boot inherits them).
Status energy_run_open(const std::map<std::string, std::string>& params, const std::string& board_dir);
const PowerTable& run_power_table();
const Battery& run_battery();
// The fresh supply voltage of the run (--vbat).
double run_fresh_volts();

} // namespace sim
