// The one interrupt-driven, ring-buffered serial driver design shared by the
// console and every instrument port.  Each port module owns its rings and
// indices as module statics and describes them to the shared code with a
// uartPort record.
#pragma once

#include <cstdint>

struct uartPort {
    uint32_t base;      // UART base address
    uint32_t interrupt; // interrupt number
    unsigned char* tx_buf;
    uint32_t tx_size; // power of two
    unsigned char* rx_buf;
    uint32_t rx_size; // power of two
    volatile uint32_t* tx_write;
    volatile uint32_t* tx_read;
    volatile uint32_t* rx_write;
    volatile uint32_t* rx_read;
    volatile unsigned char* disable_echo; // non-zero: echo and line editing off
    volatile unsigned char* last_was_cr;  // CR received since the last LF
    bool cr_before_lf;                    // writes turn "\n" into "\r\n"
    bool esc_ends_line;                   // line input also ends at ESC
};

// Ring rules: a ring of N bytes holds at most N - 1.
bool IsBufferFull(volatile uint32_t* pui32Read, volatile uint32_t* pui32Write, uint32_t ui32Size);
bool IsBufferEmpty(volatile uint32_t* pui32Read, volatile uint32_t* pui32Write);
uint32_t GetBufferCount(volatile uint32_t* pui32Read, volatile uint32_t* pui32Write, uint32_t ui32Size);

void uart_port_setup(uartPort* p, uint32_t periph, uint32_t baud, uint32_t src_clock);
int uart_port_write(uartPort* p, const char* buf, uint32_t len);
void uart_port_tx_byte(uartPort* p, unsigned char c);
int uart_port_gets(uartPort* p, char* buf, uint32_t len);
int uart_port_read_exact(uartPort* p, char* buf, uint32_t len);
unsigned char uart_port_getc(uartPort* p);
int uart_port_rx_avail(uartPort* p);
int uart_port_tx_free(uartPort* p);
int uart_port_peek(uartPort* p, unsigned char c);
void uart_port_flush_rx(uartPort* p);
void uart_port_flush_tx(uartPort* p, bool discard);
void uart_port_echo_set(uartPort* p, bool enable);
void uart_port_tx_prime(uartPort* p);
void uart_port_isr(uartPort* p);
bool uart_port_tx_empty(uartPort* p);
// Pushes queued output into the transmitter by polling for up to `ms`
// milliseconds, for contexts where the UART interrupt cannot run.
void uart_port_drain_polled(uartPort* p, uint32_t ms);

// Operations of a sensor-port instance, named uartN_... after its number.
#define UART_PORT_OPERATIONS(N)                                                                              \
    void uart##N##_init();                                                                                   \
    void uart##N##_setup(uint32_t ui32Baud, uint32_t ui32SrcClock);                                          \
    void uart##N##_port_open();                                                                              \
    void uart##N##_port_close();                                                                             \
    int uart##N##_write(const char* pcBuf, uint32_t ui32Len);                                                \
    int uart##N##_rx_str(char* pcBuf, uint32_t ui32Len);                                                     \
    unsigned char uart##N##_rx_byte();                                                                       \
    void uart##N##_tx_byte(unsigned char c);                                                                 \
    int uart##N##_rx_bytes_avail();                                                                          \
    int uart##N##_tx_bufr_bytes_free();                                                                      \
    int uart##N##_rx_bufr_peek(unsigned char ucChar);                                                        \
    void uart##N##_rx_bufr_flush();                                                                          \
    void uart##N##_tx_bufr_flush(bool bDiscard);                                                             \
    void uart##N##_echo_set(bool bEnable);                                                                   \
    void uart##N##_isr();

