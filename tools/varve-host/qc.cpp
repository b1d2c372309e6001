#include "tools/varve-host/qc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

namespace varvehost {

namespace {

// What a flagged column is, and which of the controller's readings it was
// computed from.
struct Flagged {
    const char* column;
    QcLimits QcConfig::*limits;
    const char* flat_source;             // reading whose repetition shows a stuck converter ("" = itself)
    std::vector<const char*> no_data;    // readings that are -9.999999 V when the converter gave nothing
    std::vector<const char*> deviations; // standard deviations of those readings
};

const std::vector<Flagged>& flagged()
{
    static const std::vector<Flagged> f = {
        {"pHintEst", &QcConfig::ph, "Vrsi", {"Vrsi", "Vtherm"}, {"Vrsi_std", "VthrmStd"}},
        {"pHextEst", &QcConfig::ph, "Vrse", {"Vrse", "Vtherm"}, {"Vrse_std", "VthrmStd"}},
        {"TC_Dfet", &QcConfig::temperature, "Vtherm", {"Vtherm"}, {"VthrmStd"}},
        {"TC_MCat", &QcConfig::temperature, "", {}, {}},
        {"Temp", &QcConfig::temperature, "", {}, {}},
        {"TC_opt", &QcConfig::temperature, "", {}, {}},
        {"pSal", &QcConfig::salinity, "", {}, {}},
        {"Sal", &QcConfig::salinity, "", {}, {}},
        {"Moxy", &QcConfig::oxygen, "", {}, {}},
        {"O2satper", &QcConfig::oxygen_saturation, "", {}, {}},
    };
    return f;
}

long find(const Table& t, const std::string& name)
{
    auto it = std::find(t.columns.begin(), t.columns.end(), name);
    return it == t.columns.end() ? -1 : static_cast<long>(it - t.columns.begin());
}

bool value_of(const Table& t, std::size_t r, long c, double* v)
{
    if (c < 0 || t.rows[r][static_cast<std::size_t>(c)].kind != Cell::NUMBER) {
        return false;
    }
    *v = std::strtod(t.rows[r][static_cast<std::size_t>(c)].value.c_str(), nullptr);
    return true;
}

// The converter's "no trial taken" value.
bool no_data(const Table& t, std::size_t r, long c)
{
    double v;
    return value_of(t, r, c, &v) && std::fabs(v + 9.999999) < 5e-7;
}

double metadata_number(const std::vector<std::string>& m, const char* key, double fallback)
{
    std::string v = metadata_value(m, key);
    char* end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    return end == v.c_str() ? fallback : d;
}

std::vector<int> flags_of(const Table& t, const Flagged& f, long col, const QcConfig& c,
                          const std::vector<double>& low_battery)
{
    const QcLimits& lim = c.*(f.limits);
    const std::size_t n = t.rows.size();
    std::vector<int> flag(n, QC_MISSING);
    std::vector<double> v(n, NAN);
    for (std::size_t r = 0; r < n; ++r) {
        double x;
        if (value_of(t, r, col, &x) && !no_data(t, r, col)) {
            v[r] = x;
            flag[r] = QC_PASS;
        }
    }
    auto raise = [&flag](std::size_t r, int to) {
        if (flag[r] != QC_MISSING && to > flag[r]) {
            flag[r] = to;
        }
    };
    const long flat_col =
        *f.flat_source != '\0' && find(t, f.flat_source) >= 0 ? find(t, f.flat_source) : col;
    const long vbat = find(t, "VbatMain");
    std::size_t run = 0;
    std::string last;
    for (std::size_t r = 0; r < n; ++r) {
        const bool new_dep = r == 0 || t.deployment[r] != t.deployment[r - 1];
        if (new_dep) {
            run = 0;
            last.clear();
        }
        if (flag[r] == QC_MISSING) {
            run = 0;
            continue;
        }
        // Gross range.
        if (v[r] < lim.sensor_min || v[r] > lim.sensor_max) {
            raise(r, QC_FAIL);
        } else if (v[r] < lim.user_min || v[r] > lim.user_max) {
            raise(r, QC_SUSPECT);
        }
        // The controller's evidence.
        for (const char* name : f.no_data) {
            if (no_data(t, r, find(t, name))) {
                raise(r, QC_FAIL);
            }
        }
        for (const char* name : f.deviations) {
            double sd;
            if (value_of(t, r, find(t, name), &sd) && sd > c.std_max) {
                raise(r, QC_SUSPECT);
            }
        }
        const auto& meta = t.deployment_metadata[t.deployment[r]];
        double supply;
        if (value_of(t, r, vbat, &supply) &&
            supply < metadata_number(meta, "Low battery voltage:", 0.0) + c.battery_margin) {
            raise(r, QC_SUSPECT);
        }
        const double period = metadata_number(meta, "Sampling period (s)", 0.0);
        for (double when : low_battery) {
            if (!std::isnan(t.times[r]) && t.times[r] <= when && t.times[r] > when - std::max(period, 1.0)) {
                raise(r, QC_SUSPECT);
            }
        }
        // Flat line: the same reading (as recorded) again and again.
        const Cell& fc = t.rows[r][static_cast<std::size_t>(flat_col)];
        run = fc.kind == Cell::NUMBER && fc.value == last ? run + 1 : 1;
        last = fc.kind == Cell::NUMBER ? fc.value : std::string();
        if (static_cast<int>(run) >= lim.flat_fail) {
            raise(r, QC_FAIL);
        } else if (static_cast<int>(run) >= lim.flat_suspect) {
            raise(r, QC_SUSPECT);
        }
    }
    // Spike: the value against the mean of its neighbours, less half their
    // difference, so that a step (a change that stays) is not a spike.
    for (std::size_t r = 1; r + 1 < n; ++r) {
        if (flag[r] == QC_MISSING || flag[r - 1] == QC_MISSING || flag[r + 1] == QC_MISSING ||
            t.deployment[r - 1] != t.deployment[r] || t.deployment[r + 1] != t.deployment[r]) {
            continue;
        }
        double spike = std::fabs(v[r] - (v[r - 1] + v[r + 1]) / 2.0) - std::fabs((v[r + 1] - v[r - 1]) / 2.0);
        if (spike > lim.spike_fail) {
            raise(r, QC_FAIL);
        } else if (spike > lim.spike_suspect) {
            raise(r, QC_SUSPECT);
        }
    }
    // Rate of change against the last value that passed, per hour.
    long prev = -1;
    for (std::size_t r = 0; r < n; ++r) {
        if (prev >= 0 && t.deployment[static_cast<std::size_t>(prev)] != t.deployment[r]) {
            prev = -1;
        }
        if (flag[r] == QC_MISSING) {
            continue;
        }
        if (prev >= 0 && !std::isnan(t.times[r]) && flag[r] == QC_PASS) {
            const double hours = (t.times[r] - t.times[static_cast<std::size_t>(prev)]) / 3600.0;
            if (hours > 0 && std::fabs(v[r] - v[static_cast<std::size_t>(prev)]) / hours > lim.rate_suspect) {
                raise(r, QC_SUSPECT);
            }
        }
        if (flag[r] == QC_PASS) {
            prev = static_cast<long>(r);
        }
    }
    return flag;
}

} // namespace

QcConfig default_qc_config()
{
    QcConfig c;
    // sensor range, user range, spike suspect/fail, rate per hour, flat line suspect/fail
    c.ph = {6.0, 10.0, 7.3, 8.6, 0.05, 0.2, 0.2, 8, 16};
    c.temperature = {-5.0, 40.0, -2.0, 35.0, 1.0, 3.0, 3.0, 8, 16};
    c.salinity = {0.0, 42.0, 2.0, 40.0, 0.5, 2.0, 2.0, 8, 16};
    c.oxygen = {0.0, 1000.0, 0.0, 500.0, 20.0, 50.0, 50.0, 8, 16};
    c.oxygen_saturation = {0.0, 300.0, 0.0, 150.0, 10.0, 25.0, 25.0, 8, 16};
    return c;
}

Status read_qc_config(const std::string& text, QcConfig* c)
{
    const std::map<std::string, QcLimits QcConfig::*> groups = {
        {"ph", &QcConfig::ph},
        {"temperature", &QcConfig::temperature},
        {"salinity", &QcConfig::salinity},
        {"oxygen", &QcConfig::oxygen},
        {"oxygen_saturation", &QcConfig::oxygen_saturation},
    };
    const std::map<std::string, double QcLimits::*> numbers = {
        {"sensor_min", &QcLimits::sensor_min},       {"sensor_max", &QcLimits::sensor_max},
        {"user_min", &QcLimits::user_min},           {"user_max", &QcLimits::user_max},
        {"spike_suspect", &QcLimits::spike_suspect}, {"spike_fail", &QcLimits::spike_fail},
        {"rate_suspect", &QcLimits::rate_suspect},
    };
    std::size_t pos = 0;
    int line_no = 0;
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
        ++line_no;
        line = line.substr(0, line.find('#'));
        std::size_t eq = line.find('=');
        auto trim = [](std::string s) {
            std::size_t b = s.find_first_not_of(" \t\r");
            std::size_t e = s.find_last_not_of(" \t\r");
            return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        if (trim(line).empty()) {
            continue;
        }
        const std::string where = "line " + std::to_string(line_no) + ": ";
        if (eq == std::string::npos) {
            return Status::failure(where + "not NAME = VALUE");
        }
        const std::string name = trim(line.substr(0, eq));
        const std::string text_value = trim(line.substr(eq + 1));
        char* end = nullptr;
        const double value = std::strtod(text_value.c_str(), &end);
        if (text_value.empty() || *end != '\0' || !std::isfinite(value)) {
            return Status::failure(where + "\"" + text_value + "\" is not a number");
        }
        if (name == "std_max" || name == "battery_margin") {
            (name == "std_max" ? c->std_max : c->battery_margin) = value;
            continue;
        }
        std::size_t dot = name.find('.');
        auto g = groups.find(name.substr(0, dot));
        if (dot == std::string::npos || g == groups.end()) {
            return Status::failure(where + "unknown name \"" + name + "\"");
        }
        QcLimits& lim = c->*(g->second);
        const std::string field = name.substr(dot + 1);
        if (auto k = numbers.find(field); k != numbers.end()) {
            lim.*(k->second) = value;
        } else if (field == "flat_suspect" || field == "flat_fail") {
            if (value < 2 || value > 1e6 || value != std::floor(value)) {
                return Status::failure(where + field + " is a count of records from 2 up");
            }
            (field == "flat_suspect" ? lim.flat_suspect : lim.flat_fail) = static_cast<int>(value);
        } else {
            return Status::failure(where + "unknown name \"" + name + "\"");
        }
    }
    return {};
}

std::vector<double> low_battery_times(const std::string& error_file, int offset_s)
{
    std::vector<double> times;
    std::size_t pos = 0;
    while ((pos = error_file.find("Low battery", pos)) != std::string::npos) {
        // The entry's time stamp is the 20 bytes before its text.
        if (pos >= 20) {
            unsigned y, mo, d, h, mi, s;
            if (std::sscanf(error_file.c_str() + pos - 20, "%4u/%2u/%2u %2u:%2u:%2u ", &y, &mo, &d, &h, &mi,
                            &s) == 6) {
                std::tm tm{};
                tm.tm_year = static_cast<int>(y) - 1900;
                tm.tm_mon = static_cast<int>(mo) - 1;
                tm.tm_mday = static_cast<int>(d);
                tm.tm_hour = static_cast<int>(h);
                tm.tm_min = static_cast<int>(mi);
                tm.tm_sec = static_cast<int>(s);
                times.push_back(static_cast<double>(timegm(&tm)) - offset_s);
            }
        }
        pos += 11;
    }
    return times;
}

void add_quality_flags(Table* t, const QcConfig& c, const std::vector<double>& low_battery)
{
    for (const Flagged& f : flagged()) {
        long col = find(*t, f.column);
        if (col < 0 || find(*t, std::string(f.column) + "_qc") >= 0) {
            continue;
        }
        std::vector<int> flag = flags_of(*t, f, col, c, low_battery);
        const std::size_t at = static_cast<std::size_t>(col) + 1;
        t->columns.insert(t->columns.begin() + static_cast<long>(at), std::string(f.column) + "_qc");
        for (std::size_t r = 0; r < t->rows.size(); ++r) {
            t->rows[r].insert(t->rows[r].begin() + static_cast<long>(at),
                              Cell{Cell::NUMBER, std::to_string(flag[r])});
        }
    }
}

} // namespace varvehost
