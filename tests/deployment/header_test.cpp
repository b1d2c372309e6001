// The data header line, the metadata block and the data-field listing: their
// texts, where they go, and that the header names every field of the record.
#include "app/main.h"
#include "operator/config_headers.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "storage/microsd.h"
#include "tests/deployment/deploy_support.h"
#include "tests/support/bench.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

using deploytest::fields;

namespace {

const std::string DEFAULT_HEADER =
    " SampNum\t     MM/DD/YYYY HH:MM:SS\tVbatMain\tVbiasPos\tVbiasNeg\t TC_cont\tHumidity\t  "
    "Vtherm\tVthrmStd\t"
    " TC_Dfet\t    Vrsi\tVrsi_std\tpHintEst\t    Vrse\tVrse_std\t  Vrsi_B\t      Vk\t  Vk_std\t      Ik\t"
    "      Ib\r\n";

class Headers : public test::BenchTest {
  protected:
    static std::string data_file()
    {
        FIL fil{};
        if (f_open(&fil, sys_data.fileName, FA_READ) != FR_OK) {
            return "";
        }
        std::string text;
        char buf[512];
        UINT got = 0;
        while (f_read(&fil, buf, sizeof buf, &got) == FR_OK && got > 0) {
            text.append(buf, got);
        }
        f_close(&fil);
        return text;
    }
    // Console output since the last call.
    std::string take()
    {
        std::string out = output();
        clear();
        return out;
    }
    static std::size_t columns(const std::string& line) { return line == "\r\n" ? 0 : fields(line).size(); }
    static void replace_all(std::string& s, const std::string& from, const std::string& to)
    {
        for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) {
            s.replace(p, from.size(), to);
        }
    }
};

TEST_F(Headers, DefaultHeaderHasTwentyColumnsInOrder)
{
    EXPECT_EQ(print_write_data_header(1, 0), 0);
    EXPECT_EQ(output(), "\r\n\r\n" + DEFAULT_HEADER);
    EXPECT_EQ(std::string(prnBuf), DEFAULT_HEADER);
    EXPECT_EQ(columns(DEFAULT_HEADER), 20u);
    EXPECT_EQ(data_file(), "");
}

// Every column of the record stands under the name the header gives it: a
// value is the one the same field shows when it is the only one selected,
// whatever else is selected.  A field alone leaves the other readings
// unmeasured (zero), so two columns of the same format that traded places
// are caught too; the standard deviations, all zero without noise, are the
// exception.
class HeadersQuiet : public Headers {
  protected:
    HeadersQuiet() { auto_start_ = false; }
    void SetUp() override
    {
        Headers::SetUp();
        opts.params["noise"] = "off";
        opts.params["ctd"] = "sbe37";
        start();
    }
    // Header names and record values of the current selection.
    static std::vector<std::pair<std::string, std::string>> columns_of_sample()
    {
        print_write_data_header(0, 0);
        const std::vector<std::string> names = fields(prnBuf);
        sys_samp.current_sample = 4711;
        get_sample(0, 0);
        const std::vector<std::string> values = fields(prnBuf);
        EXPECT_EQ(names.size(), values.size()) << prnBuf;
        std::vector<std::pair<std::string, std::string>> out;
        for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
            out.emplace_back(names[i], values[i]);
        }
        return out;
    }
};

