// UART4: the CTD port.  The CTD driver switches the CTD supply itself.
#include "serial/uart4.h"

#include "platform/platform.h"

UART_PORT_INSTANCE(4, UART4_BASE, INT_UART4, SYSCTL_PERIPH_UART4, 128, 128, true)

void uart4_init()
{
    // The UART's registers (UARTCC below) exist only once its clock runs.
    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
    GPIOPinTypeGPIOOutput(GPIO_PORTD_BASE, GPIO_PIN_0);
    GPIOPinWrite(GPIO_PORTD_BASE, GPIO_PIN_0, 0);
    GPIOPinConfigure(GPIO_PC4_U4RX);
    GPIOPinConfigure(GPIO_PC5_U4TX);
    GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
    UARTClockSourceSet(UART4_BASE, UART_CLOCK_PIOSC);
    uart4_echo_set(false);
}

void uart4_port_open() {}
void uart4_port_close() {}
