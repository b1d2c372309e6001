// pH sensor calibration: the manual branch against an independent inverse
// of the pH computation, the refusal of a non-finite result, and the
// automatic branch in the simulated bath with the MicroCat.
#include "records/system_data.h"
#include "tests/config/config_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace deploytest;
using namespace configtest;

namespace {

// Standard potentials at 25 C for which the pH computation returns `ph` from
// the given cell voltages, in double precision: the Nernst slope, the
// seawater chemistry (ionic strength, sulfate, chloride, Dickson's bisulfate
// constant, the HCl activity) solved for the external potential.
struct K0 {
    double k0int, k0ext;
};

K0 inverse(double ph, double vint, double vext, double t, double s)
{
    const double tk = t + 273.15;
    const double st = 8.31451 * tk / 96487.0 * std::log(10.0);
    const double z = 19.924 * s / (1000.0 - 1.005 * s);
    const double so4 = 0.14 / 96.062 * s / 1.80655;
    const double mcl = 0.99889 / 35.453 * s / 1.80655;
    const double lnk = -4276.1 / tk + 141.328 - 23.093 * std::log(tk) +
                       (-13856.0 / tk + 324.57 - 47.986 * std::log(tk)) * std::sqrt(z) +
                       (35474.0 / tk - 771.54 + 114.723 * std::log(tk)) * z - 2698.0 / tk * std::pow(z, 1.5) +
                       1776.0 / tk * z * z + std::log(1.0 - 0.001005 * s);
    const double khso4 = std::exp(lnk);
    const double dh = 0.00000343 * t * t + 0.00067524 * t + 0.49172143;
    const double lg =
        2.0 * (-dh * std::sqrt(z) / (1.0 + 1.394 * std::sqrt(z)) + (0.08885 - 0.000111 * t) * z);
    K0 k;
    k.k0int = vint - ph * st - (-0.0011012) * (t - 25.0);
    const double ph_free = ph + std::log10(1.0 + so4 / khso4);
    const double eoext = vext - st * (ph_free - std::log10(mcl) - lg);
    k.k0ext = eoext - (-0.0010482) * (t - 25.0);
    return k;
}

// Value after `label` in the transcript (its last occurrence).
double value_after(const std::string& text, const std::string& label)
{
    auto p = text.rfind(label);
    return p == std::string::npos ? NAN : std::strtod(text.c_str() + p + label.size(), nullptr);
}

} // namespace

