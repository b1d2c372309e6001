// The console at its limits: a full receive ring, a ring that has wrapped,
// time-limited input that must end on time whatever arrives, and output that
// races the console interrupt.
#include "serial/user_io.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "serial/uart4.h"
#include "serial/uartstdio.h"
#include "tests/support/bench.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TimedInput = test::BenchTest;
using WrappedRing = test::BenchTest;
using ConsoleOutput = test::BenchTest;

const std::string MENU = "\r\n\r\n\r\nMain Menu -- v4.1.2 Varve revB -- Will sleep in 30 seconds"
                         "\r\n1 -- Configure\r\n2 -- Deploy\r\n3 -- Test\r\n4 -- Sleep\r\n5 -- Files\r\nH -- "
                         "Help\r\nEnter Selection: ";
const std::string SLEEPING = "\r\n\r\nSleeping...*";

constexpr int RX_RING_HOLDS = 511;

const std::string TEXT = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Collects what the board sends on an instrument port.
struct Capture : sim::UartPeer {
    std::string bytes;
    void uart_from_board(uint8_t b) override { bytes.push_back(static_cast<char>(b)); }
};

// Sends two bytes to the board on `uart`, so that its receive interrupt is
// raised two byte times from now, and lets time pass until `lead` ns before
// that moment.
void interrupt_in(uint32_t uart, uint32_t baud, sim::Time lead)
{
    static const uint8_t two[2] = {'r', 's'};
    sim::Time sent = sim::now();
    sim::uart_send_to_board(uart, two, sizeof two);
    sim::consume(sent + 2 * (10 * sim::NS_PER_S / baud) - lead - sim::now());
}

// Types `bytes` on the console `delay` from now.
void type_later(sim::Time delay, const std::string& bytes)
{
    sim::schedule_in(delay, [bytes] { sim::bench_type(bytes); });
}

} // namespace

// A full ring without a carriage return: the ring drops every further byte,
// the Enter included, so no line can complete; the wait ends at its limit all
// the same, even while input keeps coming and a terminator arrives later.
TEST_F(TimedInput, FullRingWithoutTerminatorEndsAtTheLimit)
{
    type(std::string(600, 'n'));
    wait_ms(100);
    ASSERT_EQ(UARTRxBytesAvail(), RX_RING_HOLDS);
    for (int s = 1; s <= 8; ++s) {
        type_later(static_cast<sim::Time>(s) * sim::NS_PER_S / 2, "noise");
    }
    type_later(5 * sim::NS_PER_S, "\r");

    char buf[81] = "keep";
    sim::Time t0 = sim::now();
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 2), -1);
    sim::Time took = sim::now() - t0;
    // More than 2 whole clock seconds after the second it started in.
    EXPECT_GT(took, 2 * sim::NS_PER_S);
    EXPECT_LE(took, 3 * sim::NS_PER_S + sim::NS_PER_MS);
    EXPECT_STREQ(buf, "keep");
    // Nothing was read: the caller decides what to do with the ring.
    EXPECT_EQ(UARTRxBytesAvail(), RX_RING_HOLDS);
}

// A line longer than the ring whose Enter comes after the limit: the limit
// holds; once the caller discards the input, the next line is read normally.
TEST_F(TimedInput, LongLineThatEndsLateTimesOutOnTime)
{
    type(std::string(300, 'a'));
    for (int s = 1; s <= 6; ++s) {
        type_later(static_cast<sim::Time>(s) * sim::NS_PER_S / 2, std::string(50, 'b'));
    }
    type_later(4 * sim::NS_PER_S, "\r");

    char buf[81] = "keep";
    sim::Time t0 = sim::now();
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 2), -1);
    sim::Time took = sim::now() - t0;
    EXPECT_GT(took, 2 * sim::NS_PER_S);
    EXPECT_LE(took, 3 * sim::NS_PER_S + sim::NS_PER_MS);
    EXPECT_STREQ(buf, "keep");

    wait_ms(2000); // the rest of the line and its (dropped) Enter
    UARTFlushRx();
    type("ok\r");
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 2), 2);
    EXPECT_STREQ(buf, "ok");
}

// A line within the ring that ends before the limit is read whole.
TEST_F(TimedInput, LongLineWithinTheRingIsReadWhenItEnds)
{
    type(std::string(200, 'c'));
    type_later(sim::NS_PER_S, std::string(100, 'd') + "\r");
    char buf[81];
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 2), 80);
    EXPECT_EQ(std::string(buf), std::string(80, 'c'));
    EXPECT_EQ(UARTRxBytesAvail(), 0);
}

