// The sample record: which fields, in which order and format, the two time
// stamp forms, the battery check, and where the record goes (console, data
// file) - on a bench board, calling the sample cycle directly.
#include "analog/adc_onchip.h"
#include "app/main.h"
#include "operator/config_headers.h"
#include "board/board_util.h"
#include "serial/line_builder.h"
#include "sim/devices/analog_world.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "storage/microsd.h"
#include "tests/deployment/deploy_support.h"
#include "tests/support/bench.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <regex>
#include <vector>

using deploytest::fields;

namespace {

class Record : public test::BenchTest {
  protected:
    Record() { auto_start_ = false; }
    void SetUp() override
    {
        test::BenchTest::SetUp();
        opts.params["noise"] = "off";
        start();
        only({});
    }
    // Only these data fields on.
    static void only(std::initializer_list<int> on)
    {
        std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
        for (int i : on) {
            sys_data.data_cfg[i] = 1;
        }
    }
    static std::string record() { return prnBuf; }
    // The data file as the firmware's file system sees it ("" if absent).
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
    static std::string error_file()
    {
        FIL fil{};
        if (f_open(&fil, "Error.txt", FA_READ) != FR_OK) {
            return "";
        }
        char buf[1024] = {};
        UINT got = 0;
        f_read(&fil, buf, sizeof buf - 1, &got);
        f_close(&fil);
        return std::string(buf, got);
    }
    // Battery voltage the sample cycle will read (noise is off).
    static float vbat_reading()
    {
        pwr_vbat_mon_on();
        adc_onchip_init();
        read_all_adc();
        float v = vbat_from_count(read_all_adc()[0]);
        pwr_vbat_mon_off();
        return v;
    }
    static void fail_eeprom(bool on) { sim::bench_options().faults.eeprom_program = on; }
};

TEST_F(Record, SampleNumberAloneAndWithTheBattery)
{
    only({CFG_SAMPLE_NUM});
    sys_samp.current_sample = 42;
    get_sample(0, 0);
    EXPECT_EQ(record(), "#0000042\r\n");
    EXPECT_EQ(sys_samp.current_sample, 43u);

    sim::analog_world().p.vbat = 12.36;
    only({CFG_SAMPLE_NUM, CFG_VIN_BAT_VOLT});
    sys_samp.current_sample = 42;
    get_sample(0, 0);
    EXPECT_EQ(record(), "#0000042\t   12.36\r\n");
}

TEST_F(Record, RecordOrderIsFixedWhateverTheMeasurementOrder)
{
    // Board values first, then the electrode values, in the header's order.
    only({CFG_I_SUBSTRATE, CFG_BRD_HUMIDITY, CFG_BIAS_BAT_NEG, CFG_VIN_BAT_VOLT, CFG_BIAS_BAT_POS,
          CFG_BRD_TEMP, CFG_SAMPLE_NUM});
    sys_samp.current_sample = 7;
    get_sample(0, 0);
    auto f = fields(record());
    ASSERT_EQ(f.size(), 7u) << record();
    EXPECT_EQ(f[0], "#0000007");
    EXPECT_EQ(f[1], "   12.50");             // battery
    EXPECT_EQ(f[2], "    3.62");             // bias positive
    EXPECT_EQ(f[3], "    3.60");             // bias negative
    EXPECT_NEAR(std::stod(f[4]), 18.0, 0.2); // board temperature
    EXPECT_EQ(f[4].size(), 8u);
    EXPECT_NEAR(std::stod(f[5]), 35, 1); // humidity
    EXPECT_EQ(f[5].size(), 8u);
    EXPECT_TRUE(std::regex_match(f[6], std::regex(" *0\\.0[0-9]{2}"))) << f[6]; // Ib, nA
}

// Every board and electrode column, read by its header name as a user
// reads the data file: its format and, where the simulated water sets it,
// its value.
TEST_F(Record, EachColumnReadsAsItsNameSays)
{
    for (int i = CFG_SAMPLE_NUM; i <= CFG_BRD_HUMIDITY; ++i) {
        sys_data.data_cfg[i] = 1;
    }
    print_write_data_header(0, 0);
    const std::vector<std::string> names = fields(record());
    sys_samp.current_sample = 3;
    get_sample(0, 0);
    const std::vector<std::string> values = fields(record());
    ASSERT_EQ(names.size(), values.size()) << record();
    std::map<std::string, std::string> v;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t first = names[i].find_first_not_of(' ');
        v[names[i].substr(first)] = values[i];
    }
    const std::regex v6(" *-?[0-9]\\.[0-9]{6}"), v3(" *-?[0-9]+\\.[0-9]{3}"), v2(" *-?[0-9]+\\.[0-9]{2}");
    for (const char* n : {"Vtherm", "Vrsi", "Vrse", "Vrsi_B", "Vk"}) {
        EXPECT_TRUE(std::regex_match(v[n], v6)) << n << ": '" << v[n] << "'";
    }
    for (const char* n : {"VthrmStd", "Vrsi_std", "Vrse_std", "Vk_std"}) {
        EXPECT_EQ(v[n], "0.000000") << n; // noise off: no spread
    }
    for (const char* n : {"TC_Dfet", "pHintEst", "pHextEst", "Ib"}) {
        EXPECT_TRUE(std::regex_match(v[n], v3)) << n << ": '" << v[n] << "'";
    }
    for (const char* n : {"VbatMain", "VbiasPos", "VbiasNeg", "TC_cont", "Ik"}) {
        EXPECT_TRUE(std::regex_match(v[n], v2)) << n << ": '" << v[n] << "'";
    }
    EXPECT_EQ(v["SampNum"], "#0000003");
    EXPECT_TRUE(
        std::regex_match(v["MM/DD/YYYY HH:MM:SS"], std::regex("[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9:]{8}")));
    EXPECT_TRUE(std::regex_match(v["Humidity"], std::regex(" *[0-9]+"))) << v["Humidity"];
    EXPECT_NEAR(std::stod(v["TC_Dfet"]), 12.0, 0.2); // water temperature
    // pH against both references (the simulated sensor differs a little
    // from the firmware's default calibration).
    EXPECT_NEAR(std::stod(v["pHintEst"]), 8.05, 0.15);
    EXPECT_NEAR(std::stod(v["pHextEst"]), 8.05, 0.15);
}

