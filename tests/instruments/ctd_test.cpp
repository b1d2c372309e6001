// CTD driver against the simulated SBE37 MicroCat and Aanderaa 5860, and
// against a scripted line for the exact replies of the edge cases.
#include "board/board_util.h"
#include "instruments/ctd_base.h"
#include "sim/devices/analog_world.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "sim/devices/instruments/seawater.h"
#include "tests/instruments/instrument_bench.h"
#include "tests/support/harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using CtdSbe37 = test::InstrumentBench;
using Ctd5860 = test::InstrumentBench;
using CtdCommon = test::InstrumentBench;
using CtdTools = test::InstrumentBench;

int count_of(const std::string& s, char c)
{
    int n = 0;
    for (char x : s) {
        n += x == c ? 1 : 0;
    }
    return n;
}

// Salinity configured for samples without a CTD reading, distinct from the
// simulated water's 33.5.
constexpr float DEFAULT_SAL = 31.25f;

void configure(unsigned char type)
{
    sys_data.data_cfg[CFG_CTD] = type;
    sys_data.default_sal = DEFAULT_SAL;
    sys_samp.sensor_sal = 20.0f; // left by an earlier sample
}

// --- SBE37 ------------------------------------------------------------------------

TEST_F(CtdSbe37, SampleLineWithTabsTemperatureAndSalinity)
{
    begin({{"ctd", "sbe37"}, {"noise", "off"}, {"temp", "12.3456"}, {"sal", "35.1234"}});
    configure(CTD_TYPE_SBE37);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, 0);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(ctd.type, 1u);
    // "tttt.tttt, cc.ccccc, sss.ssss, dd mmm yyyy, hh:mm:ss" with tabs for
    // the commas; no line end in the text.
    EXPECT_EQ(t.buf.find(','), std::string::npos) << t.buf;
    EXPECT_EQ(count_of(t.buf, '\t'), 4) << t.buf;
    EXPECT_EQ(t.buf.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(t.buf.substr(0, 9), "  12.3456");
    EXPECT_NE(t.buf.find("\t   35.1234\t 15 Jan 2026\t 12:00:0"), std::string::npos) << t.buf;
    EXPECT_FLOAT_EQ(ctd.tempC, 12.3456f);
    EXPECT_FLOAT_EQ(ctd.salt, 35.1234f);
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, 35.1234f);
    // Power-on, 900 ms to the wake-up, the instrument's 1.1 s sample, the line.
    EXPECT_GT(t.seconds, 2.0);
    EXPECT_LT(t.seconds, 2.2);
    EXPECT_EQ(output(), ""); // nothing on the console with diagnostics off
}

TEST_F(CtdSbe37, AtMostOneReplyByteIsTakenPerStep)
{
    begin({{"ctd", "sbe37"}, {"noise", "off"}});
    configure(CTD_TYPE_SBE37);
    int st = step_while(ctd_stateMachine, ctd_stateMachine(ST_CTD_INIT));
    ASSERT_EQ(st, ST_CTD_SBE37_RX);
    wait_ms(1500); // the whole reply waits in the receive ring
    unsigned int before = ctd.bufIndx;
    st = ctd_stateMachine(st);
    EXPECT_EQ(st, ST_CTD_SBE37_RX);
    EXPECT_EQ(ctd.bufIndx, before + 1);
    finish(ctd_stateMachine, st);
    EXPECT_EQ(ctd.state, 0);
}

TEST_F(CtdSbe37, SilentInstrumentTimesOutAfterThreeAndAHalfSeconds)
{
    begin({{"ctd", "sbe37"}, {"ctd_fault", "silent"}});
    configure(CTD_TYPE_SBE37);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD not responding with SBE37 data, check connection, make sure data config is SBE37");
    // 0.9 s to the command, 40 ms of command, 3.5 s.
    EXPECT_GT(t.seconds, 4.43);
    EXPECT_LT(t.seconds, 4.46);
    // No reading in this sample: the external pH uses the configured salinity.
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL);
    EXPECT_FLOAT_EQ(ctd.salt, 0.0f);
}

TEST_F(CtdSbe37, ReplyEndingWithoutCarriageReturnIsTerminatedAndParsed)
{
    // The line runs straight into "<Executed/>": '<' ends the collection.
    begin({{"ctd", "sbe37"}, {"noise", "off"}, {"ctd_fault", "no-line-end"}});
    configure(CTD_TYPE_SBE37);
    std::memset(ctd.buf, 'x', sizeof ctd.buf); // an earlier, longer text
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, 0);
    EXPECT_TRUE(t.terminated);
    EXPECT_EQ(t.buf.find('x'), std::string::npos) << t.buf;
    EXPECT_EQ(count_of(t.buf, '\t'), 4) << t.buf;
    EXPECT_FLOAT_EQ(ctd.salt, 33.5f);
    EXPECT_FALSE(t.power_on);
}

