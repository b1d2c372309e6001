// Power table and battery (see energy.h).
#include "sim/run/energy.h"

#include "sim/devices/board_services.h"
#include "sim/run/run_stats.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

// Currents drawn from the supply battery (linear regulation assumed for the
// 3.3 V and 5 V rails: the battery supplies the load current).  Sources and
// estimates: docs/simulator.md, "Power table".
const std::vector<PowerDefault> k_defaults = {
    {"iso", 6.0, "estimate: isolated DC/DC converter at light load, ADS1248 (0.223 mA typ., TI datasheet)"},
    {"env_mon", 1.5,
     "estimate: HIH-4000 humidity (0.2 mA typ., Honeywell datasheet), board temperature, leak, "
     "pressure excitation"},
    {"vbat_mon", 0.12, "estimate: battery divider, about 100 kOhm at 12.5 V"},
    {"ctd", 0.1, "estimate: CTD supply switch (the instrument is its own entry)"},
    {"aux_pwr1_pump1", 150.0, "estimate: small 12 V submersible pump"},
    {"aux_pwr2_pump2", 150.0, "estimate: small 12 V submersible pump"},
    {"aux_pwr3", 50.0, "estimate: auxiliary 12 V load"},
    {"solenoid_pg1", 200.0, "estimate: 12 V solenoid valve"},
    {"solenoid_pg3", 200.0, "estimate: 12 V solenoid valve"},
    {"solenoid_pg3_pwm", 200.0, "estimate: 12 V solenoid valve at full duty (weighted by the duty)"},
    {"pressure", 1.0, "estimate: pressure sensor supply"},
    {"sampling_led", 2.0, "estimate: indicator LED"},
    {"led_green", 2.0, "estimate: indicator LED"},
    {"optode_port", 0.1, "estimate: optode port supply switch (the instrument is its own entry)"},
    {"mcu_run", 25.0,
     "estimate: TM4C123 at 50 MHz from the PLL, code in flash, peripherals on, with the "
     "board's 3.3 V logic"},
    {"mcu_hibernate", 0.01,
     "estimate: hibernation module with its 32.768 kHz clock and RTC, and the "
     "regulators' quiescent current"},
    {"card_read", 25.0, "estimate: microSD card reading in SPI mode"},
    {"card_write", 40.0, "estimate: microSD card writing in SPI mode"},
    {"card_read_ms", 1.0, "estimate: time per 512-byte sector read (command, transfer)"},
    {"card_write_ms", 3.0, "estimate: time per 512-byte sector written (transfer and programming)"},
    {"sbe37", 35.0, "estimate: SBE 37 MicroCAT while powered and sampling"},
    {"aand5860", 6.0, "estimate: Aanderaa 5860 conductivity sensor while powered"},
    {"optode", 4.0, "estimate: Aanderaa 4831 oxygen optode while powered"},
    {"ocr504", 40.0, "estimate: OCR-504 radiometer while powered"},
};

// Default pack: four LiFePO4 cells in series (12.8 V nominal), resting
// voltage against the fraction of the capacity drawn at low rates; the end
// of discharge, 2.5 V a cell, is 10.0 V.
const double k_curve_drawn[] = {0.00, 0.02, 0.10, 0.30, 0.50, 0.70, 0.85, 0.92, 0.96, 0.98, 0.99, 1.00};
const double k_curve_volts[] = {13.40, 13.30, 13.20, 13.10, 13.05, 12.95,
                                12.80, 12.60, 12.20, 11.60, 11.00, 10.00};

bool number_text(const std::string& text, double* v)
{
    char* end = nullptr;
    *v = std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0' && std::isfinite(*v);
}

std::string trim(const std::string& s)
{
    std::size_t b = s.find_first_not_of(" \t\r");
    std::size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool known_key(const std::string& key)
{
    for (const PowerDefault& d : k_defaults) {
        if (key == d.key) {
            return true;
        }
    }
    return false;
}

PowerTable g_table;
Battery g_battery;
double g_fresh_v = 12.5;

} // namespace

