// The water over time (see water.h).
#include "sim/devices/water.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

const std::vector<std::string> k_names = {
    "tide_period",  "tide_temp",   "tide_sal",   "tide_ph",    "tide_o2",   "diurnal_period",
    "diurnal_temp", "diurnal_sal", "diurnal_ph", "diurnal_o2", "drift_int", "drift_ext",
};

const char* const COLUMNS[] = {"time_s", "temp_c", "salinity", "ph_total", "o2_sat_pct"};

bool number_text(const std::string& text, double* v)
{
    char* end = nullptr;
    *v = std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0' && std::isfinite(*v);
}

// Seconds, or a number with the unit s, m, h or d.
bool duration_text(const std::string& text, double* s)
{
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(v)) {
        return false;
    }
    std::string unit = end;
    double scale = unit.empty() || unit == "s" ? 1
                   : unit == "m"               ? 60
                   : unit == "h"               ? 3600
                   : unit == "d"               ? 86400
                                               : 0;
    *s = v * scale;
    return scale != 0;
}

std::vector<std::string> split(const std::string& line, char sep)
{
    std::vector<std::string> v;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, sep)) {
        while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\r' || cell.back() == '\t')) {
            cell.pop_back();
        }
        std::size_t b = cell.find_first_not_of(" \t");
        v.push_back(b == std::string::npos ? std::string() : cell.substr(b));
    }
    if (!line.empty() && line.back() == sep) {
        v.emplace_back();
    }
    return v;
}

double cycle(const WaterCycle& c, double amp, double t_s)
{
    return c.on ? amp * std::sin(2.0 * M_PI * t_s / c.period_s) : 0.0;
}

} // namespace

const std::vector<std::string>& water_param_names()
{
    return k_names;
}

Status water_parse_csv(const std::string& text, WaterScenario* out)
{
    std::istringstream in(text);
    std::string line;
    int line_no = 0;
    int col[5] = {-1, -1, -1, -1, -1};
    std::size_t width = 0;
    bool header = false;
    out->t_s.clear();
    out->rows.clear();
    while (std::getline(in, line)) {
        ++line_no;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') {
            continue;
        }
        std::vector<std::string> cells = split(line, ',');
        if (!header) {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                for (int k = 0; k < 5; ++k) {
                    if (cells[i] == COLUMNS[k]) {
                        col[k] = static_cast<int>(i);
                    }
                }
            }
            for (int k = 0; k < 5; ++k) {
                if (col[k] < 0) {
                    return Status::failure(
                        "line " + std::to_string(line_no) + ": the first row must name the columns " +
                        "time_s,temp_c,salinity,ph_total,o2_sat_pct (column " + COLUMNS[k] + " missing)");
                }
            }
            width = cells.size();
            header = true;
            continue;
        }
        if (cells.size() != width) {
            return Status::failure("line " + std::to_string(line_no) + ": " + std::to_string(cells.size()) +
                                   " cells, the header has " + std::to_string(width));
        }
        double v[5];
        for (int k = 0; k < 5; ++k) {
            if (!number_text(cells[static_cast<std::size_t>(col[k])], &v[k])) {
                return Status::failure("line " + std::to_string(line_no) + ": " + COLUMNS[k] +
                                       " is not a number: \"" + cells[static_cast<std::size_t>(col[k])] +
                                       "\"");
            }
        }
        if (!out->t_s.empty() && !(v[0] > out->t_s.back())) {
            return Status::failure("line " + std::to_string(line_no) +
                                   ": time_s must increase from row to row");
        }
        if (v[0] < 0 || v[2] < 0 || v[2] > 45 || v[1] < -2.5 || v[1] > 40 || v[3] < 6 || v[3] > 9.5 ||
            v[4] < 0 || v[4] > 500) {
            return Status::failure(
                "line " + std::to_string(line_no) +
                ": outside the water the sensor models cover (time_s >= 0, temp_c -2.5..40, salinity 0..45, "
                "ph_total 6..9.5, o2_sat_pct 0..500)");
        }
        out->t_s.push_back(v[0]);
        out->rows.push_back(WaterState{v[1], v[2], v[3], v[4]});
    }
    if (!header || out->rows.empty()) {
        return Status::failure("no header row and data rows");
    }
    return {};
}

