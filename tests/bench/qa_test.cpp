// Board QA on a blank board, as the technician runs it: with the bench
// analog simulator every analog row passes and the board comes out
// provisioned; with the water sensor the analog rows fail; with a store
// fault the matching rows fail and the procedure goes on.
#include "app/test.h"
#include "records/system_data.h"
#include "tests/bench/bench_support.h"
#include "tests/deployment/deploy_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace deploytest;
using benchtest::between;

namespace {

// Main menu "3", test menu "Q", confirmation, tester, clock, no metadata
// redo, the supply key, the bias display for a few lines, the analog rows
// for about 15 s, then leave both menus.
std::string qa_keys(const std::string& tester)
{
    // Metadata: file name, user, board serial number, then Enter for the
    // other eight fields.
    std::string meta = keys(1, "\\r") + keys(0.5, "\\r") + keys(0.5, "VB-0042\\r");
    for (int i = 0; i < 8; ++i) {
        meta += keys(0.5, "\\r");
    }
    return keys(1, "3\\r") + keys(1, "Q\\r") + keys(1, "y\\r") + keys(1, tester + "\\r") +
           keys(1, "03/04/26 09:30:00\\r") + meta + keys(1, "n\\r") + keys(1, "\\r") + keys(4, "\\r") +
           keys(15, "\\r") + keys(20, "x\\r");
}

sim::RunOptions qa_board(const std::string& name, const std::string& analog)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir(name);
    o.blank = true;
    o.start = "2026-03-04 09:00:00";
    o.params["analog"] = analog;
    return o;
}

std::vector<std::string> analog_rows(const std::string& t)
{
    std::vector<std::string> v;
    for (const auto& l : lines(between(t, "       VTherm\r\n", "\r\niso power off"))) {
        // Whole rows only: the key that ends the check may split the last.
        if (l.size() > 17 && l[2] == '/' && l[5] == '/' && test::count(l, ", ") >= 8) {
            v.push_back(l);
        }
    }
    return v;
}

} // namespace

