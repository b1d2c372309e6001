// UART3: the optode port, shared by the oxygen optode (9600 baud) and the
// radiometer (57600 baud).  Its line input does not end at ESC, which the
// radiometer's binary frames may contain.
#include "serial/uart3.h"

#include "platform/platform.h"

UART_PORT_INSTANCE(3, UART3_BASE, INT_UART3, SYSCTL_PERIPH_UART3, 256, 128, false)

// PD1, the pump supply, is left alone: the port has no business switching
// another load off at the start of every optode transaction.
void uart3_init()
{
    // The UART's registers (UARTCC below) exist only once its clock runs.
    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART3);
    GPIOPinConfigure(GPIO_PC6_U3RX);
    GPIOPinConfigure(GPIO_PC7_U3TX);
    GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_6 | GPIO_PIN_7);
    UARTClockSourceSet(UART3_BASE, UART_CLOCK_PIOSC);
    uart3_echo_set(false);
}

void uart3_port_open()
{
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, GPIO_PIN_2);
    uart3_echo_set(false);
}

void uart3_port_close()
{
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, 0);
}

int uart3_rx_buf(char* pcBuf, uint32_t ui32Len)
{
    return uart_port_read_exact(&s_port, pcBuf, ui32Len);
}