Status water_from(const std::map<std::string, std::string>& params, const WaterState& base,
                  WaterScenario* out)
{
    WaterScenario w;
    w.base = base;
    if (auto it = params.find("water"); it != params.end()) {
        int files = 0;
        for (const std::string& item : split(it->second, ',')) {
            if (item == "tide") {
                w.tide.on = true;
            } else if (item == "diurnal") {
                w.diurnal.on = true;
            } else if (item.empty()) {
                return Status::failure("--water needs tide, diurnal or a file");
            } else {
                if (++files > 1) {
                    return Status::failure("--water: one water file at most");
                }
                std::ifstream f(item, std::ios::binary);
                std::stringstream text;
                text << f.rdbuf();
                if (!f) {
                    return Status::failure("--water: cannot read \"" + item + "\"");
                }
                if (Status st = water_parse_csv(text.str(), &w); !st.ok()) {
                    return Status::failure("--water " + item + ": " + st.message());
                }
            }
        }
    }
    struct {
        const char* key;
        double* dst;
        bool duration;
    } const fields[] = {
        {"tide_period", &w.tide.period_s, true},       {"tide_temp", &w.tide.temp_c, false},
        {"tide_sal", &w.tide.salinity, false},         {"tide_ph", &w.tide.ph, false},
        {"tide_o2", &w.tide.o2_sat_pct, false},        {"diurnal_period", &w.diurnal.period_s, true},
        {"diurnal_temp", &w.diurnal.temp_c, false},    {"diurnal_sal", &w.diurnal.salinity, false},
        {"diurnal_ph", &w.diurnal.ph, false},          {"diurnal_o2", &w.diurnal.o2_sat_pct, false},
        {"drift_int", &w.drift_int_mv_per_day, false}, {"drift_ext", &w.drift_ext_mv_per_day, false},
    };
    for (const auto& f : fields) {
        auto it = params.find(f.key);
        if (it == params.end()) {
            continue;
        }
        bool ok = f.duration ? duration_text(it->second, f.dst) && *f.dst >= 60 && *f.dst <= 3.2e7
                             : number_text(it->second, f.dst);
        if (!ok) {
            return Status::failure(std::string("water: ") + f.key +
                                   (f.duration
                                        ? " needs a duration of 60 s to a year (seconds or 90m, 12.42h, 1d)"
                                        : " needs a number") +
                                   ", got \"" + it->second + "\"");
        }
    }
    *out = w;
    return {};
}

WaterState water_at(const WaterScenario& w, double t_s)
{
    WaterState s = w.base;
    if (!w.rows.empty()) {
        if (t_s <= w.t_s.front()) {
            s = w.rows.front();
        } else if (t_s >= w.t_s.back()) {
            s = w.rows.back();
        } else {
            const auto i =
                static_cast<std::size_t>(std::lower_bound(w.t_s.begin(), w.t_s.end(), t_s) - w.t_s.begin());
            const double f = (t_s - w.t_s[i - 1]) / (w.t_s[i] - w.t_s[i - 1]);
            const WaterState& a = w.rows[i - 1];
            const WaterState& b = w.rows[i];
            s = WaterState{a.temp_c + f * (b.temp_c - a.temp_c), a.salinity + f * (b.salinity - a.salinity),
                           a.ph + f * (b.ph - a.ph), a.o2_sat_pct + f * (b.o2_sat_pct - a.o2_sat_pct)};
        }
    }
    for (const WaterCycle* c : {&w.tide, &w.diurnal}) {
        s.temp_c += cycle(*c, c->temp_c, t_s);
        s.salinity += cycle(*c, c->salinity, t_s);
        s.ph += cycle(*c, c->ph, t_s);
        s.o2_sat_pct += cycle(*c, c->o2_sat_pct, t_s);
    }
    return s;
}

double drift_int_v(const WaterScenario& w, double t_s)
{
    return w.drift_int_mv_per_day * 1e-3 * t_s / 86400.0;
}

double drift_ext_v(const WaterScenario& w, double t_s)
{
    return w.drift_ext_mv_per_day * 1e-3 * t_s / 86400.0;
}

} // namespace sim
