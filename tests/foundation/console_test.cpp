// The buffered serial ports and the console helpers on the simulated UARTs.
#include "board/board_util.h"
#include "serial/user_io.h"
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "serial/uart3.h"
#include "serial/uart4.h"
#include "serial/uartstdio.h"
#include "tests/support/bench.h"

#include <cstring>
#include <string>

namespace {

// Collects what the board sends on an instrument port.
struct Capture : sim::UartPeer {
    std::string bytes;
    void uart_from_board(uint8_t b) override { bytes.push_back(static_cast<char>(b)); }
};

using Console = test::BenchTest;
using SensorPort = test::BenchTest;
using ConsoleHelpers = test::BenchTest;
using Timebase = test::BenchTest;

// Drains the console's receive ring into a string.
std::string rx_ring_contents()
{
    std::string s;
    while (UARTRxBytesAvail() > 0) {
        s.push_back(static_cast<char>(UARTgetc()));
    }
    return s;
}

} // namespace

TEST(RingRules, EmptyFullAndCountIncludingWrap)
{
    volatile uint32_t r = 0, w = 0;
    EXPECT_TRUE(IsBufferEmpty(&r, &w));
    w = 7;
    EXPECT_TRUE(IsBufferFull(&r, &w, 8)); // N - 1 bytes fill a ring of N
    EXPECT_EQ(GetBufferCount(&r, &w, 8), 7u);
    r = 6;
    w = 2; // wrapped
    EXPECT_FALSE(IsBufferFull(&r, &w, 8));
    EXPECT_EQ(GetBufferCount(&r, &w, 8), 4u);
    w = 5;
    EXPECT_TRUE(IsBufferFull(&r, &w, 8));
}

TEST_F(Console, TransmitRingTakesOneLessThanItsSize)
{
    EXPECT_EQ(UARTTxBytesFree(), 2048); // although at most 2047 fit
    std::string big(2048, 'x');
    // Stop the transmitter draining while the ring is filled.
    IntMasterDisable();
    IntDisable(INT_UART0);
    int queued = UARTwrite(big.data(), static_cast<uint32_t>(big.size()));
    IntEnable(INT_UART0);
    IntMasterEnable();
    EXPECT_EQ(queued, 2047);
    UARTFlushTx(false);
    EXPECT_EQ(UART_isTxEmpty(), 1);
    wait_ms(300);
    EXPECT_EQ(output().size(), static_cast<std::size_t>(queued));
}

TEST_F(Console, WritesBytesUntranslated)
{
    UARTwrite("AB\n", 3);
    wait_consoleTx();
    wait_ms(2);
    EXPECT_EQ(output(), "AB\n");
}

TEST_F(Console, EchoAndLineEditing)
{
    type("ab\bc\r");
    wait_ms(5);
    EXPECT_EQ(output(), "ab\b \bc\n\r");
    EXPECT_EQ(rx_ring_contents(), "ac\r");
    clear();
    type("\n"); // the LF of a CR LF pair is swallowed
    wait_ms(2);
    EXPECT_EQ(rx_ring_contents(), "");
    EXPECT_EQ(output(), "");
}

TEST_F(Console, LineFeedAfterCrIsSwallowedEvenWithACharacterBetween)
{
    type("\rx\n");
    wait_ms(5);
    EXPECT_EQ(rx_ring_contents(), "\rx");
}

TEST_F(Console, BackspaceOnAnEmptyRingIsIgnored)
{
    type("\b\b");
    wait_ms(2);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(UARTRxBytesAvail(), 0);
}