TEST_F(HeadersQuiet, EveryColumnStandsUnderItsNameForAnySelection)
{
    // Each field alone beside each CTD type (the pH computation takes the
    // CTD's salinity), the time stamp in both its forms.
    std::map<std::string, std::string> alone[3]; // by CTD type
    for (unsigned char ctd = 0; ctd <= 2; ++ctd) {
        for (int i = CFG_SAMPLE_NUM; i <= CFG_OCR; ++i) {
            for (unsigned char v = 1; v <= (i == CFG_TIMESTAMP ? 2 : 1); ++v) {
                std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
                sys_data.data_cfg[CFG_CTD] = ctd;
                sys_data.data_cfg[i] = v;
                for (const auto& [name, value] : columns_of_sample()) {
                    alone[ctd][name] = value;
                }
            }
        }
    }
    std::mt19937 rng(20261208);
    for (int round = 0; round < 60; ++round) {
        for (int i = CFG_SAMPLE_NUM; i <= CFG_OCR; ++i) {
            sys_data.data_cfg[i] = static_cast<unsigned char>(round == 0 ? 1 : rng() % 2);
        }
        sys_data.data_cfg[CFG_TIMESTAMP] = static_cast<unsigned char>(rng() % 4); // 3: no column
        const unsigned ctd = rng() % 3;
        sys_data.data_cfg[CFG_CTD] = static_cast<unsigned char>(ctd);
        std::size_t expected_columns = 0;
        for (const auto& [name, value] : columns_of_sample()) {
            const auto& from = alone[ctd];
            ASSERT_EQ(from.count(name), 1u) << "round " << round << ": unknown column " << name;
            ++expected_columns;
            if (name.find("MM/DD") != std::string::npos || name == "Epoch millisec" || name == "Date_MC" ||
                name == "Time_MC") {
                continue; // the clock moved on
            }
            EXPECT_EQ(value, from.at(name)) << "round " << round << ", column " << name;
        }
        EXPECT_GT(expected_columns, 0u);
    }
}

TEST_F(Headers, TwoPumpSequenceAddsThePumpColumn)
{
    sys_data.pump_seq_type = 2;
    pump_var_init();
    print_write_data_header(0, 0);
    const std::string header = prnBuf;
    EXPECT_EQ(header.substr(header.size() - 9), "   Pump\r\n");
    get_sample(0, 0);
    // The pump text's own tab ends its column: no empty column after it.
    const std::string record = prnBuf;
    EXPECT_EQ(record.substr(record.size() - 12), "PumpSeq=02\r\n");
    EXPECT_EQ(columns(record), columns(header));
}

TEST_F(Headers, NoColumnIsAnEmptyLine)
{
    std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
    print_write_data_header(1, 1);
    EXPECT_EQ(output(), "\r\n\r\n\r\n");
    EXPECT_EQ(data_file(), "\r\n");
}

TEST_F(Headers, FileOutputByFlagsAndCardSetting)
{
    // The data header needs the card setting at 1; the metadata any non-zero.
    sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 2;
    EXPECT_EQ(print_write_data_header(0, 1), 0);
    EXPECT_EQ(data_file(), "");
    EXPECT_EQ(print_write_metadata_header(0, 0, 1), 0);
    EXPECT_NE(data_file().find("//++************** Deployment Settings"), std::string::npos);

    // Card disabled: nothing anywhere, and success.
    const std::string before = data_file();
    sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 0;
    clear();
    EXPECT_EQ(write_metadata_header(HibernateRTCGet()), 0);
    EXPECT_EQ(print_write_data_header(0, 1), 0);
    EXPECT_EQ(output(), "\r\n\r\n"); // the data header's blank lines only
    EXPECT_EQ(data_file(), before);
}

TEST_F(Headers, FileHoldsWhatTheConsoleShowsAndGdataStartsAfterIt)
{
    sys_data.GMT = 0;
    const uint32_t fptr_before = sys_samp.next_gdata_fptr;
    clear();
    print_metadata_header(HibernateRTCGet()); // "gm": console only
    std::string console = take();
    get_header(); // "gh"
    console += take();
    EXPECT_EQ(data_file(), "");
    EXPECT_EQ(sys_samp.next_gdata_fptr, fptr_before);

    EXPECT_EQ(write_metadata_header(HibernateRTCGet()), 0);
    EXPECT_EQ(sys_samp.next_gdata_fptr, data_file().size());
    EXPECT_EQ(write_data_header(), 0);
    const std::string file = data_file();
    EXPECT_EQ(sys_samp.next_gdata_fptr, file.size());
    EXPECT_EQ(take(), "\r\n\r\n"); // the data header's blank lines only

    // The file holds the console text, with the coefficient labels in
    // capitals, and without the data header's leading blank lines.
    std::string expected = console;
    replace_all(expected, "// s-h ", "// S-H ");
    const std::size_t blank = expected.rfind("\r\n\r\n" + DEFAULT_HEADER);
    ASSERT_NE(blank, std::string::npos);
    expected.erase(blank, 4);
    EXPECT_EQ(file, expected);

    // "gh" and "gm" after a deployment start still leave the file alone.
    print_metadata_header(HibernateRTCGet());
    get_header();
    EXPECT_EQ(data_file(), file);
    EXPECT_EQ(sys_samp.next_gdata_fptr, file.size());
}

