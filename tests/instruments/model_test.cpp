// The instrument models themselves: the seawater they measure, the serial
// line between mismatched baud rates, their command-line options, and the
// determinism of a run.
#include "instruments/optode.h"
#include "sim/tools/cli.h"
#include "sim/devices/instruments/instrument.h"
#include "sim/devices/instruments/seawater.h"
#include "sim/devices/instruments/serial_line.h"
#include "tests/instruments/instrument_bench.h"

#include <vector>

namespace {

using InstrumentRuns = test::InstrumentBench;

TEST(Seawater, CheckValues)
{
    // Standard seawater defines the conductivity ratio.
    EXPECT_NEAR(sim::pss78_conductivity(35.0, 15.0 / 1.00024), 42.914, 1e-6);
    // One-atmosphere density (EOS-80 check values).
    EXPECT_NEAR(sim::seawater_density(35.0, 25.0), 1023.34306, 1e-4);
    EXPECT_NEAR(sim::seawater_density(0.0, 5.0), 999.96675, 1e-4);
    // Oxygen solubility, 274.610 umol/kg at 10 degrees C and S = 35.
    EXPECT_NEAR(sim::o2_solubility_umol_l(35.0, 10.0) / (sim::seawater_density(35.0, 10.0) / 1000.0), 274.610,
                0.001);
}

TEST(Seawater, ConductivityAndSalinityAreInverse)
{
    for (double t : {-1.5, 5.0, 12.0, 20.0, 30.0}) {
        for (double s : {2.0, 20.0, 33.5, 35.0, 40.0}) {
            double c = sim::pss78_conductivity(s, t);
            EXPECT_NEAR(sim::pss78_salinity(c, t), s, 1e-7) << t << " " << s;
        }
    }
    EXPECT_LT(sim::pss78_conductivity(33.5, 5.0), sim::pss78_conductivity(33.5, 20.0));
}

struct LineBench : ::testing::Test {
    void SetUp() override { sim::reset_clock(0); }
    void TearDown() override { sim::reset_clock(0); }
    static void run_for(sim::Time ns)
    {
        sim::Time end = sim::now() + ns;
        while (sim::next_event_time() <= end) {
            sim::idle(end - sim::now());
        }
    }
};

TEST_F(LineBench, MatchingRatesDeliverEachByteAtItsStopBit)
{
    std::vector<std::pair<uint8_t, sim::Time>> got;
    sim::SerialLine line([] { return 9600u; }, [&](uint8_t b) { got.emplace_back(b, sim::now()); });
    line.frame(0, 'A', 9600);
    line.frame(sim::SerialLine::frame_time(9600), 'B', 9650); // within 2 %
    run_for(10 * sim::NS_PER_MS);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, 'A');
    EXPECT_EQ(got[0].second, sim::SerialLine::frame_time(9600));
    EXPECT_EQ(got[1].first, 'B');
}

TEST_F(LineBench, MismatchedRatesGiveWhatAUartSamples)
{
    std::vector<uint8_t> got;
    uint32_t rx = 9600;
    sim::SerialLine line([&] { return rx; }, [&](uint8_t b) { got.push_back(b); });
    // 0xFF at 4800: the start bit lasts two receiver bits, so bit 0 reads low.
    line.frame(0, 0xFF, 4800);
    run_for(10 * sim::NS_PER_MS);
    EXPECT_EQ(got, std::vector<uint8_t>{0xFE});
    // 0x00 at 9600 into a 4800 receiver: low for 4.5 of its bits.
    got.clear();
    rx = 4800;
    line.frame(sim::now(), 0x00, 9600);
    run_for(10 * sim::NS_PER_MS);
    EXPECT_EQ(got, std::vector<uint8_t>{0xF8});
    // Nothing is received while the receiver is off.
    got.clear();
    rx = 0;
    line.frame(sim::now(), 0x00, 9600);
    run_for(10 * sim::NS_PER_MS);
    EXPECT_TRUE(got.empty());
}

TEST(InstrumentOptions, CommandLine)
{
    const char* argv[] = {
        "varve-sim",        "--ctd", "aand5860",     "--optode-port", "ocr504",  "--o2-sat", "80",
        "--aand5860-text",  "on",    "--ctd-serial", "4242",          "--fault", "ctd-gap",  "--fault",
        "optode-wrong-baud"};
    sim::RunOptions o;
    EXPECT_EQ(sim::parse_command_line(static_cast<int>(std::size(argv)), const_cast<char**>(argv), &o), -1);
    sim::InstrumentOptions io;
    const sim::Status read = sim::instrument_options_from(o.params, &io);
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(io.ctd, sim::InstrumentOptions::Ctd::Aand5860);
    EXPECT_EQ(io.optode_port, sim::InstrumentOptions::OptodePort::Ocr504);
    EXPECT_DOUBLE_EQ(io.o2_sat_pct, 80.0);
    EXPECT_TRUE(io.aand5860_text);
    EXPECT_EQ(io.ctd_serial, 4242u);
    EXPECT_EQ(io.ctd_fault, sim::InstrumentFault::Gap);
    EXPECT_EQ(io.optode_fault, sim::InstrumentFault::WrongBaud);

    for (std::vector<const char*> bad : {std::vector<const char*>{"varve-sim", "--ctd", "sbe39"},
                                         {"varve-sim", "--optode-port", "ocr"},
                                         {"varve-sim", "--o2-sat", "lots"},
                                         {"varve-sim", "--ctd-serial", "0"},
                                         {"varve-sim", "--aand5860-text", "yes"},
                                         {"varve-sim", "--fault", "ctd-slow"},
                                         {"varve-sim", "--fault", "optode-none"}}) {
        sim::RunOptions b;
        EXPECT_EQ(sim::parse_command_line(static_cast<int>(bad.size()), const_cast<char**>(bad.data()), &b),
                  2)
            << bad[1] << " " << bad[2];
    }
}

TEST_F(InstrumentRuns, SameSeedSameReplies)
{
    std::string first;
    for (int run = 0; run < 2; ++run) {
        opts.board_dir = test::fresh_board_dir("InstrumentRuns-seed-" + std::to_string(run));
        begin({{"optode_port", "optode"}, {"seed", "7"}});
        test::Transaction a = run_optode();
        test::Transaction b = run_optode();
        EXPECT_NE(a.buf, b.buf); // the noise moves on
        if (run == 0) {
            first = a.buf + b.buf;
        } else {
            EXPECT_EQ(a.buf + b.buf, first);
        }
        sim::bench_end();
        started_ = false;
    }
}

} // namespace