TEST_F(CtdSbe37, LineOver127BytesOverflowsWithItsText)
{
    begin({{"ctd", "sbe37"}, {"ctd_fault", "long-line"}});
    configure(CTD_TYPE_SBE37);
    sys_data.diag = 1;
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_EQ(ctd.type, 0u);
    EXPECT_EQ(ctd.bufIndx, 127u);
    EXPECT_EQ(t.buf, "ST7: error in ctd driver bufIndx exceeds buf size, ctd");
    EXPECT_FALSE(t.power_on);
    EXPECT_NE(output().find("\r\nST7: error in ctd driver bufIndx exceeds buf size, ctd\r\n"),
              std::string::npos);
}

TEST_F(CtdSbe37, NonsenseReplyFailsTheParseAndTheSampleUsesTheDefaultSalinity)
{
    begin({{"ctd", "sbe37"}, {"ctd_fault", "garbage"}});
    configure(CTD_TYPE_SBE37);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD Err: SBE37 reply is not temperature, conductivity, salinity, date, time");
    EXPECT_FLOAT_EQ(ctd.tempC, 0.0f);
    EXPECT_FLOAT_EQ(ctd.salt, 0.0f);
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL);
    EXPECT_NE(
        output().find("\r\nError:  sscanf for parsing MicroCat does not return 5 args.  ctd.state = 3.  "
                      "TempC and salt are 0.0\r\n"),
        std::string::npos);
    EXPECT_EQ(ctd_qa_test(), 0u);
}

TEST_F(CtdSbe37, InstrumentAtAnotherBaudRateGivesNoReading)
{
    begin({{"ctd", "sbe37"}, {"ctd_fault", "wrong-baud"}});
    configure(CTD_TYPE_SBE37);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_TRUE(t.terminated);
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL);
}

TEST_F(CtdSbe37, ReplyStartingWithAngleBracketEndsAtOnce)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_SBE37);
    test::ScriptedLine line(UART4_BASE);
    line.attach();
    int st = step_while(ctd_stateMachine, ctd_stateMachine(ST_CTD_INIT));
    ASSERT_EQ(st, ST_CTD_SBE37_RX);
    EXPECT_EQ(line.got, "\rts\r"); // wake-up, then the command
    line.send("<ERROR type='INVALID COMMAND'/>\r\n");
    wait_ms(50);
    st = ctd_stateMachine(st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(ctd.bufIndx, 0u);
    EXPECT_EQ(ctd.state, -1); // an empty text is no reading
    EXPECT_FALSE(sim::gpio_level('D', 0));
}

TEST_F(CtdSbe37, ReplyOfAnotherShapeIsNoReading)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_SBE37);
    const char* const bad[] = {
        "  12.0000\t  3.84585\t 28 Jan 2026\t 12:00:02",                        // salinity output off
        "  12.0000\t\t   35.1234\t 28 Jan 2026\t 12:00:02",                     // empty conductivity
        "  12.0000\t  3.84585\t   10.250\t   35.1234\t 28 Jan 2026\t 12:00:02", // pressure on
        "  12.0000\t  3.84585\t   35.12x4\t 28 Jan 2026\t 12:00:02",            // not a number
        "  12.0000\t  3.84585\t   35.1234\t 28 Jan 2026\t ",                    // no time
    };
    for (const char* reply : bad) {
        std::strcpy(ctd.buf, reply);
        sys_samp.sensor_sal = 20.0f;
        EXPECT_FALSE(ctd_microCat_parseData()) << reply;
        EXPECT_FLOAT_EQ(ctd.salt, 0.0f) << reply;
        EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL) << reply;
    }
    std::strcpy(ctd.buf, "  12.0000\t  3.84585\t   35.1234\t 28 Jan 2026\t 12:00:02");
    EXPECT_TRUE(ctd_microCat_parseData());
    EXPECT_FLOAT_EQ(ctd.salt, 35.1234f);
}