TEST_F(Headers, MetadataOfTheDefaultConfiguration)
{
    std::snprintf(sys_data.deploy_note, sizeof sys_data.deploy_note, "mooring B");
    sys_data.deploy_time = HibernateRTCGet() + 1;
    print_metadata_header(HibernateRTCGet());
    const std::string out = output();
    const char* expected[] = {
        "\r\n\r\n//++************** Deployment Settings ***************\r\n"
        "// Firmware version: \tv4.1.2 Varve revB\r\n"
        "// Sampling period (s)\t0\r\n"
        "// Samples hour align:\tNo\r\n"
        "// Vrsi sps,trials: \t20, 10\r\n"
        "// Vrse sps,trials: \t20, 10\r\n"
        "// Vtherm sps,trials\t20, 5\r\n"
        "// Ik sps, trials:   \t20, 1\r\n"
        "// Vk sps, trials:   \t20, 5\r\n"
        "// Ib sps, trials:   \t20, 1\r\n"
        "// Vb sps, trials:   \t20, 5\r\n"
        "// Vbias sps,trials: \t40, 1\r\n"
        "// Pump on time (s):\t0\r\n"
        "// Low battery voltage:\t10.0\r\n"
        "// Output mode:        \tNormal\r\n"
        "// Deploy time:   \t2026/01/15 12:00:01\r\n"
        "// Time zone:       \tLocal\r\n"
        "// TCOffset:     \t0.000000\r\n",
        "// s-h c0        \t340.9819863\r\n// s-h c1        \t-9.10257e-05\r\n",
        "// Version Info: \tv4.1.2 Varve revB\r\n// File name:     \tnoname.txt\r\n// User initials: "
        "\tabc\r\n",
        "// Deploy note:   \tmooring B\r\n// A -- Sample Num               = 1\r\n",
        "// X -- OCR-504                  = "
        "0\r\n//--**************************************************\r\n\r\n\r\n",
    };
    for (const char* e : expected) {
        EXPECT_NE(out.find(e), std::string::npos) << e << "\n---\n" << out;
    }
    EXPECT_EQ(out.find("Pump seq type"), std::string::npos);
    EXPECT_EQ(out.find("Pump start delay"), std::string::npos);
    EXPECT_EQ(out.find("Duty Cycle"), std::string::npos);

    // A board never deployed has no deploy time (its count 0 is no date).
    sys_data.deploy_time = 0;
    print_metadata_header(HibernateRTCGet());
    EXPECT_NE(output().find("// Deploy time:   \tnot deployed\r\n// Time zone:"), std::string::npos);
}