TEST(Calibration, ManualBranchInvertsThePhComputation)
{
    auto o = board("calman");
    // Out-of-range replies are asked again; then empty replies on a second
    // calibration reuse the previous values; a salinity of 0 gives no
    // finite constant and is not stored.
    auto script = typed({"1", "5", "15", "7.9", "", "2.5", "0.07", "-0.82", "101", "15.5", "34.2", "y"}) +
                  typed({"5", "", "", "", "", "", "", "y"}) + typed({"5", "", "", "", "", "", "0", "y", "9"});
    auto r = test::run_script(o, script, 60);
    EXPECT_NE(r.transcript.find("\r\nEnter between 0 and 14"), std::string::npos);
    EXPECT_NE(r.transcript.find("pH cal pt = 7.900\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("Enter number between -2 and 2\r\n\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nEnter between 0 and 100"), std::string::npos);
    EXPECT_NE(r.transcript.find("DEBUG: getUserInput fails to return 1"), std::string::npos);
    EXPECT_NE(r.transcript.find("\r\nEnter bath salinity [34.200001]: "), std::string::npos);
    EXPECT_EQ(test::count(r.transcript, "\r\nCalibration values stored"), 2);
    EXPECT_NE(r.transcript.find("not finite"), std::string::npos);
    const K0 k = inverse(7.9, 0.07, -0.82, 15.5, 34.2);
    const systemData d = stored_config(o.board_dir);
    EXPECT_NEAR(d.k0int, k.k0int, 2e-6);
    EXPECT_NEAR(d.k0ext, k.k0ext, 2e-5);
    EXPECT_FLOAT_EQ(d.TCOffset, 0.0f); // the manual branch keeps the offset
    EXPECT_NEAR(value_after(r.transcript, "\r\n\r\nEo Int @ 25C = "), d.k0int, 1e-6);
}

TEST(Calibration, DecliningLeavesTheConstants)
{
    auto o = board("caldecline");
    auto r = test::run_script(o, typed({"1", "5", "7", "", "0.1", "-0.8", "20", "35", "n", "9"}), 30);
    const systemData d = stored_config(o.board_dir);
    EXPECT_FLOAT_EQ(d.k0int, -0.4f);
    EXPECT_FLOAT_EQ(d.k0ext, -1.3f);
}

namespace {

sim::RunOptions bath(const std::string& name)
{
    auto o = board(name, [](systemData& d) {
        d.data_cfg[CFG_CTD] = 1;
        d.data_cfg[CFG_CALC_PH_VRSE] = 1;
        d.sampling_period = 60;
    });
    o.params["ctd"] = "sbe37";
    o.params["ph"] = "7.85";
    o.params["temp"] = "14.0";
    o.params["sal"] = "34.1";
    return o;
}

int column(const std::string& header, const std::string& name)
{
    auto f = fields(header);
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

TEST(Calibration, AutomaticBranchInTheBathGivesTheBathPh)
{
    auto o = bath("calauto");
    auto script =
        typed({"1", "5", "7.85", "y"}) + keys(40, "\\r") + typed({"y", "y", "9"}, 3) + typed({"2", ""});
    auto r = test::run_script(o, script, 250);
    const std::string cal = after_last(r.transcript, "Place DuraFET and MicroCAT");
    EXPECT_EQ(test::count(cal, "    Vrsi\t Vrsi-SD\t"), 1);
    EXPECT_NE(cal.find("\r\nCalibration values stored"), std::string::npos) << cal;
    const systemData d = stored_config(o.board_dir);
    EXPECT_NE(d.k0int, -0.4f);
    EXPECT_NE(d.k0ext, -1.3f);
    const std::string file = card_file(o.board_dir, "noname.txt");
    std::string header;
    for (const auto& l : lines(file)) {
        if (l.find("pHintEst") != std::string::npos) {
            header = l;
        }
    }
    const int ci = column(header, "pHintEst");
    const int ce = column(header, "pHextEst");
    ASSERT_GE(ci, 0) << file;
    ASSERT_GE(ce, 0);
    auto recs = records(file);
    ASSERT_GE(recs.size(), 2u) << file;
    for (const auto& rec : recs) {
        auto f = fields(rec);
        ASSERT_GT(f.size(), static_cast<std::size_t>(ce));
        EXPECT_NEAR(std::atof(f[ci].c_str()), 7.85, 0.003) << rec;
        EXPECT_NEAR(std::atof(f[ce].c_str()), 7.85, 0.003) << rec;
    }
}

TEST(Calibration, EarlyAcceptanceAveragesOnlyTheReadingsTaken)
{
    auto o = bath("calearly");
    // The key arrives during the first reading.
    auto script = typed({"1", "5", "7.85", "y"}) + keys(0.5, "\\r") + typed({"y", "n", "9"}, 3);
    auto r = test::run_script(o, script, 60);
    const std::string cal = after_last(r.transcript, "Place DuraFET and MicroCAT");
    EXPECT_NE(cal.find("\r\n\r\nAverage of last 1 values"), std::string::npos) << cal;
    // The only row's Vrsi is its average, not a fifth of it.
    auto rows = lines(cal);
    double row_vint = NAN;
    for (const auto& l : rows) {
        auto f = fields(l);
        if (f.size() == 10 && f[0].find("Vrsi") == std::string::npos) {
            row_vint = std::atof(f[0].c_str());
        }
    }
    ASSERT_FALSE(std::isnan(row_vint)) << cal;
    EXPECT_NEAR(value_after(cal, "\r\nVint = "), row_vint, 1e-5);
    EXPECT_NEAR(value_after(cal, "\r\nMicroCAT Salinity = "), 34.1, 0.01);
}

TEST(Calibration, AutomaticBranchAveragesOnlyTheCtdReadingsThatSucceeded)
{
    // Ctrl-X abandons the first CTD reading; the later ones are averaged.
    auto o = bath("calskip");
    auto script =
        typed({"1", "5", "7.85", "y"}) + keys(2.5, "\\x18") + keys(12, "\\r") + typed({"y", "n", "9"}, 3);
    auto r = test::run_script(o, script, 60);
    const std::string cal = after_last(r.transcript, "Place DuraFET and MicroCAT");
    EXPECT_EQ(test::count(cal, "\tCTD reading failed, not averaged"), 1) << cal;
    EXPECT_NEAR(value_after(cal, "\r\nMicroCAT Temperature = "), 14.0, 0.01) << cal;
    EXPECT_NEAR(value_after(cal, "\r\nMicroCAT Salinity = "), 34.1, 0.01);

    // No CTD reading at all: nothing is offered for storage.
    auto s = bath("calsilent");
    s.params["ctd_fault"] = "silent";
    auto rs = test::run_script(s, typed({"1", "5", "7.85", "y"}) + keys(6, "\\r") + typed({"9"}, 3), 40);
    const std::string none = after_last(rs.transcript, "Place DuraFET and MicroCAT");
    EXPECT_NE(none.find("\r\n\r\nNo CTD reading succeeded: nothing to average, check the MicroCAT\r\nStored "
                        "calibration constants kept"),
              std::string::npos)
        << none;
    EXPECT_EQ(none.find("Eo Int @ 25C"), std::string::npos);
    EXPECT_FLOAT_EQ(stored_config(s.board_dir).TCOffset, 0.0f);
}

TEST(Calibration, ResultOutsideTheEditorsRangesIsNotOffered)
{
    // pH 14 at Vrsi -2 V gives k0int below -2, which key 4 would refuse.
    auto o = board("calrange");
    auto r = test::run_script(o, typed({"1", "5", "14", "", "-2", "-0.8", "20", "35", "9"}), 30);
    EXPECT_NE(r.transcript.find("Calibration values outside the configuration's ranges (k0 -2 to 2, TCOffset "
                                "-400 to 400): not stored"),
              std::string::npos)
        << r.transcript;
    EXPECT_EQ(r.transcript.find("Accept and store calibration values"), std::string::npos);
    EXPECT_FLOAT_EQ(stored_config(o.board_dir).k0int, -0.4f);
}