TEST_F(Record, ComputedFieldsMeasureTheirInputsEvenWhenTheseAreNotRecorded)
{
    // pH without its voltage or the temperature fields: still the water's pH.
    only({CFG_CALC_PH_VRSI, CFG_CALC_PH_VRSE});
    get_sample(0, 0);
    auto f = fields(record());
    ASSERT_EQ(f.size(), 2u) << record();
    EXPECT_NEAR(std::stod(f[0]), 8.05, 0.15);
    EXPECT_NEAR(std::stod(f[1]), 8.05, 0.15);
    // A deviation alone comes from its own reading.
    only({CFG_VRSI_STD});
    get_sample(0, 0);
    f = fields(record());
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0], "0.000000"); // noise off: no spread, but a real reading
}

TEST_F(Record, NoFieldGivesAnEmptyLine)
{
    only({});
    get_sample(0, 0);
    EXPECT_EQ(record(), "\r\n");
}

TEST_F(Record, TheLineNeverRunsPastItsBuffer)
{
    char buf[64];
    std::memset(buf, 'z', sizeof buf);
    LineBuilder b(buf, 40);
    std::string long_text(500, 'x');
    b.add("%s\t", long_text.c_str());
    b.add("%s\t", "more");
    b.end_line();
    EXPECT_EQ(std::strlen(buf), 39u);
    EXPECT_EQ(std::string(buf).substr(37), "\r\n");
    EXPECT_EQ(buf[40], 'z'); // nothing written past the buffer
}

TEST_F(Record, TimestampFormsShowTheSameInstant)
{
    only({CFG_TIMESTAMP});
    get_sample(0, 0);
    std::string date = fields(record())[0];
    ASSERT_TRUE(std::regex_match(date, std::regex("01/15/2026 12:00:0[0-9]"))) << date;

    // Local time is 6 h behind GMT: 2026-01-15 12:00:0s local is 18:00:0s GMT.
    sys_data.data_cfg[CFG_TIMESTAMP] = 2;
    get_sample(0, 0);
    std::string epoch = fields(record())[0];
    ASSERT_EQ(epoch.size(), 13u) << epoch;
    const unsigned long long ms = std::stoull(epoch);
    EXPECT_EQ(ms % 1000, 0u);
    const unsigned long long base = 1768500000ull; // 2026-01-15 18:00:00 UTC
    EXPECT_GE(ms / 1000, base);
    EXPECT_LE(ms / 1000, base + 15);

    // A clock set in GMT: the date form shows GMT, and so does the epoch.
    sys_data.GMT = 1;
    get_sample(0, 0);
    const unsigned long long gmt_s = std::stoull(fields(record())[0]) / 1000;
    EXPECT_GE(gmt_s + 21600, ms / 1000);
    EXPECT_LE(gmt_s + 21600, ms / 1000 + 10);
    sys_data.GMT = 0;

    // Both forms of one sample agree: convert the epoch back to a date.
    sys_data.data_cfg[CFG_TIMESTAMP] = 1;
    get_sample(0, 0);
    std::string d2 = fields(record())[0];
    sys_data.data_cfg[CFG_TIMESTAMP] = 2;
    get_sample(0, 0);
    time_t t = static_cast<time_t>(std::stoull(fields(record())[0]) / 1000) - 21600;
    struct tm tm {};
    gmtime_r(&t, &tm);
    char back[32];
    std::strftime(back, sizeof back, "%m/%d/%Y %H:%M:%S", &tm);
    // The two samples are a few seconds apart.
    EXPECT_EQ(std::string(back).substr(0, 16), d2.substr(0, 16));

    // Other values: no time stamp field (the header has no column for them).
    sys_data.data_cfg[CFG_TIMESTAMP] = 3;
    get_sample(0, 0);
    EXPECT_EQ(record(), "\r\n");
}

