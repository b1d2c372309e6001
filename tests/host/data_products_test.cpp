// varve-host nc and the quality flags: a month of hourly records in the
// controller's record format (metadata, header and record layout taken from
// a simulated deployment), with faults put in at known records.
#include "tests/host/host_support.h"

#include "records/system_data.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <numbers>
#include <set>

using namespace hosttest;
using deploytest::fields;
using deploytest::lines;
using deploytest::records;

namespace {

constexpr int DAYS = 30;
constexpr int RECORDS = DAYS * 24;
// The faults and the records they are put in.
constexpr int SPIKE = 100;                        // external pH 0.3 too high
constexpr int STUCK_FROM = 200, STUCK_TO = 223;   // the converter repeats one reading
constexpr int NO_DATA = 300;                      // thermistor reading -9.999999 V
constexpr int SILENT_FROM = 400, SILENT_TO = 423; // the CTD does not answer for a day
constexpr int NAN_PH = 500;                       // external pH "nan"
constexpr int SAG_FROM = 600, SAG_TO = 647;       // supply under the low-battery voltage + 0.5 V
constexpr int LOW_BATTERY_ENTRY = 700;            // error file: "Low battery!" after this record
const char* const CTD_ERROR =
    "CTD not responding with SBE37 data, check connection, make sure data config is SBE37";

std::string fmt(const char* f, double v)
{
    char b[64];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

// Deterministic jitter in [-0.5, 0.5).
double jitter(int i, int k)
{
    return static_cast<double>((i * 7919 + k * 104729) % 1000) / 1000.0 - 0.5;
}

struct Month {
    std::string head;                 // metadata and column header, as on the card
    std::vector<std::string> records; // "\r\n"-terminated, in order
    std::string text() const
    {
        std::string t = head;
        for (const std::string& r : records) {
            t += r;
        }
        return t;
    }
};

// A simulated deployment with every analog field, an optode and an SBE37
// gives the metadata, the header and one record as the template.
const Month& month()
{
    static Month m = [] {
        auto o = deploytest::board("host-products", [](systemData& d) {
            d.sampling_period = 60;
            for (int i = CFG_V_THERMISTOR; i <= CFG_BRD_HUMIDITY; ++i) {
                d.data_cfg[i] = 1;
            }
            d.data_cfg[CFG_OPTODE] = 1;
            d.data_cfg[CFG_CTD] = 1;
        });
        o.params["optode_port"] = "optode";
        o.params["ctd"] = "sbe37";
        test::run_script(o, deploytest::keys(1, "2\\r") + deploytest::keys(1, "products\\r"), 70);
        const std::string file = deploytest::card_file(o.board_dir, "noname.txt");
        Month m;
        const std::size_t first = file.find("\r\n#");
        m.head = file.substr(0, first + 2);
        const std::vector<std::string> hdr = fields(lines(m.head).back());
        const std::vector<std::string> tmpl = fields(records(file).at(0));
        std::map<std::string, std::size_t> at;
        for (std::size_t k = 0; k < hdr.size(); ++k) {
            std::string n = hdr[k];
            n.erase(0, n.find_first_not_of(' '));
            at[n.substr(0, n.find_last_not_of(' ') + 1)] = k;
        }
        for (int i = 0; i < RECORDS; ++i) {
            std::vector<std::string> f = tmpl;
            auto set = [&](const char* name, const std::string& v) { f.at(at.at(name)) = v; };
            const double w = 2 * std::numbers::pi * i / 24.0;
            const double temp = 12.0 + 0.5 * std::sin(w) + 0.01 * jitter(i, 1);
            const double ph = 8.05 + 0.02 * std::sin(w + 2) + 0.002 * jitter(i, 2);
            const double sal = 33.5 + 0.1 * std::sin(w + 1) + 0.002 * jitter(i, 3);
            char num[16], when[32];
            std::snprintf(num, sizeof num, "#%07d", i);
            std::snprintf(when, sizeof when, "01/%02d/2026 %02d:00:04", 1 + i / 24, i % 24);
            set("SampNum", num);
            set("MM/DD/YYYY HH:MM:SS", when);
            set("VbatMain", i >= SAG_FROM && i <= SAG_TO ? "   10.40" : "   12.50");
            set("Vtherm",
                i == NO_DATA ? "-9.999999" : fmt("%f", 1.45 - 0.02 * (temp - 12) + 1e-5 * jitter(i, 4)));
            set("TC_Dfet", i == NO_DATA ? "  80.123" : fmt("%8.3f", temp));
            const bool stuck = i >= STUCK_FROM && i <= STUCK_TO;
            set("Vrsi",
                stuck ? "0.074600" : fmt("%f", 0.0746 + 0.001 * std::sin(w + 2) + 1e-5 * jitter(i, 5)));
            set("pHintEst", stuck ? "   8.050" : fmt("%8.3f", ph));
            set("Vrse", fmt("%f", -0.7935 + 0.001 * std::sin(w + 2) + 1e-5 * jitter(i, 6)));
            set("pHextEst", i == NAN_PH  ? "     nan"
                            : i == SPIKE ? fmt("%8.3f", ph - 0.03 + 0.3)
                                         : fmt("%8.3f", ph - 0.03));
            set("Moxy", fmt("%.3f", 259 + 5 * std::sin(w) + 0.5 * jitter(i, 7)));
            set("O2satper", fmt("%.3f", 95 + 2 * std::sin(w) + 0.2 * jitter(i, 8)));
            set("TC_opt", fmt("%.3f", temp + 0.1));
            if (i >= SILENT_FROM && i <= SILENT_TO) {
                set("TC_MCat", CTD_ERROR);
                for (const char* n : {"Cond", "pSal", "Date_MC", "Time_MC"}) {
                    set(n, "");
                }
            } else {
                set("TC_MCat", fmt("%9.4f", temp + 0.01));
                set("Cond", fmt("%9.5f", 3.85 + 0.01 * std::sin(w + 1)));
                set("pSal", fmt("%10.4f", sal));
                char d[16];
                std::snprintf(d, sizeof d, " %d Jan 2026", 1 + i / 24);
                set("Date_MC", d);
                std::snprintf(d, sizeof d, " %02d:00:06", i % 24);
                set("Time_MC", d);
            }
            std::string line;
            for (std::size_t k = 0; k < f.size(); ++k) {
                line += (k == 0 ? "" : "\t") + f[k];
            }
            m.records.push_back(line + "\r\n");
        }
        return m;
    }();
    return m;
}

struct Csv {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> rows;
    std::size_t col(const std::string& n) const
    {
        auto it = std::find(names.begin(), names.end(), n);
        EXPECT_NE(it, names.end()) << n;
        return static_cast<std::size_t>(it - names.begin());
    }
};

// The tool's CSV: texts quoted (the error text has commas), no line breaks
// inside a cell.
Csv read_csv(const std::string& text)
{
    Csv c;
    for (const std::string& l : lines(text)) {
        if (l.rfind("# ", 0) == 0) {
            continue;
        }
        std::vector<std::string> cells{""};
        bool quoted = false;
        for (std::size_t i = 0; i < l.size(); ++i) {
            if (quoted && l[i] == '"' && i + 1 < l.size() && l[i + 1] == '"') {
                cells.back() += '"';
                ++i;
            } else if (l[i] == '"') {
                quoted = !quoted;
            } else if (l[i] == ',' && !quoted) {
                cells.emplace_back();
            } else {
                cells.back() += l[i];
            }
        }
        (c.names.empty() ? c.names : c.rows.emplace_back()) = cells;
    }
    return c;
}

std::string dir_for(const std::string& name)
{
    return test::fresh_board_dir(name);
}

} // namespace

TEST(DataProducts, QualityFlagsLandOnTheFaultyRecordsAndNoOthers)
{
    const std::string base = dir_for("host-qc");
    write_text(base + ".txt", month().text());
    // The error file: the low-battery entry 30 s after a record (local time).
    char entry[80];
    std::snprintf(entry, sizeof entry, "\r\n2026/01/%02d %02d:00:34 Low battery! Exiting deploy mode",
                  1 + LOW_BATTERY_ENTRY / 24, LOW_BATTERY_ENTRY % 24);
    write_text(base + "-error.txt", std::string("\r\n2026/01/02 03:04:05 f_open error") + entry);
    Proc p = host({"csv", base + ".txt", base + ".csv", "--errors", base + "-error.txt"});
    ASSERT_EQ(p.status, 0) << p.err;
    // The record with "nan" is kept, its cell empty, and counted.
    EXPECT_NE(p.err.find(std::to_string(RECORDS) + " records"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("1 values not a number"), std::string::npos) << p.err;
    Csv csv = read_csv(read_text(base + ".csv"));
    ASSERT_EQ(csv.rows.size(), static_cast<std::size_t>(RECORDS));
    EXPECT_EQ(csv.rows[NAN_PH][csv.col("pHextEst")], "");

    const std::vector<std::string> flagged = {"pHintEst", "pHextEst", "TC_Dfet", "TC_opt",
                                              "Moxy",     "O2satper", "TC_MCat", "pSal"};
    auto in = [](int i, int from, int to) { return i >= from && i <= to; };
    for (const std::string& v : flagged) {
        SCOPED_TRACE(v);
        const std::size_t q = csv.col(v + "_qc");
        ASSERT_EQ(q, csv.col(v) + 1); // beside its value
        for (int i = 0; i < RECORDS; ++i) {
            int want = 1;
            const bool ctd = v == "TC_MCat" || v == "pSal";
            if (in(i, SAG_FROM, SAG_TO) || i == LOW_BATTERY_ENTRY) {
                want = 3;
            } else if (v == "pHextEst" && i == SPIKE) {
                want = 4;
            } else if (v == "pHintEst" && in(i, STUCK_FROM + 7, STUCK_FROM + 14)) {
                want = 3; // the same reading 8 times in a row
            } else if (v == "pHintEst" && in(i, STUCK_FROM + 15, STUCK_TO)) {
                want = 4; // 16 times
            } else if ((v == "TC_Dfet" || v == "pHintEst" || v == "pHextEst") && i == NO_DATA) {
                want = 4;
            } else if (v == "pHextEst" && i == NAN_PH) {
                want = 9;
            } else if (ctd && in(i, SILENT_FROM, SILENT_TO)) {
                want = 9;
            }
            EXPECT_EQ(csv.rows[static_cast<std::size_t>(i)][q], std::to_string(want)) << "record " << i;
        }
    }

    // The plot marks them: suspect and failed values have keys of their own.
    Proc plot = host({"plot", base + ".txt", base + ".svg", "--errors", base + "-error.txt"});
    ASSERT_EQ(plot.status, 0) << plot.err;
    const std::string svg = read_text(base + ".svg");
    EXPECT_NE(svg.find("pH, external reference: failed"), std::string::npos);
    EXPECT_NE(svg.find("pH, internal reference: suspect"), std::string::npos);
    EXPECT_NE(svg.find("sensor temperature: failed"), std::string::npos);

    // User limits from a config file: a narrower pH range makes more suspect.
    write_text(base + ".qc", "# pH expected in this bay\nph.user_min = 8.04\n");
    Proc narrow = host({"csv", base + ".txt", "--qc", base + ".qc"});
    ASSERT_EQ(narrow.status, 0) << narrow.err;
    Csv n = read_csv(narrow.out);
    std::size_t q = n.col("pHintEst_qc"), v = n.col("pHintEst");
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(n.rows[i][q], std::stod(n.rows[i][v]) < 8.04 ? "3" : "1") << i;
    }
    write_text(base + ".bad.qc", "ph.user_mini = 8\n");
    Proc bad = host({"csv", base + ".txt", "--qc", base + ".bad.qc"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("line 1: unknown name \"ph.user_mini\""), std::string::npos) << bad.err;
}

TEST(DataProducts, TheNetcdfFileHoldsEveryValueOfTheCsvWithCfMetadata)
{
    const std::string base = dir_for("host-nc");
    write_text(base + ".txt", month().text());
    Proc nc = host({"nc", base + ".txt", base + ".nc"});
    ASSERT_EQ(nc.status, 0) << nc.err;
    ASSERT_EQ(host({"csv", base + ".txt", base + ".csv"}).status, 0);
    Proc cmp =
        run({"/usr/bin/python3", VARVE_SOURCE_DIR "/tests/host/nc_compare.py", base + ".nc", base + ".csv"});
    EXPECT_EQ(cmp.status, 0) << cmp.out << cmp.err;
    EXPECT_NE(cmp.out.find("compared "), std::string::npos) << cmp.out << cmp.err;

    Proc dump = run({"/usr/bin/ncdump", "-h", base + ".nc"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const std::string& h = dump.out;
    for (const char* want : {
             ":Conventions = \"CF-1.8\"",
             ":featureType = \"timeSeries\"",
             "deployment:cf_role = \"timeseries_id\"",
             "time:units = \"seconds since 1970-01-01T00:00:00Z\"",
             "pHextEst:standard_name = \"sea_water_ph_reported_on_total_scale\"",
             "pSal:standard_name = \"sea_water_practical_salinity\"",
             "Cond:standard_name = \"sea_water_electrical_conductivity\"",
             "TC_Dfet:standard_name = \"sea_water_temperature\"",
             "Moxy:standard_name = \"mole_concentration_of_dissolved_molecular_oxygen_in_sea_water\"",
             "pHextEst:ancillary_variables = \"pHextEst_qc\"",
             "pHextEst_qc:flag_values = 1b, 2b, 3b, 4b, 9b",
             "pHextEst_qc:flag_meanings = \"pass not_evaluated suspect fail missing\"",
             "pHintEst:calibration_k0int = -0.4",
             "TC_Dfet:calibration_s_h_c0 = 340.98",
             ":deploy_note = \"products\"",
             ":time_zone = \"Local\"",
             "string ctd_status(time)",
         }) {
        EXPECT_NE(h.find(want), std::string::npos) << want << "\n" << h;
    }
    // Every unit is one UDUNITS knows.
    std::set<std::string> units;
    for (std::size_t at = h.find(":units = \""); at != std::string::npos;
         at = h.find(":units = \"", at + 1)) {
        std::size_t from = at + 10;
        units.insert(h.substr(from, h.find('"', from) - from));
    }
    EXPECT_GE(units.size(), 10u);
    for (const std::string& u : units) {
        Proc ud = run({"/usr/bin/udunits2", "-H", u, "-W", ""});
        EXPECT_EQ(ud.status, 0) << u;
        EXPECT_EQ(ud.err.find("Don't recognize"), std::string::npos) << u << ": " << ud.err;
    }
}

TEST(DataProducts, SeveralFilesMakeOneSeriesAndARestartItsOwnFile)
{
    const Month& m = month();
    const std::string base = dir_for("host-series");
    // The card file up to record 399, a fetch from 380 (20 records again)
    // to 599 with records 450 to 459 lost, a fetch of the rest.
    std::string card = m.head, fetch1, fetch2;
    for (int i = 0; i < RECORDS; ++i) {
        const std::string& r = m.records[static_cast<std::size_t>(i)];
        card += i < 400 ? r : "";
        fetch1 += i >= 380 && i < 600 && (i < 450 || i > 459) ? r : "";
        fetch2 += i >= 600 ? r : "";
    }
    write_text(base + "-card.txt", card);
    write_text(base + "-f1.txt", fetch1);
    write_text(base + "-f2.txt", fetch2);
    Proc p = host({"csv", base + "-card.txt", base + "-f1.txt", base + "-f2.txt", "--out", base + ".csv"});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.err.find("20 duplicate records dropped"), std::string::npos) << p.err;
    Csv csv = read_csv(read_text(base + ".csv"));
    ASSERT_EQ(csv.rows.size(), static_cast<std::size_t>(RECORDS - 10));
    for (std::size_t r = 0; r < csv.rows.size(); ++r) {
        const int want = static_cast<int>(r) < 450 ? static_cast<int>(r) : static_cast<int>(r) + 10;
        ASSERT_EQ(csv.rows[r][0], std::to_string(want)); // in order, once, the gap left as it is
    }
    // A later deployment (a new metadata block) in the last file: its own netCDF file.
    std::string restart = m.head;
    const std::string old_time = "2026/01/15 12:00:02";
    ASSERT_NE(restart.find(old_time), std::string::npos);
    restart.replace(restart.find(old_time), old_time.size(), "2026/02/01 00:00:02");
    for (int i = 0; i < 5; ++i) {
        std::string r = m.records[static_cast<std::size_t>(i)];
        r.replace(r.find("01/0"), 4, "02/0");
        restart += r;
    }
    write_text(base + "-f3.txt", fetch2 + restart);
    Proc nc = host({"nc", base + "-card.txt", base + "-f1.txt", base + "-f3.txt", base + ".nc"});
    ASSERT_EQ(nc.status, 0) << nc.err;
    EXPECT_NE(nc.err.find(".nc: " + std::to_string(RECORDS - 10) + " records"), std::string::npos) << nc.err;
    EXPECT_NE(nc.err.find("-2.nc: 5 records of the deployment of 2026/02/01 00:00:02"), std::string::npos)
        << nc.err;
    Proc dump = run({"/usr/bin/ncdump", "-h", base + "-2.nc"});
    EXPECT_NE(dump.out.find("time = 5 ;"), std::string::npos) << dump.out;
}