// Defines the rings of instance N and its operations on the shared design.
// The instance's init/port_open/port_close are written by the module itself.
#define UART_PORT_INSTANCE(N, BASE, INTERRUPT, PERIPH, RX_SIZE, TX_SIZE, ESC_ENDS_LINE)                      \
    namespace {                                                                                              \
    unsigned char g_pcUARTTxBuffer[TX_SIZE];                                                                 \
    unsigned char g_pcUARTRxBuffer[RX_SIZE];                                                                 \
    volatile uint32_t g_ui32UARTTxWriteIndex;                                                                \
    volatile uint32_t g_ui32UARTTxReadIndex;                                                                 \
    volatile uint32_t g_ui32UARTRxWriteIndex;                                                                \
    volatile uint32_t g_ui32UARTRxReadIndex;                                                                 \
    volatile unsigned char g_bDisableEcho = 1;                                                               \
    volatile unsigned char bLastWasCR;                                                                       \
    uartPort s_port = {BASE,                                                                                 \
                       INTERRUPT,                                                                            \
                       g_pcUARTTxBuffer,                                                                     \
                       TX_SIZE,                                                                              \
                       g_pcUARTRxBuffer,                                                                     \
                       RX_SIZE,                                                                              \
                       &g_ui32UARTTxWriteIndex,                                                              \
                       &g_ui32UARTTxReadIndex,                                                               \
                       &g_ui32UARTRxWriteIndex,                                                              \
                       &g_ui32UARTRxReadIndex,                                                               \
                       &g_bDisableEcho,                                                                      \
                       &bLastWasCR,                                                                          \
                       true,                                                                                 \
                       ESC_ENDS_LINE};                                                                       \
    }                                                                                                        \
    void UART##N##_tx_prime()                                                                                \
    {                                                                                                        \
        uart_port_tx_prime(&s_port);                                                                         \
    }                                                                                                        \
    void uart##N##_setup(uint32_t ui32Baud, uint32_t ui32SrcClock)                                           \
    {                                                                                                        \
        uart_port_setup(&s_port, PERIPH, ui32Baud, ui32SrcClock);                                            \
    }                                                                                                        \
    int uart##N##_write(const char* pcBuf, uint32_t ui32Len)                                                 \
    {                                                                                                        \
        return uart_port_write(&s_port, pcBuf, ui32Len);                                                     \
    }                                                                                                        \
    int uart##N##_rx_str(char* pcBuf, uint32_t ui32Len)                                                      \
    {                                                                                                        \
        return uart_port_gets(&s_port, pcBuf, ui32Len);                                                      \
    }                                                                                                        \
    unsigned char uart##N##_rx_byte()                                                                        \
    {                                                                                                        \
        return uart_port_getc(&s_port);                                                                      \
    }                                                                                                        \
    void uart##N##_tx_byte(unsigned char c)                                                                  \
    {                                                                                                        \
        uart_port_tx_byte(&s_port, c);                                                                       \
    }                                                                                                        \
    int uart##N##_rx_bytes_avail()                                                                           \
    {                                                                                                        \
        return uart_port_rx_avail(&s_port);                                                                  \
    }                                                                                                        \
    int uart##N##_tx_bufr_bytes_free()                                                                       \
    {                                                                                                        \
        return uart_port_tx_free(&s_port);                                                                   \
    }                                                                                                        \
    int uart##N##_rx_bufr_peek(unsigned char ucChar)                                                         \
    {                                                                                                        \
        return uart_port_peek(&s_port, ucChar);                                                              \
    }                                                                                                        \
    void uart##N##_rx_bufr_flush()                                                                           \
    {                                                                                                        \
        uart_port_flush_rx(&s_port);                                                                         \
    }                                                                                                        \
    void uart##N##_tx_bufr_flush(bool bDiscard)                                                              \
    {                                                                                                        \
        uart_port_flush_tx(&s_port, bDiscard);                                                               \
    }                                                                                                        \
    void uart##N##_echo_set(bool bEnable)                                                                    \
    {                                                                                                        \
        uart_port_echo_set(&s_port, bEnable);                                                                \
    }                                                                                                        \
    void uart##N##_isr()                                                                                     \
    {                                                                                                        \
        uart_port_isr(&s_port);                                                                              \
    }