TEST_F(Headers, MetadataPumpVariantsAndTimeZone)
{
    sys_data.pump1_ontime = 30;
    sys_data.pump_seq_type = 1;
    sys_data.test_mode = 1;
    sys_data.GMT = 1;
    sys_data.app_cfg[APPCFG_TEMPC_SH_ALG] = 1;
    sys_data.data_cfg[CFG_TIMESTAMP] = 2;
    sys_data.data_cfg[CFG_CTD] = 2;
    print_metadata_header(0);
    std::string out = output();
    EXPECT_NE(out.find("// Pump start delay: \t0\r\n// Pump seq type:   \tPUMP_SINGLE\r\n"
                       "// Pump on time (s):\t30  (TEST MODE, pump disabled)\r\n// Low battery"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("// Time zone:       \tGMT\r\n"), std::string::npos);
    // Coefficients that read back as the stored values.
    EXPECT_NE(out.find("// s-h A         \t0.002108508173\r\n// s-h B         \t7.979204727e-05\r\n"
                       "// s-h C         \t6.535076315e-07\r\n// Version"),
              std::string::npos)
        << out;
    // Every line of the field listing is a metadata line.
    EXPECT_NE(out.find("// B -- MM/DD/YYYY HH:MM:SS      = 2,  Epoch millisec\r\n// C --"),
              std::string::npos);
    EXPECT_NE(out.find("// W -- Conductivity             = 2,  Aanderaa 5860\r\n"), std::string::npos);

    // Two pumps, a delayed start at 2026/01/15 13:00:00 local.
    sys_data.pump_seq_type = 2;
    sys_data.test_mode = 0;
    sys_data.pump2_ontime = 20;
    sys_data.pump1_cycles = 2;
    sys_data.pump2_cycles = 1;
    sys_data.start_pump_time = HibernateRTCGet() - HibernateRTCGet() % 3600 + 3600;
    sys_data.sampleCnt_duty_on = 4;
    sys_data.sampleCnt_duty_off = 6;
    print_metadata_header(0);
    out = output();
    EXPECT_NE(
        out.find("// Pump delay until:\t2026/01/15 13:00:00\r\n// Pump seq type:   \t2PUMP_ORVEKV1\r\n"
                 "// Pump1 on time (s):\t30\r\n// Pump2 on time (s):\t20\r\n// Pump1 cycles:     \t2\r\n"
                 "// Pump2 cycles:     \t1\r\n// Exp Duty Cycle On \t4\r\n// Exp Duty Cycle Off\t6\r\n"),
        std::string::npos)
        << out;

    // A sequence type without its own lines: a note in the file only.
    sys_data.pump_seq_type = 3;
    print_metadata_header(0);
    out = output();
    EXPECT_EQ(out.find("Hey there"), std::string::npos);
    write_metadata_header(0);
    EXPECT_NE(data_file().find("// Hey there, add pump sequencer metadata for new seq_type=3\t30\r\n"),
              std::string::npos);
}

class HeadersNoCard : public Headers {
  protected:
    HeadersNoCard() { auto_start_ = false; }
    void SetUp() override
    {
        Headers::SetUp();
        opts.params["card"] = "none";
        start();
    }
};

TEST_F(HeadersNoCard, WritersReportAFileThatCannotBeOpened)
{
    EXPECT_EQ(print_write_metadata_header(0, 1, 1), 1);
    std::string out = output();
    EXPECT_EQ(out.find("f_open error: "), 0u) << out;
    // The block still goes to the console, whole.
    EXPECT_NE(out.find("//--**************************************************\r\n"), std::string::npos);
    EXPECT_EQ(print_write_data_header(1, 1), 1);
    EXPECT_NE(output().find("f_open error: "), std::string::npos);
}

// A card with 1 KiB left: a few records fit, then the card is full.
class HeadersFullCard : public Headers {
  protected:
    HeadersFullCard() { auto_start_ = false; }
    void SetUp() override
    {
        Headers::SetUp();
        std::filesystem::create_directories(opts.board_dir);
        std::string out;
        ASSERT_EQ(deploytest::card_cmd(opts.board_dir, "format --size 40", &out), 0) << out;
        ASSERT_EQ(deploytest::card_cmd(opts.board_dir, "ls", &out), 0) << out;
        const std::size_t end = out.rfind(" bytes free");
        ASSERT_NE(end, std::string::npos) << out;
        const unsigned long long room = std::stoull(out.substr(out.rfind(' ', end - 1) + 1));
        ASSERT_GT(room, 1024u);
        const std::string fill = opts.board_dir + ".fill";
        std::filesystem::resize_file((std::ofstream(fill), fill), room - 1024);
        ASSERT_EQ(deploytest::card_cmd(opts.board_dir, "put " + fill + " FILL.BIN", &out), 0) << out;
        std::filesystem::remove(fill);
        start();
    }
};

TEST_F(HeadersFullCard, ARecordTheCardCannotTakeWholeIsCutBackOff)
{
    for (int i = 0; i < 12; ++i) {
        get_sample(0, 1);
    }
    const std::string out = output();
    EXPECT_NE(out.find(" bytes written, cut off)\r\n"), std::string::npos) << out;
    // Whole records only, each with the header's columns.
    const std::string data = data_file();
    const std::vector<std::string> recs = deploytest::records(data);
    ASSERT_GE(recs.size(), 3u) << data;
    ASSERT_LT(recs.size(), 12u) << data;
    EXPECT_EQ(deploytest::lines(data).size(), recs.size()) << data;
    EXPECT_EQ(data.substr(data.size() - 2), "\r\n");
    for (const std::string& r : recs) {
        EXPECT_EQ(columns(r + "\n"), columns(DEFAULT_HEADER)) << r;
    }
}

} // namespace