// An operator pastes more than the ring holds into the main menu, then
// presses Enter: the menu reads its key, shows itself again and still goes to
// sleep after its time-out.
TEST(MenuInput, PasteLongerThanTheRingStillEndsInSleep)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir("menu-paste");
    const std::string paste(600, 'k');
    auto r = test::run_script(o, "1 " + paste + "\\r\n", 40);
    EXPECT_EQ(test::count(r.transcript, MENU), 2);
    // The ring may drop a byte at the moment it fills; the Enter gets in.
    EXPECT_GE(test::count(r.transcript, "k"), RX_RING_HOLDS);
    EXPECT_NE(r.transcript.find("k\n\r" + MENU), std::string::npos);
    const std::string tail = MENU + SLEEPING;
    ASSERT_GE(r.transcript.size(), tail.size());
    EXPECT_EQ(r.transcript.substr(r.transcript.size() - tail.size()), tail);
}

// Line input after both ring indices have gone round: the read index at 508,
// earlier lines (carriage returns included) still in the ring's memory behind
// it, the write index wrapping to 0 and a backspace stepping it back to 511.
TEST_F(WrappedRing, EditingPeekAndTimedInputAcrossTheEnd)
{
    char line[16];
    for (int i = 0; i < 46; ++i) {
        type("0123456789\r");
        ASSERT_EQ(UARTgets(line, sizeof line), 10);
    }
    type("x\r");
    ASSERT_EQ(UARTgets(line, sizeof line), 1); // both indices now at 508
    clear();

    type("abcd"); // 508..511: the write index wraps to 0
    wait_ms(2);
    EXPECT_EQ(UARTRxBytesAvail(), 4);
    type("\b"); // back from 0 to 511
    wait_ms(2);
    EXPECT_EQ(UARTRxBytesAvail(), 3);
    type("DEF"); // 511, 0, 1
    wait_ms(2);
    EXPECT_EQ(output(), "abcd\b \bDEF");
    EXPECT_EQ(UARTRxBytesAvail(), 6);

    EXPECT_EQ(UARTPeek('a'), 0);
    EXPECT_EQ(UARTPeek('D'), 3);
    EXPECT_EQ(UARTPeek('E'), 4);
    EXPECT_EQ(UARTPeek('F'), 5);
    EXPECT_EQ(UARTPeek('d'), -1);  // taken back
    EXPECT_EQ(UARTPeek('7'), -1);  // earlier lines, already read
    EXPECT_EQ(UARTPeek('\r'), -1); // their Enters, behind the read index

    // The old Enters do not complete the line being typed; the new one,
    // after the limit, does.
    type_later(3 * sim::NS_PER_S, "\r");
    char buf[81] = "keep";
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 1), -1);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 5), 6);
    EXPECT_STREQ(buf, "abcDEF");
    EXPECT_EQ(UARTRxBytesAvail(), 0);
}

// The port's interrupt arrives while the main program moves queued output
// into the transmit FIFO.  Two received bytes raise the receive interrupt at
// a moment swept across the whole write; whatever instruction it lands on,
// every byte goes out once and in order.
TEST_F(ConsoleOutput, WriteRacingTheInterruptSendsEveryByteOnce)
{
    UARTEchoSet(false);
    std::string expected;
    for (sim::Time lead = 0; lead < 2000; lead += 10) {
        settle();
        wait_ms(1);
        UARTFlushRx();
        interrupt_in(UART0_BASE, 115200, lead);
        ASSERT_EQ(UARTwrite(TEXT.data(), static_cast<uint32_t>(TEXT.size())), static_cast<int>(TEXT.size()));
        expected += TEXT;
    }
    settle();
    wait_ms(2);
    EXPECT_EQ(output(), expected);
}

TEST_F(ConsoleOutput, SingleBytesRacingTheInterruptGoOutOnce)
{
    Capture ctd;
    sim::uart_attach(UART4_BASE, &ctd);
    uart4_init();
    uart4_setup(9600, PIOSC_HZ);
    std::string expected;
    for (sim::Time lead = 0; lead < 2000; lead += 10) {
        wait_ms(70); // the previous round has gone out
        uart4_rx_bufr_flush();
        interrupt_in(UART4_BASE, 9600, lead);
        for (char c : TEXT.substr(0, 20)) {
            uart4_tx_byte(static_cast<unsigned char>(c));
        }
        expected += TEXT.substr(0, 20);
    }
    wait_ms(70);
    EXPECT_EQ(ctd.bytes, expected);
}
