// Radiometer driver against the simulated OCR-504, and against a scripted
// line for the exact bytes of the edge cases.
#include "instruments/ocr.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"
#include "tests/instruments/instrument_bench.h"
#include "tests/support/harness.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Ocr = test::InstrumentBench;
using OcrTools = test::InstrumentBench;

const char* const NO_FRAME = "SATFI4_ERR\t-9.9999\t-9.9999\t-9.9999\t-9.9999";

std::vector<double> values_of(const std::string& frame)
{
    std::vector<double> out;
    std::size_t tab = frame.find('\t');
    while (tab != std::string::npos) {
        out.push_back(std::strtod(frame.c_str() + tab + 1, nullptr));
        tab = frame.find('\t', tab + 1);
    }
    return out;
}

TEST_F(Ocr, FrameAtNoonFollowsTheDepth)
{
    begin({{"optode_port", "ocr504"}, {"noise", "off"}});
    test::Transaction t = run_ocr();
    EXPECT_EQ(t.result, 0);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf.substr(0, 11), "SATFI42247\t");
    EXPECT_EQ(t.buf.find_first_of("\r\n"), std::string::npos);
    std::vector<double> e = values_of(t.buf);
    ASSERT_EQ(e.size(), 4u);
    // 412 nm: 150 uW/cm2/nm at the surface at noon, Kd 0.05/m, 20 m down.
    EXPECT_NEAR(e[0], 150.0 * std::exp(-0.05 * 20.0), 0.001);
    // 800 ms start-up, the poll, the instrument's 25 ms, the frame at 57600.
    EXPECT_GT(t.seconds, 0.82);
    EXPECT_LT(t.seconds, 0.85);
    EXPECT_EQ(ocr.dataCnt, 1);
}

TEST_F(Ocr, DarkAtMidnight)
{
    opts.start = "2026-01-15 00:00:00";
    begin({{"optode_port", "ocr504"}});
    test::Transaction t = run_ocr();
    EXPECT_EQ(t.result, 0);
    for (double v : values_of(t.buf)) {
        EXPECT_LT(std::fabs(v), 0.02) << t.buf;
    }
}

TEST_F(Ocr, NoRadiometerGivesTheReplacementFrameAfter2400ms)
{
    begin({{"optode_port", "none"}});
    sys_data.diag = 1;
    test::Transaction t = run_ocr();
    EXPECT_EQ(t.result, 0); // never a failed state
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, NO_FRAME);
    EXPECT_GT(t.seconds, 2.39);
    EXPECT_LT(t.seconds, 2.42);
    EXPECT_NE(output().find("OCR power on did not receive expected response to CR-LF in 1600msec"),
              std::string::npos);
}

TEST_F(Ocr, SilentWrongBaudAndNonsenseGiveTheReplacementFrame)
{
    for (const char* fault : {"silent", "wrong-baud", "garbage"}) {
        SCOPED_TRACE(fault);
        if (started_) {
            sim::bench_end();
            started_ = false;
        }
        opts.board_dir = test::fresh_board_dir(std::string("Ocr-faults-") + fault);
        begin({{"optode_port", "ocr504"}, {"optode_fault", fault}});
        test::Transaction t = run_ocr();
        EXPECT_EQ(t.result, 0);
        EXPECT_FALSE(t.power_on);
        EXPECT_EQ(t.buf, NO_FRAME);
    }
}

TEST_F(Ocr, FrameWithoutLineEndTimesOutTwoSecondsAfterItsStart)
{
    begin({{"optode_port", "ocr504"}, {"optode_fault", "no-line-end"}});
    test::Transaction t = run_ocr();
    EXPECT_EQ(t.result, 0);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "OCR did not finish transmit data");
    EXPECT_GT(t.seconds, 0.825 + 1.99);
    EXPECT_LT(t.seconds, 0.825 + 2.02);
}

TEST_F(Ocr, FrameOver127BytesOverflows)
{
    begin({{"optode_port", "ocr504"}, {"optode_fault", "long-line"}});
    test::Transaction t = run_ocr();
    EXPECT_EQ(t.result, 0);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(ocr.bufIndx, 127u);
    EXPECT_EQ(t.buf, "OCR Err: frame exceeds buf size");
}

TEST_F(Ocr, BannerBeforeTheFrameIsDiscarded)
{
    begin({{"optode_port", "none"}});
    test::ScriptedLine line(UART3_BASE);
    line.attach();
    int st = ocr_stateMachine(ST_OCR_INIT);
    st = step_while(ocr_stateMachine, st); // 800 ms
    ASSERT_EQ(st, ST_OCR_POLL);
    st = ocr_stateMachine(st);
    wait_ms(1);
    EXPECT_EQ(line.got, "\r\n");
    line.send("OCR-504 v2.1 ready\r\nSATFI40042\t0.1297\t0.0154\t-0.0071\t0.0060\r\n");
    finish(ocr_stateMachine, st);
    EXPECT_EQ(ocr.state, 0);
    EXPECT_STREQ(ocr.buf, "SATFI40042\t0.1297\t0.0154\t-0.0071\t0.0060");
    EXPECT_FALSE(sim::gpio_level('L', 2));
    EXPECT_EQ(sim::uart_baud(UART3_BASE), 57600u);
    EXPECT_EQ(ocr_stateMachine(0), 0); // the sample cycle's last call
}

TEST_F(Ocr, UnknownStateEndsWithPowerOff)
{
    begin({{"optode_port", "ocr504"}});
    ocr_open();
    EXPECT_EQ(ocr_stateMachine(6), 0);
    EXPECT_EQ(ocr.state, 0);
    EXPECT_FALSE(sim::gpio_level('L', 2));
    EXPECT_NE(output().find("\r\nERROR: OCR statemachine error - should not get to default\r\n"),
              std::string::npos);
}

TEST_F(OcrTools, PassThroughForwardsCtrlCAndEndsOnCtrlXYZ)
{
    begin({{"optode_port", "none"}});
    test::ScriptedLine line(UART3_BASE);
    line.attach();
    for (const char* end : {"\x18", "\x19", "\x1a"}) {
        line.got.clear();
        type_later(100, std::string("\x03") + "exit\r" + end + "z");
        ocr_comm_test();
        wait_ms(5);
        EXPECT_EQ(line.got, "\x03"
                            "exit\r");
        EXPECT_FALSE(sim::gpio_level('L', 2));
        EXPECT_EQ(sim::uart_baud(UART3_BASE), 57600u);
        UARTFlushRx(); // the "z" after the end key
    }
    EXPECT_NE(output().find("*Press CTRL-X to stop communicating with the OCR-504 Instrument."),
              std::string::npos);
}

TEST_F(OcrTools, PassThroughReachesTheConfigurationPrompt)
{
    begin({{"optode_port", "ocr504"}});
    type_later(400, "\x03");
    type_later(500, "exit\r");
    type_later(600, "\r");
    type_later(800, "\x18");
    ocr_comm_test();
    std::string out = output();
    EXPECT_NE(out.find("\r\n[Auto]$ exit\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("SATFI42247\t"), std::string::npos) << out;
}

} // namespace
