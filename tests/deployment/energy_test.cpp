// Energy, battery and water over time, as a user sees them: the run
// statistics, the planner's figures, the records of the data file.
#include "records/system_data.h"
#include "tests/deployment/deploy_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace deploytest;

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A number after "KEY": in a JSON text, the first one after `from`.
double number(const std::string& json, const std::string& key, std::size_t from = 0)
{
    std::size_t at = json.find("\"" + key + "\":", from);
    EXPECT_NE(at, std::string::npos) << key;
    return at == std::string::npos ? NAN : std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

// varve-sim ARGS: exit status and standard output.
int sim_cmd(const std::string& args, std::string* out, bool with_errors = false)
{
    return command_output(std::string(VARVE_SIM_BIN) + " " + args + (with_errors ? " 2>&1" : " 2>/dev/null"),
                          out);
}

std::string start_keys()
{
    return keys(1, "2\\r") + keys(1, "\\r");
}

// Column `name` of the data file's header.
int column(const std::string& file, const std::string& name)
{
    for (const std::string& l : lines(file)) {
        if (l.find(" SampNum\t") == 0) {
            auto f = fields(l);
            for (std::size_t i = 0; i < f.size(); ++i) {
                std::string c = f[i];
                c.erase(0, c.find_first_not_of(' '));
                if (c == name) {
                    return static_cast<int>(i);
                }
            }
        }
    }
    ADD_FAILURE() << "no column " << name;
    return 0;
}

// Seconds of a record's "MM/DD/YYYY HH:MM:SS" after 2026-01-15 12:00:00.
double record_seconds(const std::string& stamp)
{
    int mo = 0, d = 0, y = 0, h = 0, mi = 0, s = 0;
    std::sscanf(stamp.c_str(), "%d/%d/%d %d:%d:%d", &mo, &d, &y, &h, &mi, &s);
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<double>(timegm(&tm) - 1768478400); // 2026-01-15 12:00:00 UTC
}

} // namespace

// Every item's charge is its on-time times its current; items never on draw
// nothing; the board's power.txt and --power override the defaults, and
// "varve-sim power" shows what is in force.
TEST(Energy, ChargeIsOnTimeTimesCurrent)
{
    auto o = board("energy-stats", [](systemData& d) { d.sampling_period = 60; });
    mkdir(o.board_dir.c_str(), 0755);
    std::ofstream(o.board_dir + "/power.txt") << "# bench measurements\nenv_mon = 2.5\niso 7\n";
    o.params["power.iso"] = "10";
    o.stats_file = o.board_dir + ".stats.json";
    test::run_script(o, start_keys(), 300);
    const std::string st = slurp(o.stats_file);
    const double sim_s = number(st, "simulated_s");
    const double samples = number(st, "samples");
    ASSERT_GE(samples, 4);
    const std::size_t items = st.find("\"items\"");
    const std::size_t total_at = st.find("\"total\": {\"mAh\"", items);
    double sum = 0;
    int seen = 0;
    for (std::size_t at = st.find("\n      \"", items); at < total_at; at = st.find("\n      \"", at + 1)) {
        const std::string key = st.substr(at + 8, st.find('"', at + 8) - at - 8);
        const double ma = number(st, "mA", at), on = number(st, "on_s", at), mah = number(st, "mAh", at);
        EXPECT_NEAR(mah, ma * on / 3600.0, 1e-6 + 1e-6 * mah) << key;
        EXPECT_NEAR(number(st, "mAh_per_day", at), mah * 86400.0 / sim_s, 1e-9 * 86400.0 / sim_s) << key;
        EXPECT_NEAR(number(st, "mAh_per_sample", at), mah / samples, 1e-9) << key;
        EXPECT_NEAR(number(st, "J", at), mah * 3.6 * 12.5, 2e-6) << key;
        for (const char* never :
             {"ctd", "aux_pwr1_pump1", "solenoid_pg1", "solenoid_pg3_pwm", "sbe37", "optode"}) {
            if (key == never) {
                EXPECT_EQ(on, 0.0) << key;
                EXPECT_EQ(mah, 0.0) << key;
            }
        }
        sum += mah;
        ++seen;
    }
    EXPECT_EQ(seen, 22);
    EXPECT_NEAR(number(st, "mAh", total_at), sum, 1e-5);
    // The on-times are the statistics' own, and the table in force is used.
    const std::size_t iso = st.find("\"iso\": {\"mA\"");
    EXPECT_EQ(number(st, "mA", iso), 10.0);
    EXPECT_NEAR(number(st, "on_s", iso), number(st, "iso", st.find("supply_on_s")), 1e-6);
    EXPECT_EQ(number(st, "mA", st.find("\"env_mon\": {\"mA\"")), 2.5);
    const std::size_t mcu = st.find("\"mcu_run\": {");
    EXPECT_NEAR(number(st, "on_s", mcu), number(st, "total", st.find("awake_s")), 1e-6);
    EXPECT_NEAR(number(st, "on_s", st.find("\"mcu_hibernate\": {")), sim_s - number(st, "on_s", mcu), 1e-6);
    EXPECT_NEAR(number(st, "on_s", st.find("\"card_write\": {")), number(st, "card_sector_writes") * 0.003,
                1e-9);

    std::string table;
    ASSERT_EQ(sim_cmd("power --board " + o.board_dir + " --power iso=10", &table), 0);
    EXPECT_NE(table.find("env_mon               2.5000 mA  power.txt"), std::string::npos) << table;
    EXPECT_NE(table.find("iso                  10.0000 mA  command line"), std::string::npos) << table;
    EXPECT_NE(table.find("mcu_run              25.0000 mA  default       estimate"), std::string::npos)
        << table;
}