TEST(BoardQa, BlankBoardWithTheSimulatorPassesAndIsProvisioned)
{
    auto o = qa_board("qa_sim", "qa-sim");
    auto r = test::run_script(o, qa_keys("Ada Tester"), 90);
    const std::string& t = r.transcript;
    EXPECT_NE(t.find("   Pass EEPROM (sys_data size 1272)\r\n   Pass sys_data init\r\n   Pass FRAM\r\n"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find("\r\nTester name recorded as: Ada Tester.  Welcome to Quality Assurance!\r\n"),
              std::string::npos);
    EXPECT_NE(t.find("\r\nTime now: 03/04/26 09:30:0"), std::string::npos);
    EXPECT_NE(t.find("   Test timestamp:  03/04/26 09:30:0"), std::string::npos);
    EXPECT_NE(t.find("\r\nQA: ----- microSD test -----\r\n  Passed\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\nBoard Serial #: VB-0042\r\n"), std::string::npos);
    auto rows = analog_rows(t);
    ASSERT_GE(rows.size(), 2u) << t;
    for (const auto& row : rows) {
        EXPECT_EQ(row.find("Err"), std::string::npos) << row;
        EXPECT_EQ(test::count(row, ", "), 8) << row; // time and eight values, no Vb at level 0
    }
    EXPECT_EQ(t.find("sys_data.qa.adc24 error count"), std::string::npos);
    EXPECT_NE(t.find("QA data written to EEPROM, use Test menu to see QA report\r\n"), std::string::npos);
    const std::string report =
        between(t, "----- QA Procedure complete, QA Report:  -----\r\n\r\n", "Thankyou");
    for (const char* line :
         {"Tester: Ada Tester\r\n", "Firmware version: v4.1.2 Varve revB\r\n",
          "Test time = ", "Test timestamp:  03/04/26 09:30:0", "microSD passed\r\n", "EEPROM passed\r\n",
          "sys_data initialized, passed\r\n", "FRAM passed\r\n", "Aux Pwr1 failed\r\n", "Aux Pwr2 failed\r\n",
          "Aux Pwr3 failed\r\n", "Comm Pwr failed\r\n", "ADC24 report:\r\n",
          "\t  Ik    \t Ik_std \t Ik_err \t", "\t Vbias+ \t  Vbias-\r\n\t    0   \t"}) {
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
    }
    EXPECT_NE(t.find("Thankyou Ada Tester, your QA time was "), std::string::npos);
    // No instrument on the bench: neither interface passes.
    EXPECT_NE(t.find("  CTD interface failed: neither an SBE37 MicroCat nor an Aanderaa 5860 answered\r\n"),
              std::string::npos);
    EXPECT_NE(report.find("CTD failed\r\nOptode failed\r\n"), std::string::npos) << report;

    // The stored record: defaults plus the QA results.
    systemData d = stored_config(o.board_dir);
    EXPECT_STREQ(d.qa.tester, "Ada Tester");
    EXPECT_STREQ(d.qa.firmware_version, "v4.1.2 Varve revB");
    EXPECT_EQ(d.qa.microSD, 1u);
    EXPECT_EQ(d.qa.eeprom, 1272u);
    EXPECT_EQ(d.qa.sys_data_init, 1u);
    EXPECT_EQ(d.qa.fram, 1u);
    EXPECT_EQ(d.qa.adc24, 0u);
    EXPECT_STREQ(d.board_SN, "VB-0042");
    EXPECT_NEAR(d.qa.Vrsi, -0.055, 0.0005);
    EXPECT_NEAR(d.qa.Vtherm, 0.996, 0.001);
    EXPECT_EQ(d.qa.Vb, 0.0f);
    EXPECT_EQ(d.qa.Vrsi_err, 0.0f);
    EXPECT_NEAR(d.qa.Vbias_pos, 3.6, 0.1);

    // The QA file, named from the local test date, read by mtools.
    const std::string file = benchtest::mtype_card_file(o.board_dir, "qa030426.txt");
    EXPECT_NE(file.find("QA microSD test 03/04/26 09:30:0"), std::string::npos) << file;

    // After a reset the report reads the same from the stored record, and
    // the firmware-version check of the main menu is satisfied.
    auto o2 = o;
    o2.blank = false;
    auto r2 = test::run_script(o2, keys(1, "\\r") + keys(2, "3\\r") + keys(1, "R\\r") + keys(1, "9\\r"), 20);
    EXPECT_EQ(r2.transcript.find("EEPROM data check failed"), std::string::npos);
    const std::string report2 = between(r2.transcript, "QA Report:  \r\r\n\r\r\n", "\r\n\r\r\n");
    EXPECT_NE(report2.find("Tester: Ada Tester\r\nFirmware version: v4.1.2 Varve revB\r\n"),
              std::string::npos)
        << report2;
    EXPECT_NE(
        report2.find("microSD passed\r\nEEPROM passed\r\nsys_data initialized, passed\r\nFRAM passed\r\n"),
        std::string::npos);
}

TEST(BoardQa, WaterSensorFailsTheAnalogRows)
{
    auto o = qa_board("qa_water", "sensor");
    auto r = test::run_script(o, qa_keys("Bo"), 90);
    const std::string& t = r.transcript;
    auto rows = analog_rows(t);
    ASSERT_GE(rows.size(), 1u) << t;
    for (const auto& row : rows) {
        EXPECT_NE(row.find(" Err "), std::string::npos) << row;
        EXPECT_NE(row.find("  ERROR count = "), std::string::npos) << row;
    }
    EXPECT_NE(t.find("sys_data.qa.adc24 error count = "), std::string::npos);
    systemData d = stored_config(o.board_dir);
    EXPECT_GT(d.qa.adc24, 0u);
    EXPECT_LE(d.qa.adc24, 8u);
    // A failing channel's error is below zero.
    EXPECT_LT(d.qa.Vrsi_err, 0.0f);
    EXPECT_NE(t.find("Thankyou Bo, your QA time was "), std::string::npos);
}

TEST(BoardQa, StoreFaultsFailTheirRowsAndQaGoesOn)
{
    auto o = qa_board("qa_fram", "qa-sim");
    o.faults.fram_absent = true;
    auto r = test::run_script(o, qa_keys("Cy"), 90);
    EXPECT_NE(r.transcript.find("   Fail FRAM.   This board cannot be used for science\r\n"),
              std::string::npos);
    EXPECT_NE(r.transcript.find("FRAM failed\r\n"), std::string::npos);
    EXPECT_NE(r.transcript.find("Thankyou Cy,"), std::string::npos);
    EXPECT_EQ(stored_config(o.board_dir).qa.fram, 0u);

    auto e = qa_board("qa_eeprom", "qa-sim");
    e.faults.eeprom_program = true;
    auto re = test::run_script(e, qa_keys("Di"), 90);
    const std::string& t = re.transcript;
    EXPECT_NE(t.find("\r\n\r\nError storing system data in EEPROM\r\n"), std::string::npos);
    const std::string report = between(t, "QA Report:  -----\r\n\r\n", "Thankyou");
    EXPECT_NE(report.find("EEPROM failed\r\nsys_data NOT initialized, failed\r\n"), std::string::npos)
        << report;
    EXPECT_NE(t.find("Thankyou Di,"), std::string::npos);
}

TEST(BoardQa, InstrumentChecksTestWhatTheyReport)
{
    // The 5860 answers when tried after the SBE37; an optode that sends
    // nonsense is no pass.
    auto o = qa_board("qa_instr", "qa-sim");
    o.params["ctd"] = "aand5860";
    o.params["optode_port"] = "optode";
    o.params["optode_fault"] = "garbage";
    auto r = test::run_script(o, qa_keys("Ed"), 90);
    const std::string& t = r.transcript;
    EXPECT_NE(t.find("  CTD interface passed (Aanderaa 5860)\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("  Optode interface failed: Optode Err: reply is not numeric"), std::string::npos);
    const std::string report = between(t, "QA Report:  -----\r\n\r\n", "Thankyou");
    EXPECT_NE(report.find("CTD passed\r\nOptode failed\r\n"), std::string::npos) << report;
    const systemData d = stored_config(o.board_dir);
    EXPECT_EQ(d.qa.ctd, 1u);
    EXPECT_EQ(d.qa.optode, 0u);
    EXPECT_EQ(d.data_cfg[CFG_CTD], 0); // the defaults' type is kept
}

TEST(BoardQa, LimitTableIsTheDocumentsAtBothSidesOfEachLimit)
{
    // The board QA limit table as the board's QA document gives it, in row
    // order.  Each limit is checked just inside and just outside.
    struct Limit {
        const char* name;
        double min, max;
    };
    const Limit doc[] = {
        {"Vrsi", -0.0565, -0.0535},  {"Vrsi_B", 0.673, 0.679}, {"Vrse", -0.801, -0.786},
        {"Vrse_B", -0.0705, -0.057}, {"Ik", 0.258, 0.335},     {"Vk", -0.501, -0.498},
        {"Ib", -0.401, -0.393},      {"Vb", 0.0001, 0.002},    {"Vtherm", 0.992, 1.0},
    };
    const double d = 1e-5;
    ASSERT_EQ(tamb_channel_count(), 9);
    for (int i = 0; i < 9; ++i) {
        const Limit& l = doc[i];
        EXPECT_STREQ(tamb_channel_name(i), l.name);
        float err = 0.0f;
        EXPECT_EQ(tamb_limit_check(i, static_cast<float>(l.min - d), &err), 1) << l.name;
        EXPECT_NEAR(err, -d, 1e-6) << l.name;
        EXPECT_EQ(tamb_limit_check(i, static_cast<float>(l.min + d), &err), 0) << l.name;
        EXPECT_EQ(err, 0.0f);
        EXPECT_EQ(tamb_limit_check(i, static_cast<float>(l.max - d), &err), 0) << l.name;
        EXPECT_EQ(tamb_limit_check(i, static_cast<float>(l.max + d), &err), 1) << l.name;
        EXPECT_NEAR(err, -d, 1e-6) << l.name;
        EXPECT_EQ(tamb_limit_check(i, NAN, &err), 1) << l.name;
        EXPECT_LT(err, 0.0f);
    }
}