TEST_F(CtdSbe37, ControlBytesOfTheReplyDoNotReachTheRecordText)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_SBE37);
    test::ScriptedLine line(UART4_BASE);
    line.attach();
    int st = step_while(ctd_stateMachine, ctd_stateMachine(ST_CTD_INIT));
    ASSERT_EQ(st, ST_CTD_SBE37_RX);
    line.send("  12.0000,  3.84585,   35.1234, 28 Jan\x1b 2026, 12:00:02\x07\xff\r\n");
    finish(ctd_stateMachine, st);
    EXPECT_EQ(ctd.state, 0);
    EXPECT_STREQ(ctd.buf, "  12.0000\t  3.84585\t   35.1234\t 28 Jan? 2026\t 12:00:02??");
}

// --- Aanderaa 5860 ----------------------------------------------------------------

TEST_F(Ctd5860, NumericReplyGivesConductivityTemperatureAndSalinity)
{
    begin({{"ctd", "aand5860"}, {"noise", "off"}});
    configure(CTD_TYPE_AAND5860);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, 0);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(ctd.type, 2u);
    EXPECT_EQ(t.buf.substr(0, 8), "5860\t29\t");
    EXPECT_EQ(count_of(t.buf, '\t'), 7) << t.buf;
    EXPECT_NEAR(ctd.condo, sim::pss78_conductivity(33.5, 12.0), 0.0006);
    EXPECT_FLOAT_EQ(ctd.tempC, 12.0f);
    EXPECT_FLOAT_EQ(ctd.salt, 33.5f);
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, 33.5f);
    // '%' after 450 ms, the sensor's 700 ms measurement, the reply.
    EXPECT_GT(t.seconds, 1.2);
    EXPECT_LT(t.seconds, 1.3);
    EXPECT_EQ(output(), "");
}

TEST_F(Ctd5860, HandshakeCommandAndTheDesignsExampleReply)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_AAND5860);
    test::ScriptedLine line(UART4_BASE);
    line.attach();
    int st = ctd_stateMachine(ST_CTD_INIT);
    ASSERT_EQ(st, ST_CTD_PWR_RESP);
    line.send("x%!"); // a byte before '%' is ignored
    st = step_while(ctd_stateMachine, st);
    ASSERT_EQ(st, ST_CTD_AAND_RX);
    wait_ms(15);                                                 // the command leaves the transmitter
    EXPECT_EQ(line.got, std::string("\r\ndo sample\r\n\0", 14)); // CR LF, then exactly twelve bytes
    line.send("5860\t29\t-0.003\t16.892\t0.009\t998.802\t1472.435\t\r\n#");
    finish(ctd_stateMachine, st);
    EXPECT_EQ(ctd.state, 0);
    EXPECT_FLOAT_EQ(ctd.condo, -0.003f);
    EXPECT_FLOAT_EQ(ctd.tempC, 16.892f);
    EXPECT_FLOAT_EQ(ctd.salt, 0.009f);
    // The numbers up to the last tab; the salinity of the 5860 in air is
    // outside the seawater model: the pH takes the default, and the text says so.
    EXPECT_STREQ(ctd.buf,
                 "5860\t29\t-0.003\t16.892\t0.009\t998.802\t1472.435\t Sal out of 2-42, pH uses 31.250");
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL);
    EXPECT_FALSE(sim::gpio_level('D', 0));
}

TEST_F(Ctd5860, DescriptorTextFailsTheParse)
{
    begin({{"ctd", "aand5860"}, {"aand5860_text", "on"}});
    configure(CTD_TYPE_AAND5860);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD Err: Aanderaa 5860 reply is not numeric, check its setup (enable text off)");
    EXPECT_FLOAT_EQ(ctd.condo, 0.0f);
    EXPECT_FLOAT_EQ(ctd.tempC, 0.0f);
    EXPECT_FLOAT_EQ(ctd.salt, 0.0f);
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL);
    std::string out = output();
    EXPECT_NE(
        out.find("\r\nError:  sscanf for parsing Aanderaa 5860 does not return 7 args.  ctd.type = 2.  TempC "
                 "and salt are 0.0\r\n"),
        std::string::npos);
    EXPECT_NE(out.find("Check setup of Aanderaa 5860"), std::string::npos);
}