// A small battery at a short period: the firmware's own check ends the
// deployment, on the day the planner predicts from one simulated day.
TEST(Energy, PlanAgreesWithARunToTheLowBatteryEnd)
{
    const std::string dir = test::fresh_board_dir("energy-battery");
    std::string out;
    ASSERT_EQ(
        sim_cmd("board --board " + dir + " --start '2026-01-15 12:00:00' set sampling_period=300", &out), 0);
    const std::string eeprom_before = slurp(dir + "/eeprom.bin") + slurp(dir + "/fram.bin");
    ASSERT_EQ(sim_cmd("plan --board " + dir + " --battery 0.015 --json", &out), 0);
    const double plan_days = number(out, "days_to_low_battery");
    EXPECT_NEAR(number(out, "samples_per_day"), 288, 1);
    EXPECT_EQ(out.find("\"limit\": \"battery\""), out.find("\"limit\""));
    EXPECT_NE(out.find("\"end\": \"2026-01-1"), std::string::npos) << out;
    EXPECT_EQ(slurp(dir + "/eeprom.bin") + slurp(dir + "/fram.bin"), eeprom_before); // the board is unchanged

    sim::RunOptions o;
    o.board_dir = dir;
    o.params["battery_ah"] = "0.015";
    o.until_battery = true;
    o.stats_file = dir + ".stats.json";
    auto r = test::run_script(o, start_keys(), 30 * 86400.0);
    const std::string st = slurp(o.stats_file);
    const std::size_t bat = st.find("\"battery\"");
    ASSERT_NE(bat, std::string::npos);
    EXPECT_NE(st.find("\"low_battery_end\": true", bat), std::string::npos) << st.substr(bat);
    const double end_days = number(st, "low_battery_end_s", bat) / 86400.0;
    EXPECT_NEAR(end_days, number(st, "simulated_s") / 86400.0, 1e-3); // the run ends there
    EXPECT_NEAR(end_days, plan_days, 0.02 * plan_days);
    std::printf("[ battery ] planned %.4f days, the run ended at %.4f days\n", plan_days, end_days);
    EXPECT_LT(number(st, "volts", bat), 10.0);
    EXPECT_NE(r.transcript.find("Exiting deploy mode..."), std::string::npos);
    EXPECT_NE(card_file(dir, "Error.txt").find(" Low battery! Exiting deploy mode"), std::string::npos);
    // The records' supply column falls from the fresh 12.50 V.
    auto recs = records(card_file(dir, "noname.txt"));
    ASSERT_GT(recs.size(), 200u);
    EXPECT_GE(std::strtod(fields(recs.front())[2].c_str(), nullptr), 12.45);
    EXPECT_LT(std::strtod(fields(recs.back())[2].c_str(), nullptr), 10.6);
}

namespace {

struct Scenario {
    double t_s;
    double ph, temp_c, sal;
};

// The water of the built-in tide and diurnal cycles at their default
// amplitudes (docs/simulator.md) around --ph 8.05, --temp 12, --sal 33.5.
Scenario water(double t)
{
    const double tide = std::sin(2 * M_PI * t / (12.42 * 3600)), day = std::sin(2 * M_PI * t / 86400);
    return {t, 8.05 + 0.02 * tide + 0.05 * day, 12.0 - 0.5 * tide + 0.8 * day, 33.5 + 0.3 * tide};
}

sim::RunOptions water_board(const std::string& name, uint32_t period)
{
    auto o = board(name, [period](systemData& d) {
        d.sampling_period = period;
        d.data_cfg[CFG_CALC_PH_VRSE] = 1;
        d.data_cfg[CFG_CTD] = 1; // the salinity of the external reference's pH comes from the CTD
    });
    o.params["water"] = "tide,diurnal";
    o.params["tide_period"] = "12.42h";
    o.params["noise"] = "off";
    o.params["ctd"] = "sbe37";
    // The sensor as the firmware's default calibration describes it.
    o.params["e0int"] = "-0.4";
    o.params["e0ext"] = "-1.3";
    o.params["therm_c0"] = "340.9819863";
    return o;
}

} // namespace

