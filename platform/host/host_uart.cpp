// UARTs of the simulated microcontroller: 16-byte FIFOs, bytes on the line
// ten bit-times apart at the configured baud rate, FIFO-level, receive
// time-out and transmit interrupts as the chip raises them.
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"

#include <array>
#include <deque>

namespace {

constexpr std::size_t FIFO_DEPTH = 16;
constexpr std::size_t FIFO_TRIGGER = 2; // 1/8 of the FIFO

struct Uart {
    uint32_t base = 0;
    uint32_t vector = 0;
    bool enabled = false;
    uint32_t baud = 0;
    uint32_t im = 0;
    uint32_t ris = 0;
    std::deque<uint8_t> rx_fifo;
    std::deque<uint8_t> tx_fifo;
    bool tx_shifting = false;
    sim::Time last_rx = 0;
    sim::UartPeer* peer = nullptr;
    // Line towards the board.
    std::deque<uint8_t> inbound;
    bool inbound_busy = false;

    sim::Time byte_time()
    {
        uint32_t b = baud != 0 ? baud : 115200;
        return 10 * sim::NS_PER_S / b;
    }

    void receive(uint8_t byte)
    {
        sim::irq_changed();
        if (!enabled) {
            return; // receiver off: the byte is lost
        }
        if (rx_fifo.size() >= FIFO_DEPTH) {
            ris |= UART_INT_OE;
            return;
        }
        rx_fifo.push_back(byte);
        if (rx_fifo.size() >= FIFO_TRIGGER) {
            ris |= UART_INT_RX;
        }
        sim::Time stamp = sim::now();
        last_rx = stamp;
        // Receive time-out: 32 bit periods without a new byte while data waits.
        sim::schedule_in(byte_time() * 32 / 10, [this, stamp] {
            sim::irq_changed();
            if (last_rx == stamp && !rx_fifo.empty()) {
                ris |= UART_INT_RT;
            }
        });
    }

    void start_tx()
    {
        sim::irq_changed();
        if (tx_shifting || tx_fifo.empty()) {
            return;
        }
        std::size_t before = tx_fifo.size();
        uint8_t byte = tx_fifo.front();
        tx_fifo.pop_front();
        if (before > FIFO_TRIGGER && tx_fifo.size() <= FIFO_TRIGGER) {
            ris |= UART_INT_TX;
        }
        tx_shifting = true;
        sim::schedule_in(byte_time(), [this, byte] {
            tx_shifting = false;
            if (peer != nullptr) {
                peer->uart_from_board(byte);
            }
            start_tx();
        });
    }

    void deliver_inbound()
    {
        if (inbound.empty()) {
            inbound_busy = false;
            return;
        }
        inbound_busy = true;
        sim::schedule_in(byte_time(), [this] {
            uint8_t byte = inbound.front();
            inbound.pop_front();
            receive(byte);
            deliver_inbound();
        });
    }
};

std::array<Uart, 8> g_uarts;

// Every access to a UART goes through here: it may change what the UART's
// interrupt line shows.  (So do its own events: receive(), start_tx() and
// the receive time-out tell the controller too.)
Uart* uart_of(uint32_t base)
{
    sim::irq_changed();
    if (base < UART0_BASE || base > UART7_BASE || (base & 0xFFF) != 0) {
        return nullptr;
    }
    return &g_uarts[(base - UART0_BASE) >> 12];
}

} // namespace

namespace sim {

void uart_models_boot()
{
    g_uarts = {};
    irq_changed();
    static const uint32_t vectors[8] = {INT_UART0, INT_UART1, INT_UART2, INT_UART3,
                                        INT_UART4, INT_UART5, 78,        79};
    for (uint32_t i = 0; i < 8; ++i) {
        Uart& u = g_uarts[i];
        u.base = UART0_BASE + (i << 12);
        u.vector = vectors[i];
        irq_attach_level(
            u.vector,
            [](const void* source) {
                const Uart* uart = static_cast<const Uart*>(source);
                return (uart->ris & uart->im) != 0;
            },
            &u);
    }
}

void uart_attach(uint32_t uart_base, UartPeer* peer)
{
    if (Uart* u = uart_of(uart_base)) {
        u->peer = peer;
    }
}

void uart_send_to_board(uint32_t uart_base, const uint8_t* data, std::size_t len)
{
    Uart* u = uart_of(uart_base);
    if (u == nullptr) {
        return;
    }
    u->inbound.insert(u->inbound.end(), data, data + len);
    if (!u->inbound_busy) {
        u->deliver_inbound();
    }
}

uint32_t uart_baud(uint32_t uart_base)
{
    Uart* u = uart_of(uart_base);
    return u != nullptr ? u->baud : 0;
}

void uart_line_in(uint32_t uart_base, uint8_t byte)
{
    if (Uart* u = uart_of(uart_base)) {
        u->receive(byte);
    }
}

} // namespace sim

