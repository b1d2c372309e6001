// Optode driver against the simulated Aanderaa oxygen optode, and against a
// scripted line for the exact bytes of the edge cases.
#include "instruments/optode.h"
#include "sim/devices/analog_world.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "sim/devices/instruments/seawater.h"
#include "tests/instruments/instrument_bench.h"
#include "tests/support/harness.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Optode = test::InstrumentBench;
using OptodeTools = test::InstrumentBench;

std::vector<double> numbers_of(const std::string& text)
{
    std::vector<double> out;
    const char* p = text.c_str();
    char* end = nullptr;
    for (double v = std::strtod(p, &end); end != p; v = std::strtod(p, &end)) {
        out.push_back(v);
        p = end;
    }
    return out;
}

TEST_F(Optode, ReplyCarriesOxygenSaturationAndTemperature)
{
    begin({{"optode_port", "optode"}, {"noise", "off"}, {"o2_sat", "92.5"}});
    test::Transaction t = run_optode();
    EXPECT_EQ(t.result, 0);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf.substr(0, 9), "4831\t856\t");
    EXPECT_EQ(t.buf.back(), '\t');
    EXPECT_EQ(t.buf.find_first_of("\r\n#"), std::string::npos);
    std::vector<double> v = numbers_of(t.buf);
    ASSERT_EQ(v.size(), 12u) << t.buf;
    EXPECT_NEAR(v[2], 0.925 * sim::o2_solubility_umol_l(33.5, 12.0), 0.001);
    EXPECT_DOUBLE_EQ(v[3], 92.5);
    EXPECT_DOUBLE_EQ(v[4], 12.0);
    // '%' after 350 ms, the optode's 1.2 s measurement, the reply.
    EXPECT_GT(t.seconds, 1.6);
    EXPECT_LT(t.seconds, 1.7);
    EXPECT_EQ(optode_qa_test(), 1u);
}

TEST_F(Optode, DelimitersCommandAndReplyLayout)
{
    begin({{"optode_port", "none"}});
    test::ScriptedLine line(UART3_BASE);
    line.attach();
    int st = optode_stateMachine(ST_OPTODE_INIT);
    ASSERT_EQ(st, ST_OPTODE_PCT);
    line.send("ab!%"); // bytes before '%' are ignored, '!' among them
    st = step_while(optode_stateMachine, st);
    ASSERT_EQ(st, ST_OPTODE_BANG);
    line.send("%x!"); // and bytes other than '!' after it
    st = step_while(optode_stateMachine, st);
    ASSERT_EQ(st, ST_OPTODE_RX);
    wait_ms(20);
    // CR LF after '%', then one twelve-byte command ending in a NUL.
    EXPECT_EQ(line.got, std::string("\r\ndo sample\r\n\0", 14));
    line.send("4831\t856\t286.196\t94.284\t16.728\t\r\n#");
    finish(optode_stateMachine, st);
    EXPECT_EQ(optode.state, 0);
    EXPECT_FALSE(sim::gpio_level('L', 2));
    // The numbers up to the last tab, the NUL of the CR, the LF, a NUL.
    EXPECT_EQ(std::string(optode.buf, 34), std::string("4831\t856\t286.196\t94.284\t16.728\t\0\n\0", 34));
}

TEST_F(Optode, NoPercentWithinOnePointSixSeconds)
{
    begin({{"optode_port", "optode"}, {"optode_fault", "silent"}});
    test::Transaction t = run_optode();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "Optode not responding with % char after power up");
    EXPECT_GT(t.seconds, 1.59);
    EXPECT_LT(t.seconds, 1.62);
    EXPECT_EQ(optode_qa_test(), 0u);
}

TEST_F(Optode, NoBangWithinTwoSecondsOfThePercent)
{
    begin({{"optode_port", "none"}});
    sys_data.diag = 1;
    test::ScriptedLine line(UART3_BASE);
    line.attach();
    int st = optode_stateMachine(ST_OPTODE_INIT);
    line.send("%");
    st = step_while(optode_stateMachine, st);
    ASSERT_EQ(st, ST_OPTODE_BANG);
    sim::Time t0 = sim::now();
    finish(optode_stateMachine, st);
    test::Transaction t = optode_end(t0);
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "Optode not responding with ! char after crlf");
    EXPECT_GT(t.seconds, 1.99);
    EXPECT_LT(t.seconds, 2.01);
    EXPECT_NE(output().find("did not receive ! char delimiter in 2000msec"), std::string::npos);
}