TEST_F(Console, GetsTruncatesAndConsumesTheRestOfTheLine)
{
    type("abcdef\rz");
    wait_ms(5);
    char buf[4];
    EXPECT_EQ(UARTgets(buf, 4), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(rx_ring_contents(), "z");
}

TEST_F(Console, PeekFindsPositionsWithoutConsuming)
{
    type("abc");
    wait_ms(2);
    EXPECT_EQ(UARTPeek('a'), 0);
    EXPECT_EQ(UARTPeek('c'), 2);
    EXPECT_EQ(UARTPeek('q'), -1);
    EXPECT_EQ(UARTRxBytesAvail(), 3);
}

TEST_F(Console, EchoOffStoresRawBytes)
{
    UARTEchoSet(false);
    type("a\b\r\n");
    wait_ms(2);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(rx_ring_contents(), "a\b\r\n");
}

TEST_F(Console, ReceiveRingHoldsAtMost511AndFlushEmptiesIt)
{
    UARTEchoSet(false);
    type(std::string(600, 'k'));
    wait_ms(80);
    EXPECT_EQ(UARTRxBytesAvail(), 511);
    UARTFlushRx();
    EXPECT_EQ(UARTRxBytesAvail(), 0);
}

TEST_F(SensorPort, LineFeedGoesOutAsCrLfAndEscEndsALineExceptOnTheOptodePort)
{
    Capture ctd;
    sim::uart_attach(UART4_BASE, &ctd);
    uart4_init();
    uart4_setup(9600, PIOSC_HZ);
    EXPECT_EQ(uart4_write("AB\n", 3), 3);
    uart4_tx_bufr_flush(false);
    wait_ms(10);
    EXPECT_EQ(ctd.bytes, "AB\r\n");

    const uint8_t reply[] = {'x', 0x1B, 'y', '\r'};
    sim::uart_send_to_board(UART4_BASE, reply, sizeof reply);
    wait_ms(10);
    char line[16];
    EXPECT_EQ(uart4_rx_str(line, sizeof line), 1);
    EXPECT_STREQ(line, "x");

    uart3_init();
    uart3_setup(9600, PIOSC_HZ);
    sim::uart_send_to_board(UART3_BASE, reply, sizeof reply);
    wait_ms(10);
    EXPECT_EQ(uart3_rx_str(line, sizeof line), 3);
    EXPECT_EQ(std::string(line), std::string("x\x1By"));
    // Echo of a sensor port is never on: nothing reached the console.
    EXPECT_EQ(output(), "");
}

TEST_F(SensorPort, EchoGoesBackOnThePortItTypedOnNotOnTheConsole)
{
    Capture ctd;
    sim::uart_attach(UART4_BASE, &ctd);
    uart4_init();
    uart4_setup(9600, PIOSC_HZ);
    uart4_echo_set(true);
    const uint8_t typed[] = {'a', 'b', '\b', 'c', '\r'};
    sim::uart_send_to_board(UART4_BASE, typed, sizeof typed);
    wait_ms(30);
    // Byte for byte, without the port's line-end translation of writes.
    EXPECT_EQ(ctd.bytes, "ab\b \bc\n\r");
    EXPECT_EQ(output(), "");
    char line[16];
    EXPECT_EQ(uart4_rx_str(line, sizeof line), 2);
    EXPECT_STREQ(line, "ac");
    uart4_echo_set(false);
}

TEST_F(SensorPort, FixedLengthReadTakesExactlyTheCount)
{
    uart3_init();
    uart3_setup(57600, PIOSC_HZ);
    const uint8_t frame[] = {1, 2, '\r', 4, 5};
    sim::uart_send_to_board(UART3_BASE, frame, sizeof frame);
    wait_ms(5);
    char buf[8] = {};
    EXPECT_EQ(uart3_rx_buf(buf, 4), 4);
    EXPECT_EQ(std::memcmp(buf, frame, 4), 0);
    EXPECT_EQ(uart3_rx_bytes_avail(), 1);
}

TEST_F(ConsoleHelpers, GetKeyTakesTheFirstCharacterOfALine)
{
    type("y\r");
    EXPECT_EQ(get_key(), 'y');
    type("\r");
    EXPECT_EQ(get_key(), 0);
    type("abcdef\r");
    EXPECT_EQ(get_key(), 'a');
    EXPECT_EQ(UARTRxBytesAvail(), 0);
}

TEST_F(ConsoleHelpers, YesOrNo)
{
    type("\r");
    EXPECT_EQ(yesOrNoMenuChoice("Sure? ", 0), 0);
    type("Y\r");
    EXPECT_EQ(yesOrNoMenuChoice("Sure? ", 0), 1);
    type("n\r");
    EXPECT_EQ(yesOrNoMenuChoice("Sure? ", 1), 0);
    type("q\r");
    EXPECT_EQ(yesOrNoMenuChoice("Sure? ", 1), 1);
    EXPECT_EQ(test::count(output(), "Sure? "), 4);
}

TEST_F(ConsoleHelpers, KbhitDiscardsPendingInput)
{
    EXPECT_EQ(kbhit(), 0);
    type("abc");
    wait_ms(2);
    EXPECT_EQ(kbhit(), 1);
    EXPECT_EQ(UARTRxBytesAvail(), 0);
}

TEST_F(ConsoleHelpers, DateEntryAcceptsAndRejects)
{
    // 12/31/24 23:59:59 local is 2024-12-31 23:59:59 + 6 h on the clock.
    type("12/31/24 23:59:59\r");
    uint32_t t = getDateAndTime();
    clear();
    print_time_t_Time(t);
    wait_ms(5);
    EXPECT_EQ(output(), "12/31/24 23:59:59");

    clear();
    type("01/01/00 00:00:60\r");
    t = getDateAndTime();
    clear();
    print_time_t_Time(t);
    wait_ms(5);
    EXPECT_EQ(output(), "01/01/00 00:01:00"); // second 60 normalises

    // Bad month (silently), short text (with the message), wrong separators
    // (silently), then Enter alone keeps the clock.
    clear();
    type("13/01/24 00:00:00\r1/1/24 00:00:00\r12-31-24 23:59:59\r\r");
    EXPECT_EQ(getDateAndTime(), 0u);
    std::string out = output();
    EXPECT_EQ(test::count(out, "Enter a valid time string as MM/DD/YY HH:MM:SS\r\n\r\n\r\n"), 1);
    EXPECT_EQ(test::count(out, "\r\n\r\nEnter time ["), 4);
}

TEST_F(ConsoleHelpers, TimedInputGivesUpAfterItsLimit)
{
    char buf[8] = "keep";
    uint32_t start = HibernateRTCGet();
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 2), -1);
    uint32_t waited = HibernateRTCGet() - start;
    EXPECT_GE(waited, 3u);
    EXPECT_LE(waited, 4u);
    EXPECT_STREQ(buf, "keep");

    type("ok\r");
    EXPECT_EQ(getUserInputTimeLimit(buf, sizeof buf, 2), 2);
    EXPECT_STREQ(buf, "ok");
}

