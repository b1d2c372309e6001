// The instrument columns of the sample record on a bench board with
// simulated instruments on its ports: header and record agree column for
// column, the CTD's salinity reaches the external-reference pH, and what the
// instruments add to the length of a sample.
#include "app/main.h"
#include "instruments/ctd_base.h"
#include "operator/config_headers.h"
#include "sim/devices/analog_world.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "sampling/system_calc.h"
#include "tests/deployment/deploy_support.h"
#include "tests/support/bench.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>

using deploytest::fields;

namespace {

class InstrumentRecord : public test::BenchTest {
  protected:
    InstrumentRecord() { auto_start_ = false; }
    void begin(const std::map<std::string, std::string>& params)
    {
        opts.params["noise"] = "off";
        for (const auto& [k, v] : params) {
            opts.params[k] = v;
        }
        start();
        std::memcpy(defaults_, sys_data.data_cfg, sizeof defaults_);
        std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
    }
    unsigned char defaults_[sizeof sys_data.data_cfg] = {};
    static std::string header()
    {
        print_write_data_header(0, 0);
        return prnBuf;
    }
    static std::string record()
    {
        get_sample(0, 0);
        return prnBuf;
    }
    // Index of a column in the header ("" names not found: -1).
    static int column(const std::string& header_line, const std::string& name)
    {
        auto f = fields(header_line);
        for (std::size_t i = 0; i < f.size(); ++i) {
            if (f[i] == name) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    // Random selection of the other fields, the three instruments on.
    static void random_selection(std::mt19937& rng, unsigned char ctd_type)
    {
        std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
        for (int i = CFG_SAMPLE_NUM; i <= CFG_BRD_HUMIDITY; ++i) {
            sys_data.data_cfg[i] = static_cast<unsigned char>(rng() % 2);
        }
        sys_data.data_cfg[CFG_TIMESTAMP] = static_cast<unsigned char>(rng() % 3);
        sys_data.data_cfg[CFG_OPTODE] = 1;
        sys_data.data_cfg[CFG_CTD] = ctd_type;
        sys_data.data_cfg[CFG_OCR] = 1;
    }
    // The firmware calibrated to the simulated sensor's own constants.
    static void calibrate()
    {
        const sim::AnalogParams& p = sim::analog_world().p;
        sys_data.k0int = static_cast<float>(p.e0int);
        sys_data.k0ext = static_cast<float>(p.e0ext);
        sys_data.quadTherm_c0 = p.therm_c0;
        sys_data.quadTherm_c1 = p.therm_c1;
        sys_data.quadTherm_c2 = p.therm_c2;
        sys_data.quadTherm_c3 = p.therm_c3;
        sys_data.app_cfg[APPCFG_TEMPC_SH_ALG] = 0;
        sys_data.TCOffset = 0.0f;
    }
};

TEST_F(InstrumentRecord, Sbe37AndOptodeColumnsStayUnderTheirNames)
{
    begin({{"ctd", "sbe37"}, {"optode_port", "optode"}, {"sal", "31.25"}});
    std::mt19937 rng(20261208);
    for (int round = 0; round < 6; ++round) {
        random_selection(rng, 1);
        const std::string h = header();
        const std::string r = record();
        ASSERT_EQ(fields(h).size(), fields(r).size()) << "round " << round << "\n" << h << r;
        auto f = fields(r);
        // The optode's line, its last value in the last optode column.
        EXPECT_EQ(f[column(h, "Opt_PN")], "4831") << r;
        EXPECT_EQ(f[column(h, "Opt_SN")], "856") << r;
        EXPECT_FALSE(f[column(h, "Opt_rawtemp")].empty()) << r;
        // The SBE37's values under their names.
        EXPECT_NEAR(std::stod(f[column(h, "TC_MCat")]), 12.0, 1e-4) << r;
        EXPECT_NEAR(std::stod(f[column(h, "pSal")]), 31.25, 1e-4) << r;
        EXPECT_EQ(f[column(h, "Date_MC")], " 15 Jan 2026") << r;
        EXPECT_EQ(f[column(h, "Time_MC")].size(), 9u) << r;
        // The radiometer, sharing the optode's port but absent: the
        // replacement frame in its five columns.
        EXPECT_EQ(f[column(h, "OCR_PN  ")], "SATFI4_ERR") << r;
        EXPECT_EQ(f[column(h, "Chan_4 ")], "-9.9999") << r;
    }
}

TEST_F(InstrumentRecord, Aanderaa5860ColumnsStayUnderTheirNames)
{
    begin({{"ctd", "aand5860"}, {"optode_port", "optode"}});
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        random_selection(rng, 2);
        const std::string h = header();
        const std::string r = record();
        ASSERT_EQ(fields(h).size(), fields(r).size()) << h << r;
        auto f = fields(r);
        EXPECT_EQ(f[column(h, "Cond_PN")], "5860") << r;
        EXPECT_NEAR(std::stod(f[column(h, "Sal")]), 33.5, 1e-3) << r;
        EXPECT_FALSE(f[column(h, "SSpeed")].empty()) << r;
        EXPECT_EQ(f[column(h, "OCR_PN  ")], "SATFI4_ERR") << r;
    }
}

TEST_F(InstrumentRecord, ErrorTextsFillTheirInstrumentsColumns)
{
    // Nothing on either port: each column group holds its error text in its
    // first column and empty columns after it.
    begin({});
    for (unsigned char type : {1, 2}) {
        std::memset(sys_data.data_cfg, 0, sizeof sys_data.data_cfg);
        sys_data.data_cfg[CFG_SAMPLE_NUM] = 1;
        sys_data.data_cfg[CFG_OPTODE] = 1;
        sys_data.data_cfg[CFG_CTD] = type;
        sys_data.data_cfg[CFG_OCR] = 1;
        sys_data.data_cfg[CFG_BRD_HUMIDITY] = 1;
        const std::string h = header();
        const std::string r = record();
        ASSERT_EQ(fields(h).size(), fields(r).size()) << h << r;
        auto f = fields(r);
        EXPECT_EQ(f[2], "Optode not responding with % char after power up");
        for (int i = 3; i < 14; ++i) {
            EXPECT_EQ(f[i], "") << i;
        }
        EXPECT_EQ(f[14].rfind("CTD not responding with ", 0), 0u) << f[14];
        EXPECT_EQ(f[f.size() - 5], "SATFI4_ERR");
    }
}

// An optode set up to send more values than the header names: answers the
// power-up handshake and "do sample" with a 14-value line.
struct WordyOptode : sim::UartPeer {
    void uart_from_board(uint8_t byte) override
    {
        if (byte == '\n' && !handshaken) {
            handshaken = true;
            send("!");
        } else if (byte == '\0') {
            send("4831\t856\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t\r\n#");
        }
    }
    static void send(const std::string& text)
    {
        sim::uart_send_to_board(UART3_BASE, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    bool handshaken = false;
};

TEST_F(InstrumentRecord, MoreValuesThanNamesKeepTheColumnCount)
{
    // The extra values stay in the last optode column, space separated; the
    // columns after it keep their places.
    begin({});
    WordyOptode optode_peer;
    sim::uart_attach(UART3_BASE, &optode_peer);
    sim::schedule_in(400 * sim::NS_PER_MS, [] { WordyOptode::send("%"); });
    sys_data.data_cfg[CFG_OPTODE] = 1;
    sys_data.data_cfg[CFG_BRD_HUMIDITY] = 1;
    sys_data.pump_seq_type = 2;
    pump_var_init();
    const std::string h = header();
    const std::string r = record();
    sim::uart_attach(UART3_BASE, nullptr);
    ASSERT_EQ(fields(h).size(), fields(r).size()) << h << r;
    auto f = fields(r);
    EXPECT_EQ(f[1], "4831");
    EXPECT_EQ(f[12], "10 11 12");
    // The pump text's own tab gives no empty column after it.
    EXPECT_EQ(f[13], "PumpSeq=02");
    sys_data.pump_seq_type = 1;
}

TEST_F(InstrumentRecord, CtdSalinityFeedsTheExternalPh)
{
    // Water of salinity 20 against the configured 35: the CTD's reading makes
    // the external-reference pH the water's.
    begin({{"ctd", "sbe37"}, {"sal", "20.0"}, {"ph", "7.9"}, {"temp", "8.0"}});
    calibrate();
    sys_data.default_sal = 35.0f;
    sys_data.data_cfg[CFG_CALC_TEMP] = 1;
    sys_data.data_cfg[CFG_VRSE] = 1;
    sys_data.data_cfg[CFG_CALC_PH_VRSE] = 1;
    sys_data.data_cfg[CFG_CTD] = 1;
    auto f = fields(record());
    ASSERT_EQ(f.size(), 8u);
    EXPECT_NEAR(std::stod(f[2]), 7.9, 0.002);
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, 20.0f);

    // Without the CTD the configured salinity is used, which for this water
    // reads off by more than the tolerance.
    sys_data.data_cfg[CFG_CTD] = 0;
    f = fields(record());
    ASSERT_EQ(f.size(), 3u);
    const float expected = calc_pHext(std::stof(f[1]), std::stof(f[0]), 35.0f);
    EXPECT_NEAR(std::stod(f[2]), expected, 0.0011);
    EXPECT_GT(std::fabs(std::stod(f[2]) - 7.9), 0.005);
}

// A sample with the CTD and the optode against the same sample without them,
// in simulated time.  The instruments are finished one after the other
// before the electrode readings: the optode's transaction (1.65 s) first,
// during which the SBE37 is not stepped, so its command goes out only then
// and its 1.1 s sample follows; the bias-battery readings are the only work
// they overlap.
TEST_F(InstrumentRecord, InstrumentsAddTheirTransactionToTheSample)
{
    begin({{"ctd", "sbe37"}, {"optode_port", "optode"}});
    std::memcpy(sys_data.data_cfg, defaults_, sizeof defaults_);
    const auto run = [] {
        const sim::Time t0 = sim::now();
        get_sample(0, 0);
        return static_cast<double>(sim::now() - t0) / 1e9;
    };
    // The factory default fields, then the same with both instruments.
    const double without = run();
    sys_data.data_cfg[CFG_OPTODE] = 1;
    sys_data.data_cfg[CFG_CTD] = 1;
    const double with = run();
    std::printf("[ measured ] sample without instruments %.3f s, with CTD and optode %.3f s, +%.3f s\n",
                without, with, with - without);
    EXPECT_GT(with - without, 2.5);
    EXPECT_LT(with - without, 3.0);
}

} // namespace