TEST_F(Record, BatteryExactlyAtTheMarginIsNotLow)
{
    only({CFG_SAMPLE_NUM, CFG_VIN_BAT_VOLT});
    const double v = vbat_reading();
    // Largest threshold with threshold + 0.005 <= v: not low.
    float at = static_cast<float>(v - 0.005);
    while (static_cast<double>(at) + 0.005 > v) {
        at = std::nextafter(at, 0.0f);
    }
    while (static_cast<double>(std::nextafter(at, 100.0f)) + 0.005 <= v) {
        at = std::nextafter(at, 100.0f);
    }
    sys_data.low_batt_volt = at;
    clear();
    get_sample(1, 0);
    EXPECT_EQ(output().find("Low battery"), std::string::npos);

    // One step above: the check runs, the reading is above the threshold
    // itself, so one message and the sample goes on.
    sys_data.low_batt_volt = std::nextafter(at, 100.0f);
    clear();
    sys_samp.current_sample = 5;
    get_sample(1, 0);
    std::string out = output();
    EXPECT_EQ(test::count(out, "Low battery voltage"), 1) << out;
    EXPECT_NE(out.find("#0000005\t"), std::string::npos);
    EXPECT_EQ(sys_samp.current_sample, 6u);
}

TEST_F(Record, BatteryThatRecoversInTheFirstAttemptEndsTheCheck)
{
    only({CFG_SAMPLE_NUM, CFG_VIN_BAT_VOLT});
    sys_data.low_batt_volt = 10.0f;
    sim::analog_world().p.vbat = 9.5;
    // The first reading comes about 0.28 s into the sample, the first
    // attempt's reading about 0.55 s in; the battery recovers in between.
    sim::schedule(sim::now() + 400 * sim::NS_PER_MS, [] { sim::analog_world().p.vbat = 12.0; });
    clear();
    get_sample(1, 0);
    std::string out = output();
    EXPECT_EQ(test::count(out, "\r\nLow battery voltage (9.50 < 10.00) !\r\n"), 1) << out;
    EXPECT_NE(out.find("\t   12.00\r\n"), std::string::npos) << out;
}

TEST_F(Record, LowBatteryEndsTheDeploymentWithAnErrorFileLine)
{
    only({CFG_SAMPLE_NUM, CFG_VIN_BAT_VOLT});
    sys_data.low_batt_volt = 10.0f;
    sim::analog_world().p.vbat = 9.0;
    sys_samp.state = DEPLOYED;
    sys_samp.current_sample = 3;
    // The sleep that ends the deployment cannot store the records on this
    // bench, so it returns instead of hibernating.
    fail_eeprom(true);
    clear();
    get_sample(1, 1);
    fail_eeprom(false);
    std::string out = output();
    EXPECT_EQ(test::count(out, "\r\nLow battery voltage (9.00 < 10.00) !\r\n"), 4) << out;
    EXPECT_EQ(test::count(out, "\r\nLow battery voltage (9.00 < 10.00) ! Exiting deploy mode...\r\n"), 1);
    EXPECT_NE(out.find("\r\n\r\nSleeping...*"), std::string::npos);
    EXPECT_EQ(sys_samp.state, IDLE);
    EXPECT_EQ(sys_samp.current_sample, 3u); // the sample was not completed
    EXPECT_EQ(out.find("#0000003"), std::string::npos);
    EXPECT_EQ(data_file(), "");
    EXPECT_NE(error_file().find(" Low battery! Exiting deploy mode"), std::string::npos) << error_file();
}

TEST_F(Record, LowBatteryWithTheTimingTraceOnIsReportedOnly)
{
    only({CFG_SAMPLE_NUM});
    sys_data.low_batt_volt = 10.0f;
    sys_data.app_cfg[APPCFG_SAMPLING_DIAG] = 1;
    sim::analog_world().p.vbat = 9.0;
    clear();
    get_sample(1, 0);
    std::string out = output();
    EXPECT_EQ(test::count(out, "Low battery voltage"), 5);
    EXPECT_NE(out.find("#0000000\t("), std::string::npos); // the sample went on, with its time
    EXPECT_NE(out.find("\r\nPump         = "), std::string::npos);
    EXPECT_NE(out.find("\r\nformat data  = "), std::string::npos);
}