TEST_F(ConsoleHelpers, GetcharTimedReturnsByteOrTimesOut)
{
    sim::Time t0 = sim::now();
    EXPECT_EQ(getchar_timed(1), -1);
    sim::Time took = sim::now() - t0;
    EXPECT_GE(took, 1000 * sim::NS_PER_MS);
    EXPECT_LE(took, 1020 * sim::NS_PER_MS); // 101 ticks of 10 ms at most
    type("Z");
    EXPECT_EQ(getchar_timed(1), 'Z');
}

TEST_F(ConsoleHelpers, PrintsAreCutAt255AndDebugIsGated)
{
    std::string long_text(300, 'q');
    EXPECT_EQ(uprintf("%s", long_text.c_str()), 300);
    wait_consoleTx();
    wait_ms(30);
    EXPECT_EQ(output(), std::string(255, 'q'));
    clear();
    dbg_flag = 0;
    EXPECT_EQ(dbg_printf("hidden"), 0);
    dbg_flag = 1;
    EXPECT_EQ(dbg_printf("shown"), 5);
    dbg_flag = 0;
    wait_consoleTx();
    wait_ms(2);
    EXPECT_EQ(output(), "shown");
}

TEST_F(Timebase, ResetRephasesTheTenMillisecondTick)
{
    // Stop the tick so the counters move only when this test steps them.
    SysTickDisable();
    for (int i = 0; i < 15; ++i) {
        SysTickHandler();
    }
    unsigned long ten = Timer_10ms(0);
    EXPECT_EQ(Timer_1ms(1), 0u);
    EXPECT_EQ(Timer_1ms(0), 0u);
    for (int i = 0; i < 9; ++i) {
        SysTickHandler();
    }
    EXPECT_EQ(Timer_10ms(0), ten);
    SysTickHandler(); // timer_1ms reaches 10
    EXPECT_EQ(Timer_10ms(0), ten + 1);
    // Only the low byte of the argument counts.
    EXPECT_EQ(Timer_1ms(0x100), 10u);
}

TEST_F(Timebase, DelaysTakeTheirTime)
{
    sim::Time t0 = sim::now();
    delay_msec(25);
    sim::Time took = sim::now() - t0;
    EXPECT_GE(took, 25 * sim::NS_PER_MS);
    EXPECT_LT(took, 26 * sim::NS_PER_MS);
}

TEST_F(Timebase, LedsAndCardDetect)
{
    led_red_on();
    led_red_toggle();
    EXPECT_EQ(ledRedState, 0u);
    EXPECT_FALSE(sim::gpio_level('P', 2));
    sim::gpio_drive('L', 5, false);
    EXPECT_EQ(uSD_present(), 1);
    sim::gpio_drive('L', 5, true);
    EXPECT_EQ(uSD_present(), 0);
}
