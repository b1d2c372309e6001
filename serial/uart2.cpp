// UART2: the COMM-PWR auxiliary port (supply: auxiliary power 3).  Built and
// installed in the interrupt table; nothing in the firmware opens it, as the
// port's RS-232 level shifter is not fitted on this board.
#include "serial/uart2.h"

#include "board/board_util.h"
#include "platform/platform.h"

UART_PORT_INSTANCE(2, UART2_BASE, INT_UART2, SYSCTL_PERIPH_UART2, 128, 128, true)

void uart2_init()
{
    // The UART's registers (UARTCC below) exist only once its clock runs.
    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART2);
    GPIOPinTypeGPIOOutput(GPIO_PORTD_BASE, GPIO_PIN_3);
    GPIOPinWrite(GPIO_PORTD_BASE, GPIO_PIN_3, 0);
    GPIOPinTypeGPIOOutput(GPIO_PORTM_BASE, GPIO_PIN_0 | GPIO_PIN_1);
    GPIOPinWrite(GPIO_PORTM_BASE, GPIO_PIN_0 | GPIO_PIN_1, GPIO_PIN_0);
    GPIOPinConfigure(GPIO_PG4_U2RX);
    GPIOPinConfigure(GPIO_PG5_U2TX);
    GPIOPinTypeUART(GPIO_PORTG_BASE, GPIO_PIN_4 | GPIO_PIN_5);
    UARTClockSourceSet(UART2_BASE, UART_CLOCK_PIOSC);
    uart2_echo_set(false);
}

void uart2_port_open()
{
    pwr_aux_pwr3_on();
    GPIOPinWrite(GPIO_PORTM_BASE, GPIO_PIN_0 | GPIO_PIN_1, GPIO_PIN_1);
}

void uart2_port_close()
{
    GPIOPinWrite(GPIO_PORTM_BASE, GPIO_PIN_0 | GPIO_PIN_1, GPIO_PIN_0);
    pwr_aux_pwr3_off();
}
