#include "tools/varve-host/netcdf_file.h"

#include "tools/varve-host/qc.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <netcdf.h>
#include <unistd.h>

namespace varvehost {

namespace {

// What a record column is: CF units (UDUNITS), long name, standard name.
struct Meaning {
    const char* units;
    const char* long_name;
    const char* standard_name;
};

const std::map<std::string, Meaning>& meanings()
{
    static const std::map<std::string, Meaning> m = {
        {"SampNum", {"1", "sample number", ""}},
        {"VbatMain", {"volt", "supply battery voltage", ""}},
        {"VbiasPos", {"volt", "bias battery voltage, positive side", ""}},
        {"VbiasNeg", {"volt", "bias battery voltage, negative side", ""}},
        {"TC_cont", {"degree_Celsius", "controller board temperature", ""}},
        {"Humidity", {"percent", "controller board relative humidity", ""}},
        {"Vtherm", {"volt", "thermistor voltage", ""}},
        {"VthrmStd", {"volt", "standard deviation of the thermistor voltage", ""}},
        {"TC_Dfet", {"degree_Celsius", "pH sensor temperature (thermistor)", "sea_water_temperature"}},
        {"Vrsi", {"volt", "internal reference cell voltage", ""}},
        {"Vrsi_std", {"volt", "standard deviation of the internal reference cell voltage", ""}},
        {"pHintEst", {"1", "pH against the internal reference", ""}},
        {"Vrse", {"volt", "external reference cell voltage", ""}},
        {"Vrse_std", {"volt", "standard deviation of the external reference cell voltage", ""}},
        {"pHextEst",
         {"1", "pH against the external reference, total scale", "sea_water_ph_reported_on_total_scale"}},
        {"Vrsi_B", {"volt", "internal reference voltage, biased (pH 7 = 0 V)", ""}},
        {"VrsiBstd", {"volt", "standard deviation of the biased internal reference voltage", ""}},
        {"Vrse_B", {"volt", "external reference voltage, biased (pH 7 = 0 V)", ""}},
        {"VrseBstd", {"volt", "standard deviation of the biased external reference voltage", ""}},
        {"Vk", {"volt", "counter electrode voltage", ""}},
        {"Vk_std", {"volt", "standard deviation of the counter electrode voltage", ""}},
        {"Ik", {"nA", "counter electrode current", ""}},
        {"Ib", {"nA", "substrate current", ""}},
        {"Opt_PN", {"1", "oxygen optode product number", ""}},
        {"Opt_SN", {"1", "oxygen optode serial number", ""}},
        {"Moxy",
         {"umol L-1", "dissolved oxygen concentration (optode)",
          "mole_concentration_of_dissolved_molecular_oxygen_in_sea_water"}},
        {"O2satper",
         {"percent", "dissolved oxygen saturation (optode)", "fractional_saturation_of_oxygen_in_sea_water"}},
        {"TC_opt", {"degree_Celsius", "optode temperature", "sea_water_temperature"}},
        {"Dphase", {"degree", "optode calibrated phase", ""}},
        {"Bphase", {"degree", "optode blue phase", ""}},
        {"Rphase", {"degree", "optode red phase", ""}},
        {"Bamp", {"mV", "optode blue amplitude", ""}},
        {"Bpot", {"mV", "optode blue LED potential", ""}},
        {"Ramp", {"mV", "optode red amplitude", ""}},
        {"Opt_rawtemp", {"mV", "optode raw temperature", ""}},
        {"TC_MCat", {"degree_Celsius", "CTD temperature (SBE37)", "sea_water_temperature"}},
        {"Pres", {"dbar", "CTD pressure (SBE37)", "sea_water_pressure"}},
        {"pSal", {"1", "practical salinity (SBE37)", "sea_water_practical_salinity"}},
        {"Cond_PN", {"1", "conductivity sensor product number (Aanderaa 5860)", ""}},
        {"Cond_SN", {"1", "conductivity sensor serial number (Aanderaa 5860)", ""}},
        {"Temp", {"degree_Celsius", "CTD temperature (Aanderaa 5860)", "sea_water_temperature"}},
        {"Sal", {"1", "practical salinity (Aanderaa 5860)", "sea_water_practical_salinity"}},
        {"Density", {"kg m-3", "sea water density (Aanderaa 5860)", "sea_water_density"}},
        {"SSpeed", {"m s-1", "speed of sound (Aanderaa 5860)", "speed_of_sound_in_sea_water"}},
        {"Chan_1", {"uW cm-2 nm-1", "radiometer channel 1 (OCR-504)", ""}},
        {"Chan_2", {"uW cm-2 nm-1", "radiometer channel 2 (OCR-504)", ""}},
        {"Chan_3", {"uW cm-2 nm-1", "radiometer channel 3 (OCR-504)", ""}},
        {"Chan_4", {"uW cm-2 nm-1", "radiometer channel 4 (OCR-504)", ""}},
        {"Sample time (ms)", {"ms", "duration of the sample", ""}},
    };
    return m;
}

// The conductivity's unit depends on the instrument: S/m from the SBE37,
// mS/cm from the Aanderaa 5860.
Meaning conductivity(bool aanderaa)
{
    return aanderaa ? Meaning{"mS cm-1", "conductivity (Aanderaa 5860)", "sea_water_electrical_conductivity"}
                    : Meaning{"S m-1", "conductivity (SBE37)", "sea_water_electrical_conductivity"};
}

// The instrument whose reply a column starts: its error text goes to a
// status variable of that name.
const char* status_name(const std::string& column)
{
    if (column == "Opt_PN") {
        return "optode_status";
    }
    if (column == "TC_MCat" || column == "Cond_PN") {
        return "ctd_status";
    }
    return nullptr;
}

// A netCDF name: letters, digits and '_'.
std::string nc_name(const std::string& s)
{
    std::string n;
    for (char c : s) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            n += c;
        } else if (!n.empty() && n.back() != '_') {
            n += '_';
        }
    }
    while (!n.empty() && n.back() == '_') {
        n.pop_back();
    }
    return n.empty() ? "column" : n;
}