TEST_F(Record, ConsoleAndFileByTheFlagsAndTheCardSetting)
{
    only({CFG_SAMPLE_NUM});
    struct Case {
        int print, write;
        unsigned char card;
        bool on_console, in_file;
    };
    const Case cases[] = {
        {1, 1, 1, true, true},  {0, 1, 1, false, true},  {1, 0, 1, true, false},  {0, 0, 1, false, false},
        {1, 1, 0, true, false}, {0, 1, 0, false, false}, {2, 2, 1, false, false}, // only 1 counts
    };
    uint32_t n = 100;
    for (const Case& c : cases) {
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = c.card;
        sys_samp.current_sample = n;
        char rec[16];
        std::snprintf(rec, sizeof rec, "#%07u\r\n", static_cast<unsigned>(n));
        clear();
        get_sample(c.print, c.write);
        EXPECT_EQ(record(), rec);
        EXPECT_EQ(output().find(rec) != std::string::npos, c.on_console) << n;
        EXPECT_EQ(data_file().find(rec) != std::string::npos, c.in_file) << n;
        EXPECT_EQ(sys_samp.current_sample, n + 1);
        ++n;
    }
    // Records are appended one after the other.
    EXPECT_EQ(data_file(), "#0000100\r\n#0000101\r\n");
}

TEST_F(Record, SampleTimingTestTimesAddUp)
{
    sys_data.data_cfg[CFG_SAMPLE_NUM] = 1;
    sys_data.data_cfg[CFG_TIMESTAMP] = 1;
    sys_data.data_cfg[CFG_VIN_BAT_VOLT] = 1;
    sys_data.data_cfg[CFG_BIAS_BAT_POS] = 1;
    sys_data.data_cfg[CFG_CALC_PH_VRSI] = 1;
    sys_data.data_cfg[CFG_I_SUBSTRATE] = 1;
    clear();
    test_get_sample_timing();
    const std::string out = output();
    EXPECT_EQ(sys_data.app_cfg[APPCFG_SAMPLING_DIAG], 0);
    // The field listing, the header, a plain sample, then the timed one.
    const std::size_t listing = out.find("// A -- Sample Num               = 1\r\n");
    const std::size_t header =
        out.find("\r\n\r\n SampNum\t     MM/DD/YYYY HH:MM:SS\tVbatMain\tVbiasPos\tpHintEst\t      Ib\r\n");
    const std::size_t timing = out.find("\r\r\n ---  Sample Timing ---\r\r\n");
    ASSERT_NE(listing, std::string::npos) << out;
    ASSERT_NE(header, std::string::npos) << out;
    ASSERT_NE(timing, std::string::npos) << out;
    EXPECT_LT(listing, header);
    EXPECT_LT(header, timing);
    const std::string trace = out.substr(timing);
    EXPECT_EQ(
        trace.rfind("\r\r\n ---  Sample Timing ---\r\r\n\r\nPump         =     0,       0\r\nPwr on, init = ",
                    0),
        0u)
        << trace;
    // Each trace line "label = since the last, since the start": the times
    // add up, and the record carries the time of its formatting.
    const std::regex point("\r\n([A-Za-z ,]{12}) = +([0-9]+), +([0-9]+)");
    unsigned total = 0, points = 0, formatted = 0;
    for (auto it = std::sregex_iterator(trace.begin(), trace.end(), point); it != std::sregex_iterator();
         ++it) {
        const unsigned since_last = std::stoul((*it)[2]), since_start = std::stoul((*it)[3]);
        EXPECT_EQ(since_start, total + since_last) << (*it)[1];
        total = since_start;
        formatted = (*it)[1] == "format data " ? total : formatted;
        ++points;
    }
    EXPECT_GE(points, 8u) << trace;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        trace, m, std::regex("format data  = +[0-9]+, +[0-9]+\r\n#0000001\t.*\t\\(([0-9]+) msec\\)\r\n")))
        << trace;
    EXPECT_GE(std::stoul(m[1]), formatted);
    EXPECT_EQ(trace.find("Vrse"), std::string::npos);
    EXPECT_EQ(trace.find("uSD writes"), std::string::npos); // console only
}

class RecordNoCard : public Record {
  protected:
    void SetUp() override
    {
        test::BenchTest::SetUp();
        opts.params["noise"] = "off";
        opts.params["card"] = "none";
        start();
        only({CFG_SAMPLE_NUM});
    }
};

TEST_F(RecordNoCard, FileErrorsAreReportedAndTheRecordStillPrinted)
{
    sys_samp.current_sample = 9;
    get_sample(1, 1);
    std::string out = output();
    EXPECT_NE(out.find("#0000009\r\n"), std::string::npos);
    EXPECT_EQ(out.find("f_open error: "), out.find("#0000009\r\n") + 10) << out;
    EXPECT_EQ(sys_samp.current_sample, 10u);
}

} // namespace
