// UART5: spare serial port, controlled by PL7 and PK4.  Not opened by the
// firmware.
#include "serial/uart5.h"

#include "board/board_util.h"
#include "platform/platform.h"

UART_PORT_INSTANCE(5, UART5_BASE, INT_UART5, SYSCTL_PERIPH_UART5, 128, 128, true)

void uart5_init()
{
    // The UART's registers (UARTCC below) exist only once its clock runs.
    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART5);
    GPIOPinTypeGPIOOutput(GPIO_PORTL_BASE, GPIO_PIN_7);
    GPIOPinTypeGPIOOutput(GPIO_PORTK_BASE, GPIO_PIN_4);
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_7, 0);
    GPIOPinWrite(GPIO_PORTK_BASE, GPIO_PIN_4, 0);
    GPIOPinConfigure(GPIO_PJ2_U5RX);
    GPIOPinConfigure(GPIO_PJ3_U5TX);
    GPIOPinTypeUART(GPIO_PORTJ_BASE, GPIO_PIN_2 | GPIO_PIN_3);
    UARTClockSourceSet(UART5_BASE, UART_CLOCK_PIOSC);
    uart5_echo_set(false);
}

void uart5_port_open()
{
    PORTXXX_on();
    GPIOPinWrite(GPIO_PORTK_BASE, GPIO_PIN_4, GPIO_PIN_4);
    uart5_echo_set(false);
}

void uart5_port_close()
{
    PORTXXX_off();
    GPIOPinWrite(GPIO_PORTK_BASE, GPIO_PIN_4, 0);
}