const std::vector<PowerDefault>& power_defaults()
{
    return k_defaults;
}

double PowerTable::get(const std::string& key) const
{
    auto it = value.find(key);
    return it != value.end() ? it->second : 0.0;
}

Status power_table_load(const std::map<std::string, std::string>& params, const std::string& board_dir,
                        PowerTable* out)
{
    PowerTable t;
    for (const PowerDefault& d : k_defaults) {
        t.value[d.key] = d.value;
        t.origin[d.key] = "default";
    }
    auto set = [&](const std::string& key, const std::string& text, const std::string& where) -> Status {
        double v = 0;
        if (!known_key(key)) {
            return Status::failure(where + ": unknown power table entry \"" + key +
                                   "\" (varve-sim power lists them)");
        }
        if (!number_text(text, &v) || v < 0 || v > 100000) {
            return Status::failure(where + ": " + key + " needs a number 0..100000, got \"" + text + "\"");
        }
        t.value[key] = v;
        t.origin[key] = where.rfind("--power", 0) == 0 ? "command line" : "power.txt";
        return {};
    };
    if (!board_dir.empty()) {
        std::ifstream f(board_dir + "/power.txt");
        std::string line;
        int n = 0;
        while (f && std::getline(f, line)) {
            ++n;
            line = trim(line.substr(0, line.find('#')));
            if (line.empty()) {
                continue;
            }
            std::size_t sep = line.find_first_of(" \t=");
            std::string key = trim(line.substr(0, sep));
            std::string value = sep == std::string::npos ? std::string() : trim(line.substr(sep));
            if (!value.empty() && value[0] == '=') {
                value = trim(value.substr(1));
            }
            if (Status st = set(key, value, board_dir + "/power.txt line " + std::to_string(n)); !st.ok()) {
                return st;
            }
        }
    }
    for (const auto& [k, v] : params) {
        if (k.rfind("power.", 0) != 0) {
            continue;
        }
        if (Status st = set(k.substr(6), v, "--power " + k.substr(6)); !st.ok()) {
            return st;
        }
    }
    *out = t;
    return {};
}

std::string power_table_text(const PowerTable& t)
{
    std::string s;
    char line[256];
    for (const PowerDefault& d : k_defaults) {
        const bool ms = std::string(d.key).size() > 3 &&
                        std::string(d.key).substr(std::string(d.key).size() - 3) == "_ms";
        std::snprintf(line, sizeof line, "%-17s %10.4f %-3s %-13s %s\n", d.key, t.get(d.key),
                      ms ? "ms" : "mA", t.origin.at(d.key).c_str(),
                      t.origin.at(d.key) == "default" ? d.basis : "");
        s += line;
    }
    return s;
}

double Battery::volts_after(double drawn_mAh, double fresh_v) const
{
    if (!present() || volts.empty()) {
        return fresh_v;
    }
    const double scale = fresh_v / volts.front();
    const double f = drawn_mAh / capacity_mAh;
    if (f <= drawn.front()) {
        return volts.front() * scale;
    }
    for (std::size_t i = 1; i < drawn.size(); ++i) {
        if (f <= drawn[i]) {
            const double k = (f - drawn[i - 1]) / (drawn[i] - drawn[i - 1]);
            return (volts[i - 1] + k * (volts[i] - volts[i - 1])) * scale;
        }
    }
    // Past the end of the curve the pack collapses: the last segment's
    // slope goes on, down to 0 V.
    const std::size_t n = drawn.size();
    double slope = n >= 2 ? (volts[n - 1] - volts[n - 2]) / (drawn[n - 1] - drawn[n - 2]) : -100.0;
    if (slope > -1.0) {
        slope = -100.0;
    }
    const double v = volts[n - 1] + slope * (f - drawn[n - 1]);
    return v > 0 ? v * scale : 0.0;
}