TEST_F(Ctd5860, ParserOnTheDesignsDescriptorTextForm)
{
    begin({{"ctd", "none"}});
    std::strcpy(ctd.buf,
                "MEASUREMENT     5860    29      Conductivity[mS/cm]     -0.000  Temperature[Deg.C]      "
                "16.021  Salinity[PSU]   0.008");
    EXPECT_FALSE(ctd_Aand5860_parseData());
    std::strcpy(ctd.buf, "5860 29 -0.003 16.892 0.009 998.802 1472.435");
    EXPECT_TRUE(ctd_Aand5860_parseData());
    EXPECT_FLOAT_EQ(ctd.salt, 0.009f);
    std::strcpy(ctd.buf, "5860\t29\t-0.003\t16.892\t0.009\t998.802"); // six fields
    EXPECT_FALSE(ctd_Aand5860_parseData());
}

TEST_F(Ctd5860, NoPercentWithinTwoAndAHalfSeconds)
{
    begin({{"ctd", "aand5860"}, {"ctd_fault", "silent"}});
    configure(CTD_TYPE_AAND5860);
    sys_data.diag = 1;
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD not responding with Aanderaa % then ! after powerup");
    EXPECT_GT(t.seconds, 2.49);
    EXPECT_LT(t.seconds, 2.52);
    EXPECT_NE(output().find("No CTD response in 2.5sec"), std::string::npos);
}

TEST_F(Ctd5860, WaitForTheBangIsBounded)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_AAND5860);
    test::ScriptedLine line(UART4_BASE);
    line.attach();
    int st = ctd_stateMachine(ST_CTD_INIT);
    line.send("%");
    wait_ms(5);
    sim::Time t0 = sim::now();
    st = ctd_stateMachine(st); // takes '%', answers CR LF, waits for '!'
    EXPECT_EQ(st, 0);
    test::Transaction t = ctd_end(t0);
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD not responding with Aanderaa ! after crlf following %");
    EXPECT_GT(t.seconds, 1.99);
    EXPECT_LT(t.seconds, 2.01);
    EXPECT_EQ(line.got, "\r\n");
}

TEST_F(Ctd5860, ByteOtherThanBangAfterCrLfFails)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_AAND5860);
    sys_data.diag = 1;
    test::ScriptedLine line(UART4_BASE);
    line.attach();
    int st = ctd_stateMachine(ST_CTD_INIT);
    line.send("%?");
    finish(ctd_stateMachine, st);
    EXPECT_EQ(ctd.state, -1);
    EXPECT_FALSE(sim::gpio_level('D', 0));
    EXPECT_STREQ(ctd.buf, "CTD not responding with Aanderaa ! after crlf following %");
    EXPECT_NE(output().find("CTD Err: did not receive ! after crlf following %\r\n"), std::string::npos);
}

TEST_F(Ctd5860, NoReplyWithinFiveSecondsOfTheCommand)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_AAND5860);
    test::ScriptedLine line(UART4_BASE);
    line.attach();
    int st = ctd_stateMachine(ST_CTD_INIT);
    line.send("%!");
    st = step_while(ctd_stateMachine, st);
    ASSERT_EQ(st, ST_CTD_AAND_RX);
    sim::Time t0 = sim::now();
    finish(ctd_stateMachine, st);
    test::Transaction t = ctd_end(t0);
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD not responding with sample string after do sample");
    EXPECT_GT(t.seconds, 4.99);
    EXPECT_LT(t.seconds, 5.01);
}

TEST_F(Ctd5860, GapOf50msInsideTheReply)
{
    begin({{"ctd", "aand5860"}, {"ctd_fault", "gap"}});
    configure(CTD_TYPE_AAND5860);
    sys_data.diag = 1;
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD driver Err: inter-character delay exceeded 50msec receiving do_sample string");
    // The gap comes after half of the line; the driver gives up within 50 ms.
    EXPECT_LT(t.seconds, 1.28);
    EXPECT_NE(output().find("inter-character delay exceeded 50msec"), std::string::npos);
}

TEST_F(Ctd5860, ReplyOver127BytesOverflows)
{
    begin({{"ctd", "aand5860"}, {"ctd_fault", "long-line"}});
    configure(CTD_TYPE_AAND5860);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(ctd.bufIndx, 127u);
    EXPECT_EQ(t.buf, "CTD driver Err: do_sample string exceeds buf size");
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL);
}

TEST_F(Ctd5860, ReplyWithoutLineEndIsTerminated)
{
    begin({{"ctd", "aand5860"}, {"noise", "off"}, {"ctd_fault", "no-line-end"}});
    configure(CTD_TYPE_AAND5860);
    std::memset(ctd.buf, 'x', sizeof ctd.buf);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, 0);
    EXPECT_TRUE(t.terminated);
    EXPECT_EQ(t.buf.substr(0, 8), "5860\t29\t");
    EXPECT_EQ(t.buf.back(), '\t');
    EXPECT_FLOAT_EQ(ctd.salt, 33.5f);
}