std::string lower_name(const std::string& s)
{
    std::string n = nc_name(s);
    for (char& c : n) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return n;
}

struct Nc {
    int id = -1;
    int status = NC_NOERR;
    std::string what;
    void check(int rc, const std::string& doing)
    {
        if (status == NC_NOERR && rc != NC_NOERR) {
            status = rc;
            what = doing + ": " + nc_strerror(rc);
        }
    }
    void text(int var, const std::string& name, const std::string& value)
    {
        check(nc_put_att_text(id, var, name.c_str(), value.size(), value.c_str()), "attribute " + name);
    }
    void number(int var, const std::string& name, double value)
    {
        check(nc_put_att_double(id, var, name.c_str(), NC_DOUBLE, 1, &value), "attribute " + name);
    }
};

// A metadata line "Name:\tvalue" as its name and value.
bool metadata_pair(const std::string& line, std::string* name, std::string* value)
{
    std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
        return false;
    }
    std::string n = trim(line.substr(0, tab));
    if (!n.empty() && n.back() == ':') {
        n.pop_back();
    }
    *name = n;
    *value = trim(line.substr(tab + 1));
    return !n.empty();
}

// The calibration constants a computed value depends on, as the metadata
// names them.
const std::map<std::string, std::vector<std::string>>& calibration()
{
    static const std::map<std::string, std::vector<std::string>> c = {
        {"pHintEst", {"k0int", "k2int", "TCOffset"}},
        {"pHextEst", {"k0ext", "k2ext", "TCOffset", "Def Sal (ppt)"}},
        {"TC_Dfet", {"S-H c0", "S-H c1", "S-H c2", "S-H c3", "TCOffset"}},
    };
    return c;
}

} // namespace