void UARTConfigSetExpClk(uint32_t ui32Base, uint32_t /*ui32UARTClk*/, uint32_t ui32Baud,
                         uint32_t /*ui32Config*/)
{
    if (Uart* u = uart_of(ui32Base)) {
        u->baud = ui32Baud;
        u->enabled = true; // the library call leaves the UART enabled
    }
    sim::register_access();
}

void UARTFIFOLevelSet(uint32_t, uint32_t, uint32_t)
{
    sim::register_access();
}
void UARTClockSourceSet(uint32_t, uint32_t)
{
    sim::register_access();
}

void UARTEnable(uint32_t ui32Base)
{
    if (Uart* u = uart_of(ui32Base)) {
        u->enabled = true;
        u->start_tx();
    }
    sim::register_access();
}

void UARTDisable(uint32_t ui32Base)
{
    if (Uart* u = uart_of(ui32Base)) {
        u->enabled = false;
    }
    sim::register_access();
}

void UARTIntEnable(uint32_t ui32Base, uint32_t ui32IntFlags)
{
    if (Uart* u = uart_of(ui32Base)) {
        u->im |= ui32IntFlags;
    }
    sim::register_access();
}

void UARTIntDisable(uint32_t ui32Base, uint32_t ui32IntFlags)
{
    if (Uart* u = uart_of(ui32Base)) {
        u->im &= ~ui32IntFlags;
    }
    sim::register_access();
}

uint32_t UARTIntStatus(uint32_t ui32Base, bool bMasked)
{
    Uart* u = uart_of(ui32Base);
    uint32_t status = 0;
    if (u != nullptr) {
        status = bMasked ? (u->ris & u->im) : u->ris;
    }
    sim::register_access();
    return status;
}

void UARTIntClear(uint32_t ui32Base, uint32_t ui32IntFlags)
{
    if (Uart* u = uart_of(ui32Base)) {
        u->ris &= ~ui32IntFlags;
    }
    sim::register_access();
}

bool UARTCharsAvail(uint32_t ui32Base)
{
    Uart* u = uart_of(ui32Base);
    bool avail = u != nullptr && !u->rx_fifo.empty();
    sim::register_access();
    return avail;
}

int32_t UARTCharGetNonBlocking(uint32_t ui32Base)
{
    Uart* u = uart_of(ui32Base);
    int32_t c = -1;
    if (u != nullptr && !u->rx_fifo.empty()) {
        c = u->rx_fifo.front();
        u->rx_fifo.pop_front();
    }
    sim::register_access();
    return c;
}

bool UARTSpaceAvail(uint32_t ui32Base)
{
    Uart* u = uart_of(ui32Base);
    bool space = u != nullptr && u->tx_fifo.size() < FIFO_DEPTH;
    sim::register_access();
    return space;
}

bool UARTCharPutNonBlocking(uint32_t ui32Base, unsigned char ucData)
{
    Uart* u = uart_of(ui32Base);
    bool stored = false;
    if (u != nullptr && u->tx_fifo.size() < FIFO_DEPTH) {
        u->tx_fifo.push_back(ucData);
        stored = true;
        if (u->enabled) {
            u->start_tx();
        }
    }
    sim::register_access();
    return stored;
}

bool UARTBusy(uint32_t ui32Base)
{
    Uart* u = uart_of(ui32Base);
    bool busy = u != nullptr && (u->tx_shifting || !u->tx_fifo.empty());
    if (busy) {
        sim::idle();
    } else {
        sim::register_access();
    }
    return busy;
}

void UARTCharPut(uint32_t ui32Base, unsigned char ucData)
{
    Uart* u = uart_of(ui32Base);
    if (u == nullptr) {
        sim::register_access();
        return;
    }
    // Waits while the FIFO is full, as the chip does; gives up after 100 ms
    // like the target backend (a disabled UART never empties its FIFO).
    const sim::Time give_up = sim::now() + 100 * sim::NS_PER_MS;
    while (u->tx_fifo.size() >= FIFO_DEPTH) {
        if (sim::now() >= give_up) {
            sim::register_access();
            return;
        }
        sim::idle();
    }
    UARTCharPutNonBlocking(ui32Base, ucData);
}
