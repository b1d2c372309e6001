// Shared ring-buffered serial driver.
//
// Each ring has one producer and one consumer.  Receive: the interrupt
// handler advances the write index (and steps it back on a backspace), the
// main program the read index.  Transmit: the main program advances the write
// index; the read index advances in the priming routine, which runs from the
// interrupt handler and from the main program (with the UART's interrupt
// masked in the interrupt controller meanwhile).
//
// Two exceptions to one producer and one consumer need the same mask: echo
// writes into the port's own transmit ring from its interrupt handler, and a
// backspace steps the receive write index back over the byte the main
// program may be taking.  The main program therefore masks the UART's
// interrupt while it stores into the transmit ring and while it takes a byte
// from the receive ring.
#include "serial/uart_ring.h"

#include "platform/platform.h"

namespace {

// One microsecond of busy-wait in delay-loop counts at 50 MHz.
constexpr uint32_t DELAY_COUNTS_PER_US = 17;
// Longest wait for a transmit ring to drain: a full 2048-byte ring at 4800
// baud takes about 4.3 s.
constexpr uint32_t TX_DRAIN_LIMIT_US = 10u * 1000u * 1000u;

uint32_t advance(uint32_t index, uint32_t size)
{
    return (index + 1) & (size - 1);
}

bool rx_full(uartPort* p)
{
    return IsBufferFull(p->rx_read, p->rx_write, p->rx_size);
}
bool rx_empty(uartPort* p)
{
    return IsBufferEmpty(p->rx_read, p->rx_write);
}
bool tx_full(uartPort* p)
{
    return IsBufferFull(p->tx_read, p->tx_write, p->tx_size);
}
bool tx_empty(uartPort* p)
{
    return IsBufferEmpty(p->tx_read, p->tx_write);
}

void rx_store(uartPort* p, unsigned char c)
{
    p->rx_buf[*p->rx_write] = c;
    *p->rx_write = advance(*p->rx_write, p->rx_size);
}

// Moves bytes from the ring into the hardware FIFO while both allow.
void fill_fifo(uartPort* p)
{
    while (!tx_empty(p) && UARTSpaceAvail(p->base)) {
        UARTCharPutNonBlocking(p->base, p->tx_buf[*p->tx_read]);
        *p->tx_read = advance(*p->tx_read, p->tx_size);
    }
}

// Takes the next received byte, waiting for one.  Blocking by design:
// callers that must not wait check the count first.
unsigned char take_rx(uartPort* p)
{
    for (;;) {
        IntDisable(p->interrupt);
        if (!rx_empty(p)) {
            unsigned char c = p->rx_buf[*p->rx_read];
            *p->rx_read = advance(*p->rx_read, p->rx_size);
            IntEnable(p->interrupt);
            return c;
        }
        IntEnable(p->interrupt);
        platform_idle();
    }
}

void tx_store(uartPort* p, unsigned char c)
{
    p->tx_buf[*p->tx_write] = c;
    *p->tx_write = advance(*p->tx_write, p->tx_size);
}

// Queues bytes for transmission; `crlf` turns "\n" into "\r\n".  Called from
// the port's interrupt handler too (echo), where the mask changes nothing.
int write_bytes(uartPort* p, const char* buf, uint32_t len, bool crlf)
{
    IntDisable(p->interrupt);
    uint32_t n = 0;
    for (; n < len; ++n) {
        if (crlf && buf[n] == '\n') {
            if (tx_full(p)) {
                break;
            }
            tx_store(p, '\r');
        }
        if (tx_full(p)) {
            break;
        }
        tx_store(p, static_cast<unsigned char>(buf[n]));
    }
    bool queued = !tx_empty(p);
    fill_fifo(p);
    IntEnable(p->interrupt);
    if (queued) {
        UARTIntEnable(p->base, UART_INT_TX);
    }
    return static_cast<int>(n);
}

// Echo goes back out on the port it came in on, byte for byte.
void echo(uartPort* p, const char* text, uint32_t len)
{
    write_bytes(p, text, len, false);
}

} // namespace

bool IsBufferFull(volatile uint32_t* pui32Read, volatile uint32_t* pui32Write, uint32_t ui32Size)
{
    uint32_t write = *pui32Write;
    uint32_t read = *pui32Read;
    return ((write + 1) % ui32Size) == read;
}

bool IsBufferEmpty(volatile uint32_t* pui32Read, volatile uint32_t* pui32Write)
{
    return *pui32Write == *pui32Read;
}

uint32_t GetBufferCount(volatile uint32_t* pui32Read, volatile uint32_t* pui32Write, uint32_t ui32Size)
{
    uint32_t write = *pui32Write;
    uint32_t read = *pui32Read;
    return write >= read ? write - read : ui32Size - read + write;
}

void uart_port_setup(uartPort* p, uint32_t periph, uint32_t baud, uint32_t src_clock)
{
    if (!SysCtlPeripheralPresent(periph)) {
        return;
    }
    SysCtlPeripheralEnable(periph);
    UARTConfigSetExpClk(p->base, src_clock, baud,
                        UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE);
    UARTFIFOLevelSet(p->base, UART_FIFO_TX1_8, UART_FIFO_RX1_8);
    uart_port_flush_rx(p);
    uart_port_flush_tx(p, true);
    UARTIntDisable(p->base, 0xFFFFFFFFu);
    UARTIntEnable(p->base, UART_INT_RX | UART_INT_RT);
    IntEnable(p->interrupt);
    UARTEnable(p->base);
}

