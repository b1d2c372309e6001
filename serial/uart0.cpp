// Sensor-port-style driver for UART0, delivered as an object module of its
// own.  It is not linked into the firmware image, where UART0 is the console.
#include "serial/uart0.h"

#include "platform/platform.h"

UART_PORT_INSTANCE(0, UART0_BASE, INT_UART0, SYSCTL_PERIPH_UART0, 128, 128, true)

void uart0_init()
{
    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
    SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
    GPIOPinConfigure(GPIO_PA0_U0RX);
    GPIOPinConfigure(GPIO_PA1_U0TX);
    GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
    UARTClockSourceSet(UART0_BASE, UART_CLOCK_PIOSC);
    uart0_echo_set(false);
}

void uart0_port_open()
{
    GPIOPinTypeGPIOOutput(GPIO_PORTL_BASE, GPIO_PIN_0 | GPIO_PIN_1);
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_0 | GPIO_PIN_1, 0);
    uart0_echo_set(false);
}

void uart0_port_close() {}