TEST_F(Optode, NoReplyWithinFiveSecondsOfTheCommand)
{
    begin({{"optode_port", "none"}});
    test::ScriptedLine line(UART3_BASE);
    line.attach();
    int st = optode_stateMachine(ST_OPTODE_INIT);
    line.send("%!");
    st = step_while(optode_stateMachine, st);
    st = step_while(optode_stateMachine, st);
    ASSERT_EQ(st, ST_OPTODE_RX);
    sim::Time t0 = sim::now();
    finish(optode_stateMachine, st);
    test::Transaction t = optode_end(t0);
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "Optode not responding with sample string after do sample");
    EXPECT_GT(t.seconds, 4.99);
    EXPECT_LT(t.seconds, 5.01);
}

TEST_F(Optode, GapOf50msInsideTheReply)
{
    begin({{"optode_port", "optode"}, {"optode_fault", "gap"}});
    test::Transaction t = run_optode();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "Optode Err ST4: inter-character delay exceeded 50msec receiving do_sample string");
    EXPECT_LT(t.seconds, 1.7);
}

TEST_F(Optode, ReplyOver127BytesOverflows)
{
    begin({{"optode_port", "optode"}, {"optode_fault", "long-line"}});
    sys_data.diag = 1;
    test::Transaction t = run_optode();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(optode.bufIndx, 127u);
    EXPECT_EQ(t.buf, "Optode Err ST4: do_sample string exceeds buf size");
    EXPECT_NE(output().find("\r\nDEBUG: error in optode driver bufIndx exceeds buf size, optode\r\n"),
              std::string::npos);
}

TEST_F(Optode, ReplyWithoutLineEndIsTerminated)
{
    begin({{"optode_port", "optode"}, {"noise", "off"}, {"optode_fault", "no-line-end"}});
    std::memset(optode.buf, 'x', sizeof optode.buf);
    test::Transaction t = run_optode();
    EXPECT_EQ(t.result, 0);
    EXPECT_TRUE(t.terminated);
    EXPECT_EQ(t.buf.substr(0, 9), "4831\t856\t");
    EXPECT_EQ(t.buf.back(), '\t');
}

TEST_F(Optode, NonsenseReplyIsRecordedAsItCame)
{
    begin({{"optode_port", "optode"}, {"optode_fault", "garbage"}});
    test::Transaction t = run_optode();
    EXPECT_EQ(t.result, 0); // the optode's reply is not parsed
    EXPECT_FALSE(t.power_on);
    EXPECT_TRUE(t.terminated);
    EXPECT_TRUE(numbers_of(t.buf).empty()) << t.buf;
}

TEST_F(Optode, WrongBaudRate)
{
    begin({{"optode_port", "optode"}, {"optode_fault", "wrong-baud"}});
    test::Transaction t = run_optode();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "Optode not responding with % char after power up");
}

TEST_F(OptodeTools, PassThroughSendsCrLfAndNeverCtrlX)
{
    begin({{"optode_port", "none"}});
    test::ScriptedLine line(UART3_BASE);
    line.attach();
    type_later(100, "do sample\r\x18");
    optode_comm_test();
    wait_ms(20);
    EXPECT_EQ(line.got, "do sample\r\n");
    EXPECT_FALSE(sim::gpio_level('L', 2));
    std::string out = output();
    EXPECT_NE(out.find("Command procedure to setup Optode for numeric output:"), std::string::npos);
    EXPECT_NE(out.find("set passkey(1)\r\nset flow control(none)\r\nsave\r\n\r\n"), std::string::npos);
    EXPECT_NE(out.find("*Press CTRL-X to stop communicating with the Optode.*"), std::string::npos);
}

TEST_F(OptodeTools, AnalyzerAnswersTheDelimitersAndTimesEachByte)
{
    begin({{"optode_port", "optode"}, {"noise", "off"}});
    type_later(2500, "\x18\x18");
    optode_serial_analyzer();
    EXPECT_FALSE(sim::gpio_level('L', 2));
    std::string out = output();
    EXPECT_EQ(out.find("optode serial analyzer, bytes and times\r\nopen\r\n"), 0u);
    EXPECT_NE(out.find("RX: % [0x25]  time = 350 msec\r\nTX: crlf \r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("RX: ! [0x21]  time = "), std::string::npos);
    EXPECT_NE(out.find("TX: crlf do sample crlf \r\n"), std::string::npos);
    EXPECT_NE(out.find("RX: . [0x09]  time = 0 msec\r\n"), std::string::npos); // a tab of the reply
}

} // namespace
