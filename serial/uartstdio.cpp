// Console driver on UART0 (any of UART0..2 can be chosen; the firmware uses 0).
#include "serial/uartstdio.h"

#include "platform/platform.h"
#include "serial/uart_ring.h"

namespace {

constexpr uint32_t UART_TX_BUFFER_SIZE = 2048;
constexpr uint32_t UART_RX_BUFFER_SIZE = 512;

unsigned char g_pcUARTTxBuffer[UART_TX_BUFFER_SIZE];
unsigned char g_pcUARTRxBuffer[UART_RX_BUFFER_SIZE];
volatile uint32_t g_ui32UARTTxWriteIndex;
volatile uint32_t g_ui32UARTTxReadIndex;
volatile uint32_t g_ui32UARTRxWriteIndex;
volatile uint32_t g_ui32UARTRxReadIndex;
volatile unsigned char g_bDisableEcho;
volatile unsigned char bLastWasCR;

uint32_t g_ui32Base = UART0_BASE;
uint32_t g_ui32PortNum;

const uint32_t g_ui32UARTBase[3] = {UART0_BASE, UART1_BASE, UART2_BASE};
const uint32_t g_ui32UARTInt[3] = {INT_UART0, INT_UART1, INT_UART2};
const uint32_t g_ui32UARTPeriph[3] = {SYSCTL_PERIPH_UART0, SYSCTL_PERIPH_UART1, SYSCTL_PERIPH_UART2};

uartPort s_console = {UART0_BASE,
                      INT_UART0,
                      g_pcUARTTxBuffer,
                      UART_TX_BUFFER_SIZE,
                      g_pcUARTRxBuffer,
                      UART_RX_BUFFER_SIZE,
                      &g_ui32UARTTxWriteIndex,
                      &g_ui32UARTTxReadIndex,
                      &g_ui32UARTRxWriteIndex,
                      &g_ui32UARTRxReadIndex,
                      &g_bDisableEcho,
                      &bLastWasCR,
                      false,
                      true};

} // namespace

void UARTStdioConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock)
{
    if (ui32PortNum > 2 || !SysCtlPeripheralPresent(g_ui32UARTPeriph[ui32PortNum])) {
        return;
    }
    g_ui32Base = g_ui32UARTBase[ui32PortNum];
    s_console.base = g_ui32Base;
    s_console.interrupt = g_ui32UARTInt[ui32PortNum];
    g_ui32PortNum = ui32PortNum;
    uart_port_setup(&s_console, g_ui32UARTPeriph[ui32PortNum], ui32Baud, ui32SrcClock);
}

void UARTPrimeTransmit(uint32_t ui32Base)
{
    if (ui32Base == g_ui32Base) {
        uart_port_tx_prime(&s_console);
    }
}

int UARTwrite(const char* pcBuf, uint32_t ui32Len)
{
    return uart_port_write(&s_console, pcBuf, ui32Len);
}
int UARTgets(char* pcBuf, uint32_t ui32Len)
{
    return uart_port_gets(&s_console, pcBuf, ui32Len);
}
unsigned char UARTgetc()
{
    return uart_port_getc(&s_console);
}
int UARTRxBytesAvail()
{
    return uart_port_rx_avail(&s_console);
}
int UARTTxBytesFree()
{
    return uart_port_tx_free(&s_console);
}
int UARTPeek(unsigned char ucChar)
{
    return uart_port_peek(&s_console, ucChar);
}
void UARTFlushRx()
{
    uart_port_flush_rx(&s_console);
}
void UARTFlushTx(bool bDiscard)
{
    uart_port_flush_tx(&s_console, bDiscard);
}
void UARTEchoSet(bool bEnable)
{
    uart_port_echo_set(&s_console, bEnable);
}
unsigned char UART_isTxEmpty()
{
    return uart_port_tx_empty(&s_console) ? 1 : 0;
}
void wait_consoleTx()
{
    uart_port_flush_tx(&s_console, false);
}
void UARTStdioIntHandler()
{
    uart_port_isr(&s_console);
}
void UARTTxDrainPolled(uint32_t ms)
{
    uart_port_drain_polled(&s_console, ms);
}