// A month of tides and days, noise off, every 2 h (a month of hourly or
// 600 s samples costs the suite too much time): every record's pH (both
// references) and temperature are the scenario's at its time stamp.
TEST(Energy, RecordsFollowTheWaterScenario)
{
    auto o = water_board("energy-water", 7200);
    test::run_script(o, start_keys(), 30 * 86400.0);
    const std::string file = card_file(o.board_dir, "noname.txt");
    const int c_time = column(file, "MM/DD/YYYY HH:MM:SS"), c_temp = column(file, "TC_Dfet"),
              c_int = column(file, "pHintEst"), c_ext = column(file, "pHextEst");
    auto recs = records(file);
    ASSERT_GE(recs.size(), 359u);
    double worst_ph = 0, worst_t = 0, lo = 99, hi = 0;
    for (const std::string& rec : recs) {
        auto f = fields(rec);
        const Scenario w = water(record_seconds(f[static_cast<std::size_t>(c_time)]));
        const double ph_int = std::strtod(f[static_cast<std::size_t>(c_int)].c_str(), nullptr);
        const double ph_ext = std::strtod(f[static_cast<std::size_t>(c_ext)].c_str(), nullptr);
        const double temp = std::strtod(f[static_cast<std::size_t>(c_temp)].c_str(), nullptr);
        worst_ph = std::max({worst_ph, std::fabs(ph_int - w.ph), std::fabs(ph_ext - w.ph)});
        worst_t = std::max(worst_t, std::fabs(temp - w.temp_c));
        lo = std::min(lo, ph_int);
        hi = std::max(hi, ph_int);
    }
    EXPECT_LT(worst_ph, 0.005);
    EXPECT_LT(worst_t, 0.01);
    EXPECT_GT(hi - lo, 0.12); // the cycles are there
    std::printf("[ fidelity ] %zu records: worst pH %.5f, worst temperature %.5f C\n", recs.size(), worst_ph,
                worst_t);
}

// A drift of the references moves the pH by drift / Nernst slope.
TEST(Energy, DriftMovesThePhAsPredicted)
{
    auto o = water_board("energy-drift", 3600);
    o.params["drift_int"] = "1.0";
    o.params["drift_ext"] = "-2.0";
    test::run_script(o, start_keys(), 5 * 86400.0);
    const std::string file = card_file(o.board_dir, "noname.txt");
    const int c_time = column(file, "MM/DD/YYYY HH:MM:SS"), c_int = column(file, "pHintEst"),
              c_ext = column(file, "pHextEst");
    auto recs = records(file);
    ASSERT_GE(recs.size(), 119u);
    for (const std::string& rec : recs) {
        auto f = fields(rec);
        const Scenario w = water(record_seconds(f[static_cast<std::size_t>(c_time)]));
        const double slope_mv = 8.31451 * (w.temp_c + 273.15) / 96487.0 * std::log(10.0) * 1000;
        const double days = w.t_s / 86400.0;
        EXPECT_NEAR(std::strtod(f[static_cast<std::size_t>(c_int)].c_str(), nullptr),
                    w.ph + 1.0 * days / slope_mv, 0.005);
        EXPECT_NEAR(std::strtod(f[static_cast<std::size_t>(c_ext)].c_str(), nullptr),
                    w.ph - 2.0 * days / slope_mv, 0.005);
    }
}

// A water file: linear between its rows, the last row holding after them;
// a malformed file is refused before the run, naming its line.
TEST(Energy, WaterFileIsInterpolatedAndItsLastRowHolds)
{
    auto o = water_board("energy-water-file", 600);
    const std::string csv = o.board_dir + ".water.csv";
    std::ofstream(csv) << "time_s,temp_c,salinity,ph_total,o2_sat_pct,note\n0,10,33.5,7.90,90,start\n"
                          "3600,16,33.5,8.20,100,\n";
    o.params["water"] = csv;
    test::run_script(o, start_keys(), 7200);
    const std::string file = card_file(o.board_dir, "noname.txt");
    const int c_time = column(file, "MM/DD/YYYY HH:MM:SS"), c_int = column(file, "pHintEst"),
              c_temp = column(file, "TC_Dfet");
    auto recs = records(file);
    ASSERT_GE(recs.size(), 12u);
    for (const std::string& rec : recs) {
        auto f = fields(rec);
        const double t = std::min(record_seconds(f[static_cast<std::size_t>(c_time)]), 3600.0);
        EXPECT_NEAR(std::strtod(f[static_cast<std::size_t>(c_int)].c_str(), nullptr), 7.90 + 0.30 * t / 3600,
                    0.005);
        EXPECT_NEAR(std::strtod(f[static_cast<std::size_t>(c_temp)].c_str(), nullptr), 10 + 6 * t / 3600,
                    0.01);
    }
    std::ofstream(csv) << "time_s,temp_c,salinity,ph_total,o2_sat_pct\n0,10,33.5,7.9,90\n60,10,33.5,x,90\n";
    std::string out;
    EXPECT_EQ(sim_cmd("--board " + o.board_dir + " --console none --until 1 --water " + csv, &out, true), 2);
    EXPECT_NE(out.find("line 3: ph_total is not a number: \"x\""), std::string::npos) << out;
}