TEST_F(Ctd5860, WrongBaudRateAndNonsense)
{
    begin({{"ctd", "aand5860"}, {"ctd_fault", "wrong-baud"}});
    configure(CTD_TYPE_AAND5860);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD not responding with Aanderaa % then ! after powerup");
}

// --- Both types ---------------------------------------------------------------------

TEST_F(CtdCommon, TypeWithoutDriverIsRefusedWithPowerOff)
{
    begin({{"ctd", "sbe37"}});
    configure(3);
    sim::Time t0 = sim::now();
    EXPECT_EQ(ctd_stateMachine(ST_CTD_INIT), 0);
    test::Transaction t = ctd_end(t0);
    EXPECT_EQ(t.result, 0); // refused, not failed
    EXPECT_EQ(ctd.type, 0u);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD Err: no driver for CTD type 3, Config -> Data Fields");
    EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL);
    EXPECT_EQ(
        output(),
        "Error: sys_data.data_cfg[CFG_CTD] = 3, no driver for this CTD type, Config -> Data Fields\r\n");
}

TEST_F(CtdCommon, ConfiguredTypeDifferentFromTheAttachedOne)
{
    // A 5860 on the port, the configuration says SBE37, and the reverse.
    begin({{"ctd", "aand5860"}});
    configure(CTD_TYPE_SBE37);
    test::Transaction t = run_ctd();
    EXPECT_EQ(t.result, -1);
    EXPECT_FALSE(t.power_on);
    EXPECT_EQ(t.buf, "CTD not responding with SBE37 data, check connection, make sure data config is SBE37");
}

TEST_F(CtdCommon, UnknownStateEndsInFailureWithPowerOff)
{
    begin({{"ctd", "sbe37"}});
    pwr_ctd_on();
    EXPECT_EQ(ctd_stateMachine(9), 0);
    EXPECT_EQ(ctd.state, -1);
    EXPECT_EQ(ctd.type, 0u);
    EXPECT_FALSE(sim::gpio_level('D', 0));
    EXPECT_NE(std::memchr(ctd.buf, '\0', sizeof ctd.buf), nullptr);
}

TEST_F(CtdCommon, QaCheckPassesWithAWorkingInstrument)
{
    begin({{"ctd", "aand5860"}});
    configure(CTD_TYPE_AAND5860);
    EXPECT_EQ(ctd_qa_test(), 1u);
    EXPECT_FALSE(sim::gpio_level('D', 0));
    configure(CTD_TYPE_SBE37);
    EXPECT_EQ(ctd_qa_test(), 0u);
}

TEST_F(CtdCommon, SalinityOutsideTheSeawaterModelGivesThePhTheDefault)
{
    begin({{"ctd", "none"}});
    configure(CTD_TYPE_SBE37);
    struct Case {
        const char* sal;
        bool used;
    };
    for (Case c : {Case{"1.99", false}, Case{"2.0", true}, Case{"42.0", true}, Case{"42.01", false},
                   Case{"-5", false}, Case{"999", false}}) {
        std::snprintf(ctd.buf, sizeof ctd.buf, "  12.0000\t  3.84585\t %s\t 28 Jan 2026\t 12:00:02", c.sal);
        ASSERT_TRUE(ctd_microCat_parseData()) << c.sal;
        const std::string text = ctd.buf;
        EXPECT_FLOAT_EQ(ctd.salt, std::strtof(c.sal, nullptr)); // the record keeps the instrument's value
        if (c.used) {
            EXPECT_FLOAT_EQ(sys_samp.sensor_sal, std::strtof(c.sal, nullptr)) << c.sal;
            EXPECT_EQ(text.find("Sal out"), std::string::npos) << text;
        } else {
            EXPECT_FLOAT_EQ(sys_samp.sensor_sal, DEFAULT_SAL) << c.sal;
            EXPECT_NE(text.find("12:00:02 Sal out of 2-42, pH uses 31.250"), std::string::npos) << text;
        }
    }
}

TEST_F(CtdCommon, ReceiveWaitWithAndWithoutLimit)
{
    begin({{"ctd", "sbe37"}});
    ctd_init();
    ctd_open();
    // Nothing for 250 ms (the SBE37 boots): a limit of 5 ticks runs out.
    EXPECT_EQ(wait_ctdRx(5), 5u);
    // No limit: until the banner's first byte, about 250 ms after power-on.
    uint32_t waited = wait_ctdRx(0);
    EXPECT_GE(waited, 19u);
    EXPECT_LE(waited, 21u);
    EXPECT_GT(ctd_rxBytesAvail(), 0);
    ctd_close();
}

