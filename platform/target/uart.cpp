// Target backend: UART0 to UART7.
#include "platform/platform.h"
#include "platform/target/target_wait.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

// Longest time the transmitter may still be shifting out when the UART is
// disabled: a full 16-byte FIFO plus the shift register at 4800 baud is
// about 35 ms.
constexpr uint32_t UART_DRAIN_LIMIT_US = 100000;
// Longest wait for room in the transmit FIFO (UARTCharPut).
constexpr uint32_t UART_TX_ROOM_LIMIT_US = 100000;

bool valid_uart(uint32_t base)
{
    return base >= UART0_BASE && base <= UART7_BASE && (base & 0xFFFu) == 0;
}

inline RegRef uart(uint32_t base, uint32_t offset)
{
    return reg(base + offset);
}

} // namespace

// Baud divisor = clock / (16 * baud) (or / 8 with high-speed mode) as a
// 16.6 fixed-point number: IBRD holds the integer part, FBRD the 6-bit
// fraction, rounded to nearest.  The write of LCRH latches both.
void UARTConfigSetExpClk(uint32_t ui32Base, uint32_t ui32UARTClk, uint32_t ui32Baud, uint32_t ui32Config)
{
    if (!valid_uart(ui32Base) || ui32Baud == 0 || ui32UARTClk == 0) {
        return;
    }
    UARTDisable(ui32Base);

    uint64_t clock = ui32UARTClk;
    bool high_speed = static_cast<uint64_t>(ui32Baud) * 16 > clock;
    if (high_speed) {
        clock *= 2; // dividing by 8 instead of 16
    }
    uint64_t divisor = (clock * 8 / ui32Baud + 1) / 2; // clock * 64 / (16 * baud), rounded
    if (divisor < 64) {
        divisor = 64; // fastest rate the UART can make
    }
    if (divisor > 0xFFFFu * 64 + 63) {
        divisor = 0xFFFFu * 64 + 63;
    }

    uint32_t ctl = uart(ui32Base, UART_CTL);
    uart(ui32Base, UART_CTL) = high_speed ? (ctl | UART_CTL_HSE) : (ctl & ~UART_CTL_HSE);
    uart(ui32Base, UART_IBRD) = static_cast<uint32_t>(divisor >> 6);
    uart(ui32Base, UART_FBRD) = static_cast<uint32_t>(divisor & 63u);
    uart(ui32Base, UART_LCRH) = ui32Config & UART_LCRH_CONFIG_MASK;
    uart(ui32Base, UART_ICR) = 0x7F2u; // stale interrupt flags

    UARTEnable(ui32Base);
}

void UARTFIFOLevelSet(uint32_t ui32Base, uint32_t ui32TxLevel, uint32_t ui32RxLevel)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    uart(ui32Base, UART_IFLS) = (ui32TxLevel & 0x7u) | (ui32RxLevel & 0x38u);
}

void UARTClockSourceSet(uint32_t ui32Base, uint32_t ui32Source)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    uart(ui32Base, UART_CC) = ui32Source & 0xFu;
}

void UARTEnable(uint32_t ui32Base)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    uart(ui32Base, UART_LCRH) = uart(ui32Base, UART_LCRH) | UART_LCRH_FEN;
    uart(ui32Base, UART_CTL) = uart(ui32Base, UART_CTL) | UART_CTL_UARTEN | UART_CTL_TXE | UART_CTL_RXE;
}

// Lets the transmitter finish (bounded), then turns the FIFOs and the
// UART off.
void UARTDisable(uint32_t ui32Base)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    if ((uart(ui32Base, UART_CTL) & UART_CTL_UARTEN) != 0) {
        target::wait_us([=] { return (uart(ui32Base, UART_FR) & UART_FR_BUSY) == 0; }, UART_DRAIN_LIMIT_US,
                        ui32Base + UART_FR);
    }
    uart(ui32Base, UART_LCRH) = uart(ui32Base, UART_LCRH) & ~UART_LCRH_FEN;
    uart(ui32Base, UART_CTL) = uart(ui32Base, UART_CTL) & ~(UART_CTL_UARTEN | UART_CTL_TXE | UART_CTL_RXE);
}

void UARTIntEnable(uint32_t ui32Base, uint32_t ui32IntFlags)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    uart(ui32Base, UART_IM) = uart(ui32Base, UART_IM) | ui32IntFlags;
}

void UARTIntDisable(uint32_t ui32Base, uint32_t ui32IntFlags)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    uart(ui32Base, UART_IM) = uart(ui32Base, UART_IM) & ~ui32IntFlags;
}

uint32_t UARTIntStatus(uint32_t ui32Base, bool bMasked)
{
    if (!valid_uart(ui32Base)) {
        return 0;
    }
    return bMasked ? uart(ui32Base, UART_MIS) : uart(ui32Base, UART_RIS);
}

void UARTIntClear(uint32_t ui32Base, uint32_t ui32IntFlags)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    uart(ui32Base, UART_ICR) = ui32IntFlags;
}

bool UARTCharsAvail(uint32_t ui32Base)
{
    if (!valid_uart(ui32Base)) {
        return false;
    }
    return (uart(ui32Base, UART_FR) & UART_FR_RXFE) == 0;
}

// The received byte with its error flags (bits 8-11), or -1 when the
// receive FIFO is empty.
int32_t UARTCharGetNonBlocking(uint32_t ui32Base)
{
    if (!UARTCharsAvail(ui32Base)) {
        return -1;
    }
    return static_cast<int32_t>(uart(ui32Base, UART_DR) & UART_DR_DATA_AND_ERRORS);
}

bool UARTSpaceAvail(uint32_t ui32Base)
{
    if (!valid_uart(ui32Base)) {
        return false;
    }
    return (uart(ui32Base, UART_FR) & UART_FR_TXFF) == 0;
}

bool UARTCharPutNonBlocking(uint32_t ui32Base, unsigned char ucData)
{
    if (!UARTSpaceAvail(ui32Base)) {
        return false;
    }
    uart(ui32Base, UART_DR) = ucData;
    return true;
}

bool UARTBusy(uint32_t ui32Base)
{
    if (!valid_uart(ui32Base)) {
        return false;
    }
    return (uart(ui32Base, UART_FR) & UART_FR_BUSY) != 0;
}

void UARTCharPut(uint32_t ui32Base, unsigned char ucData)
{
    if (!valid_uart(ui32Base)) {
        return;
    }
    // One byte at 4800 baud takes about 2 ms: a FIFO that stays full for
    // 100 ms belongs to a UART that is not sending.
    if (target::wait_us([=] { return (uart(ui32Base, UART_FR) & UART_FR_TXFF) == 0; }, UART_TX_ROOM_LIMIT_US,
                        ui32Base + UART_FR)) {
        uart(ui32Base, UART_DR) = ucData;
    }
}