double Battery::mAh_to(double threshold_v, double fresh_v) const
{
    if (!present()) {
        return -1;
    }
    // Bisection on the (falling) curve.
    double lo = 0, hi = capacity_mAh * 4;
    if (volts_after(lo, fresh_v) < threshold_v) {
        return 0;
    }
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (volts_after(mid, fresh_v) < threshold_v ? hi : lo) = mid;
    }
    return hi;
}

Status battery_parse_curve(const std::string& text, Battery* out)
{
    std::istringstream in(text);
    std::string line;
    int n = 0;
    bool header = false;
    out->drawn.clear();
    out->volts.clear();
    while (std::getline(in, line)) {
        ++n;
        line = trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (!header) {
            if (line != "drawn_pct,volts") {
                return Status::failure("line " + std::to_string(n) +
                                       ": the first row must be drawn_pct,volts");
            }
            header = true;
            continue;
        }
        std::size_t comma = line.find(',');
        double pct = 0, v = 0;
        if (comma == std::string::npos || !number_text(trim(line.substr(0, comma)), &pct) ||
            !number_text(trim(line.substr(comma + 1)), &v)) {
            return Status::failure("line " + std::to_string(n) + ": two numbers expected: drawn_pct,volts");
        }
        if (pct < 0 || pct > 100 || v <= 0 || v > 100 ||
            (!out->drawn.empty() && pct / 100.0 <= out->drawn.back()) ||
            (!out->volts.empty() && v > out->volts.back())) {
            return Status::failure(
                "line " + std::to_string(n) +
                ": drawn_pct must rise within 0..100 and volts (0..100) must not rise from row to row");
        }
        out->drawn.push_back(pct / 100.0);
        out->volts.push_back(v);
    }
    if (out->drawn.size() < 2) {
        return Status::failure("a header row and at least two rows needed");
    }
    return {};
}

Status battery_from(const std::map<std::string, std::string>& params, Battery* out)
{
    Battery b;
    b.drawn.assign(std::begin(k_curve_drawn), std::end(k_curve_drawn));
    b.volts.assign(std::begin(k_curve_volts), std::end(k_curve_volts));
    b.curve_name = "LiFePO4 4S (built in)";
    if (auto it = params.find("battery_ah"); it != params.end()) {
        double ah = 0;
        if (!number_text(it->second, &ah) || ah <= 0 || ah > 10000) {
            return Status::failure("--battery needs a capacity in Ah, more than 0 and at most 10000, got \"" +
                                   it->second + "\"");
        }
        b.capacity_mAh = ah * 1000.0;
    }
    if (auto it = params.find("battery_curve"); it != params.end()) {
        std::ifstream f(it->second, std::ios::binary);
        std::stringstream text;
        text << f.rdbuf();
        if (!f) {
            return Status::failure("--battery-curve: cannot read \"" + it->second + "\"");
        }
        if (Status st = battery_parse_curve(text.str(), &b); !st.ok()) {
            return Status::failure("--battery-curve " + it->second + ": " + st.message());
        }
        b.curve_name = it->second;
    }
    *out = b;
    return {};
}

Status energy_run_open(const std::map<std::string, std::string>& params, const std::string& board_dir)
{
    if (Status st = power_table_load(params, board_dir, &g_table); !st.ok()) {
        return st;
    }
    if (Status st = battery_from(params, &g_battery); !st.ok()) {
        return st;
    }
    g_fresh_v = 12.5;
    if (auto it = params.find("vbat"); it != params.end()) {
        number_text(it->second, &g_fresh_v);
    }
    return {};
}

const PowerTable& run_power_table()
{
    return g_table;
}

const Battery& run_battery()
{
    return g_battery;
}

double run_fresh_volts()
{
    return g_fresh_v;
}

double supply_battery_volts(double fresh_v)
{
    if (!g_battery.present()) {
        return fresh_v;
    }
    return g_battery.volts_after(stats_charge_mAh_now(), fresh_v);
}

} // namespace sim