// --- Operator tools -------------------------------------------------------------------

TEST_F(CtdTools, Sbe37PassThroughTalksToTheInstrumentAndEndsOnCtrlX)
{
    begin({{"ctd", "sbe37"}, {"noise", "off"}});
    type_later(600, "ts\r");
    type_later(2500, "\x18");
    ctd_microCat_comm_test();
    EXPECT_FALSE(sim::gpio_level('D', 0));
    std::string out = output();
    EXPECT_NE(out.find("*Press CTRL-X to stop communicating with the SBE37 MicroCAT.*"), std::string::npos);
    EXPECT_NE(out.find("SBE37-SM V 2.6  SERIAL NO. 12345"), std::string::npos) << out;
    EXPECT_NE(out.find("S>ts\r\n"), std::string::npos) << out; // the instrument's echo
    EXPECT_NE(out.find("  12.0000,"), std::string::npos) << out;
}

TEST_F(CtdTools, PassThroughsNeverSendCtrlX)
{
    begin({{"ctd", "none"}});
    test::ScriptedLine line(UART4_BASE);
    line.attach();
    type_later(100, "ds\r\x18");
    ctd_microCat_comm_test();
    wait_ms(10); // the last bytes leave the transmitter
    EXPECT_EQ(line.got, "ds\r");
    EXPECT_FALSE(sim::gpio_level('D', 0));

    // The Aanderaa pass-through turns the console's carriage return into CR LF.
    line.got.clear();
    type_later(100, "do sample\r\x18");
    ctd_Aand5860_comm_test();
    wait_ms(20);
    EXPECT_EQ(line.got, "do sample\r\n");
    EXPECT_FALSE(sim::gpio_level('D', 0));
    std::string out = output();
    EXPECT_NE(
        out.find("set passkey(1000)\r\nset mode(smart sensor terminal)\r\nset enable polled mode(yes)\r\n"
                 "save\r\n\r\n"),
        std::string::npos);
    EXPECT_NE(out.find("*Press CTRL-X to stop communicating with the Conductivity instrument.*"),
              std::string::npos);
}

TEST_F(CtdTools, AanderaaAnalyzerPrintsBytesAndTimesAndAnswersTheHandshake)
{
    begin({{"ctd", "aand5860"}, {"noise", "off"}});
    type_later(2000, "\x18\x18"); // the second Ctrl-X ends the analyzer
    ctd_aanderaa_serial_analyzer();
    EXPECT_FALSE(sim::gpio_level('D', 0));
    std::string out = output();
    EXPECT_EQ(out.find("ctd serial analyzer, bytes and times  Ctrl-X to quit\r\nopen\r\n"), 0u) << out;
    EXPECT_NE(out.find("RX: % [0x25]  time = 450 msec\r\nTX: crlf \r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("RX: ! [0x21]  time = "), std::string::npos);
    EXPECT_NE(out.find("TX: crlf do sample crlf \r\n"), std::string::npos);
    EXPECT_NE(out.find("RX: 5 [0x35]  time = "), std::string::npos); // the reply begins
    EXPECT_NE(out.find("RX: . [0x0d]"), std::string::npos);          // its CR, shown by its value
    EXPECT_NE(out.find("RX: # [0x23]"), std::string::npos);
    EXPECT_EQ(test::count(out, "open\r\n"), 1);
}

TEST_F(CtdTools, MicrocatAnalyzerWakesAndPollsAndPowerCycles)
{
    begin({{"ctd", "sbe37"}, {"noise", "off"}});
    type_later(2500, "\x18");
    type_later(3500, "\x18"); // after the 500 ms pause: one more cycle
    type_later(3600, "\x18\x18");
    ctd_microcat_serial_analyzer();
    EXPECT_FALSE(sim::gpio_level('D', 0));
    std::string out = output();
    EXPECT_EQ(out.find("ctd microcat serial analyzer, bytes and times  Ctrl-X to quit\r\nopen\r\n"), 0u);
    EXPECT_NE(out.find("RX: S [0x53]  time = "), std::string::npos);
    EXPECT_NE(out.find("TX: crlf \r\n"), std::string::npos);
    EXPECT_NE(out.find("TX: ts cr \r\n"), std::string::npos);
    EXPECT_EQ(test::count(out, "open\r\n"), 2);
}

} // namespace