void uart_port_tx_prime(uartPort* p)
{
    if (tx_empty(p)) {
        return;
    }
    IntDisable(p->interrupt);
    fill_fifo(p);
    IntEnable(p->interrupt);
}

int uart_port_write(uartPort* p, const char* buf, uint32_t len)
{
    return write_bytes(p, buf, len, p->cr_before_lf);
}

void uart_port_tx_byte(uartPort* p, unsigned char c)
{
    IntDisable(p->interrupt);
    bool stored = !tx_full(p);
    if (stored) {
        tx_store(p, c);
        fill_fifo(p);
    }
    IntEnable(p->interrupt);
    if (stored) {
        UARTIntEnable(p->base, UART_INT_TX);
    }
}

int uart_port_gets(uartPort* p, char* buf, uint32_t len)
{
    uint32_t count = 0;
    for (;;) {
        unsigned char c = take_rx(p);
        if (c == '\r' || c == '\n' || (c == 0x1B && p->esc_ends_line)) {
            break;
        }
        if (len > 0 && count < len - 1) {
            buf[count++] = static_cast<char>(c);
        }
    }
    if (len > 0) {
        buf[count] = '\0';
    }
    return static_cast<int>(count);
}

int uart_port_read_exact(uartPort* p, char* buf, uint32_t len)
{
    for (uint32_t i = 0; i < len; ++i) {
        buf[i] = static_cast<char>(uart_port_getc(p));
    }
    return static_cast<int>(len);
}

unsigned char uart_port_getc(uartPort* p)
{
    return take_rx(p);
}

int uart_port_rx_avail(uartPort* p)
{
    return static_cast<int>(GetBufferCount(p->rx_read, p->rx_write, p->rx_size));
}

int uart_port_tx_free(uartPort* p)
{
    return static_cast<int>(p->tx_size - GetBufferCount(p->tx_read, p->tx_write, p->tx_size));
}

int uart_port_peek(uartPort* p, unsigned char c)
{
    uint32_t count = GetBufferCount(p->rx_read, p->rx_write, p->rx_size);
    uint32_t index = *p->rx_read;
    for (uint32_t i = 0; i < count; ++i) {
        if (p->rx_buf[index] == c) {
            return static_cast<int>(i);
        }
        index = advance(index, p->rx_size);
    }
    return -1;
}

void uart_port_flush_rx(uartPort* p)
{
    bool was_masked = IntMasterDisable();
    *p->rx_read = 0;
    *p->rx_write = 0;
    if (!was_masked) {
        IntMasterEnable();
    }
}

void uart_port_flush_tx(uartPort* p, bool discard)
{
    if (discard) {
        bool was_masked = IntMasterDisable();
        *p->tx_read = 0;
        *p->tx_write = 0;
        if (!was_masked) {
            IntMasterEnable();
        }
        return;
    }
    for (uint32_t us = 0; !tx_empty(p) && us < TX_DRAIN_LIMIT_US; ++us) {
        SysCtlDelay(DELAY_COUNTS_PER_US);
    }
}

bool uart_port_tx_empty(uartPort* p)
{
    return tx_empty(p);
}

void uart_port_echo_set(uartPort* p, bool enable)
{
    *p->disable_echo = enable ? 0 : 1;
}

void uart_port_drain_polled(uartPort* p, uint32_t ms)
{
    for (uint32_t us = 0; us < ms * 1000u; ++us) {
        fill_fifo(p);
        if (tx_empty(p) && !UARTBusy(p->base)) {
            return;
        }
        SysCtlDelay(DELAY_COUNTS_PER_US);
    }
}

void uart_port_isr(uartPort* p)
{
    uint32_t status = UARTIntStatus(p->base, true);
    UARTIntClear(p->base, status);

    if ((status & UART_INT_TX) != 0) {
        uart_port_tx_prime(p);
        if (tx_empty(p)) {
            UARTIntDisable(p->base, UART_INT_TX);
        }
    }

    if ((status & (UART_INT_RX | UART_INT_RT)) != 0) {
        while (UARTCharsAvail(p->base)) {
            int32_t got = UARTCharGetNonBlocking(p->base);
            if (got < 0) {
                break;
            }
            unsigned char c = static_cast<unsigned char>(got);
            if (*p->disable_echo != 0) {
                if (!rx_full(p)) {
                    rx_store(p, c);
                }
                continue;
            }
            if (c == '\b') {
                if (!rx_empty(p)) {
                    echo(p, "\b \b", 3);
                    *p->rx_write = (*p->rx_write == 0) ? p->rx_size - 1 : *p->rx_write - 1;
                }
                continue;
            }
            if (c == '\n' && *p->last_was_cr != 0) {
                *p->last_was_cr = 0;
                continue;
            }
            if (c == '\r' || c == '\n' || c == 0x1B) {
                if (c == '\r') {
                    *p->last_was_cr = 1;
                }
                echo(p, "\n", 1);
                if (!rx_full(p)) {
                    rx_store(p, c);
                    echo(p, "\r", 1);
                }
                continue;
            }
            if (!rx_full(p)) {
                rx_store(p, c);
                echo(p, reinterpret_cast<const char*>(&c), 1);
            }
        }
        uart_port_tx_prime(p);
        UARTIntEnable(p->base, UART_INT_TX);
    }
}