Status write_netcdf(const Table& t, std::size_t dep, const std::string& path, const std::string& sources,
                    std::size_t* written, std::size_t* untimed)
{
    std::vector<std::size_t> rows;
    *untimed = 0;
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        if (t.deployment[r] != dep) {
            continue;
        }
        if (std::isnan(t.times[r])) {
            ++*untimed;
        } else {
            rows.push_back(r);
        }
    }
    *written = rows.size();
    const std::vector<std::string>& meta = t.deployment_metadata[dep];
    bool aanderaa = false;
    for (const std::string& c : t.columns) {
        aanderaa = aanderaa || c == "Cond_PN";
    }

    Nc nc;
    nc.check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc.id), "cannot create " + path);
    if (nc.status != NC_NOERR) {
        return Status::failure(nc.what);
    }
    int dim = -1;
    nc.check(nc_def_dim(nc.id, "time", rows.size(), &dim), "dimension time");

    // Global attributes: the conventions, then the metadata block.
    nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
    nc.text(NC_GLOBAL, "featureType", "timeSeries");
    const std::string deployed = metadata_value(meta, "Deploy time:");
    nc.text(NC_GLOBAL, "title",
            "Varve pH sensor controller deployment" + (deployed.empty() ? std::string() : " of " + deployed));
    std::string firmware = metadata_value(meta, "Firmware version:");
    nc.text(NC_GLOBAL, "source",
            "Varve controller" + (firmware.empty() ? std::string() : ", firmware " + firmware));
    nc.text(NC_GLOBAL, "history", "varve-host nc " + sources);
    nc.text(NC_GLOBAL, "references", "QARTOD (US IOOS) quality flags: variables *_qc");
    std::string fields;
    for (const std::string& m : meta) {
        std::string name, value;
        if (metadata_pair(m, &name, &value)) {
            nc.text(NC_GLOBAL, lower_name(name), value);
        } else if (m.rfind("++", 0) != 0 && m.rfind("--", 0) != 0 && !trim(m).empty()) {
            fields += (fields.empty() ? "" : "\n") + trim(m);
        }
    }
    if (!fields.empty()) {
        nc.text(NC_GLOBAL, "data_fields", fields);
    }
    auto meta_number = [&meta](const std::string& name, double* v) {
        for (const std::string& m : meta) {
            std::string n, value;
            if (metadata_pair(m, &n, &value) && n == name) {
                char* end = nullptr;
                *v = std::strtod(value.c_str(), &end);
                return end != value.c_str();
            }
        }
        return false;
    };

    // The series' identity (CF: a single time series has a scalar one).
    int id_var = -1;
    nc.check(nc_def_var(nc.id, "deployment", NC_STRING, 0, nullptr, &id_var), "variable deployment");
    nc.text(id_var, "cf_role", "timeseries_id");
    nc.text(id_var, "long_name", "deployment (board serial number and deploy time)");

    int time_var = -1;
    nc.check(nc_def_var(nc.id, "time", NC_DOUBLE, 1, &dim, &time_var), "variable time");
    nc.text(time_var, "units", "seconds since 1970-01-01T00:00:00Z");
    nc.text(time_var, "standard_name", "time");
    nc.text(time_var, "long_name", "time of the sample");
    nc.text(time_var, "calendar", "standard");
    nc.text(time_var, "axis", "T");

    enum VarKind { NUMBER, INTEGER, FLAG, TEXT };
    struct Var {
        std::size_t column;
        int id;
        VarKind kind;
        int status_var; // -1: none
    };
    std::vector<Var> vars;
    std::map<std::string, int> status_vars;
    std::map<std::string, int> by_column;
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
        const std::string& name = t.columns[c];
        if (name == "Time") {
            continue;
        }
        bool any = false, all_numbers = true;
        for (std::size_t r : rows) {
            const Cell& cell = t.rows[r][c];
            any = any || cell.kind != Cell::EMPTY;
            all_numbers = all_numbers && cell.kind != Cell::TEXT;
        }
        const bool flag = name.size() > 3 && name.compare(name.size() - 3, 3, "_qc") == 0;
        if (!any || (flag && by_column.count(name.substr(0, name.size() - 3)) == 0)) {
            continue;
        }
        auto known = meanings().find(name);
        Meaning m = name == "Cond"              ? conductivity(aanderaa)
                    : known != meanings().end() ? known->second
                                                : Meaning{"", name.c_str(), ""};
        const bool numeric = name == "Cond" || known != meanings().end() || all_numbers;
        VarKind kind = flag ? FLAG : name == "SampNum" ? INTEGER : numeric ? NUMBER : TEXT;
        const nc_type type = kind == FLAG      ? NC_BYTE
                             : kind == INTEGER ? NC_INT
                             : kind == NUMBER  ? NC_DOUBLE
                                               : NC_STRING;
        Var v{c, -1, kind, -1};
        const std::string vname = nc_name(name);
        nc.check(nc_def_var(nc.id, vname.c_str(), type, 1, &dim, &v.id), "variable " + vname);
        if (flag) {
            const std::string of = nc_name(name.substr(0, name.size() - 3));
            const signed char values[] = {QC_PASS, QC_NOT_EVALUATED, QC_SUSPECT, QC_FAIL, QC_MISSING};
            nc.check(nc_put_att_schar(nc.id, v.id, "flag_values", NC_BYTE, 5, values),
                     "attribute flag_values");
            nc.text(v.id, "flag_meanings", "pass not_evaluated suspect fail missing");
            nc.text(v.id, "long_name", "quality flag of " + of + " (QARTOD)");
            auto src = meanings().find(name.substr(0, name.size() - 3));
            if (src != meanings().end() && *src->second.standard_name != '\0') {
                nc.text(v.id, "standard_name", std::string(src->second.standard_name) + " status_flag");
            }
            nc.text(by_column[name.substr(0, name.size() - 3)], "ancillary_variables", vname);
        } else {
            if (kind == NUMBER) {
                const double fill = NC_FILL_DOUBLE;
                nc.check(nc_put_att_double(nc.id, v.id, "_FillValue", NC_DOUBLE, 1, &fill), "_FillValue");
            }
            if (*m.units != '\0') {
                nc.text(v.id, "units", m.units);
            }
            nc.text(v.id, "long_name", m.long_name);
            if (*m.standard_name != '\0') {
                nc.text(v.id, "standard_name", m.standard_name);
            }
            if (vname != name) {
                nc.text(v.id, "varve_column", name);
            }
            if (auto cal = calibration().find(name); cal != calibration().end()) {
                for (const std::string& k : cal->second) {
                    double value;
                    if (meta_number(k, &value)) {
                        nc.number(v.id, "calibration_" + lower_name(k), value);
                    }
                }
            }
            by_column[name] = v.id;
        }
        // An instrument that answered with an error text instead of values:
        // fill values, and the text in the instrument's status variable.
        bool texts = false;
        for (std::size_t r : rows) {
            texts = texts || t.rows[r][c].kind == Cell::TEXT;
        }
        if (kind != TEXT && texts) {
            std::string s = status_name(name) != nullptr ? status_name(name) : vname + "_status";
            if (status_vars.count(s) == 0) {
                int sv = -1;
                nc.check(nc_def_var(nc.id, s.c_str(), NC_STRING, 1, &dim, &sv), "variable " + s);
                nc.text(sv, "long_name", "instrument error text in place of the values (empty: none)");
                status_vars[s] = sv;
            }
            v.status_var = status_vars[s];
        }
        vars.push_back(v);
    }
    nc.check(nc_enddef(nc.id), "definitions");

    // The data.
    std::string board = metadata_value(meta, "Board SN:");
    std::string ident = (board.empty() ? std::string("Varve") : "Varve " + board) +
                        (deployed.empty() ? std::string() : " deployed " + deployed);
    const char* ident_p = ident.c_str();
    nc.check(nc_put_var_string(nc.id, id_var, &ident_p), "deployment");
    std::vector<double> times;
    for (std::size_t r : rows) {
        times.push_back(t.times[r]);
    }
    if (!rows.empty()) {
        nc.check(nc_put_var_double(nc.id, time_var, times.data()), "time");
    }
    std::map<int, std::vector<std::string>> status_text;
    for (auto& [name, sv] : status_vars) {
        status_text[sv].assign(rows.size(), "");
    }
    for (const Var& v : vars) {
        if (rows.empty()) {
            break;
        }
        std::vector<double> d;
        std::vector<int> n;
        std::vector<signed char> b;
        std::vector<std::string> s;
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const Cell& cell = t.rows[rows[k]][v.column];
            const bool num = cell.kind == Cell::NUMBER;
            const double x = num ? std::strtod(cell.value.c_str(), nullptr) : NC_FILL_DOUBLE;
            d.push_back(x);
            n.push_back(num ? static_cast<int>(x) : NC_FILL_INT);
            b.push_back(num ? static_cast<signed char>(x) : static_cast<signed char>(QC_MISSING));
            s.push_back(cell.value);
            if (cell.kind == Cell::TEXT && v.status_var >= 0) {
                status_text[v.status_var][k] = cell.value;
            }
        }
        const std::string what = "values of " + t.columns[v.column];
        if (v.kind == NUMBER) {
            nc.check(nc_put_var_double(nc.id, v.id, d.data()), what);
        } else if (v.kind == INTEGER) {
            nc.check(nc_put_var_int(nc.id, v.id, n.data()), what);
        } else if (v.kind == FLAG) {
            nc.check(nc_put_var_schar(nc.id, v.id, b.data()), what);
        } else {
            std::vector<const char*> p;
            for (const std::string& x : s) {
                p.push_back(x.c_str());
            }
            nc.check(nc_put_var_string(nc.id, v.id, p.data()), what);
        }
    }
    for (auto& [sv, texts] : status_text) {
        std::vector<const char*> p;
        for (const std::string& x : texts) {
            p.push_back(x.c_str());
        }
        nc.check(nc_put_var_string(nc.id, sv, p.data()), "status texts");
    }
    int rc = nc_close(nc.id);
    nc.check(rc, "closing " + path);
    if (nc.status != NC_NOERR) {
        ::unlink(path.c_str());
        return Status::failure(nc.what);
    }
    return {};
}

} // namespace varvehost
