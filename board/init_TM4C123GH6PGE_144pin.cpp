// Start-up configuration of the board lines: every supply off, indicators
// set, converter lines parked, console up.
#include "board/init_TM4C123GH6PGE_144pin.h"

#include "board/board_util.h"
#include "platform/platform.h"
#include "serial/uartstdio.h"

namespace {

const uint32_t k_gpio_ports[] = {
    SYSCTL_PERIPH_GPIOA, SYSCTL_PERIPH_GPIOB, SYSCTL_PERIPH_GPIOC, SYSCTL_PERIPH_GPIOD, SYSCTL_PERIPH_GPIOE,
    SYSCTL_PERIPH_GPIOF, SYSCTL_PERIPH_GPIOG, SYSCTL_PERIPH_GPIOH, SYSCTL_PERIPH_GPIOJ, SYSCTL_PERIPH_GPIOK,
    SYSCTL_PERIPH_GPIOL, SYSCTL_PERIPH_GPIOM, SYSCTL_PERIPH_GPION, SYSCTL_PERIPH_GPIOP,
};

void output(uint32_t port, uint8_t pins, bool high)
{
    GPIOPinTypeGPIOOutput(port, pins);
    GPIOPinWrite(port, pins, high ? pins : 0);
}

// The on-chip converter reports ready within a few cycles of its reset.
constexpr uint32_t ADC_READY_POLL_LIMIT = 10000;

} // namespace

void init_TM4C123GH6PGE_144pin()
{
    for (uint32_t periph : k_gpio_ports) {
        SysCtlPeripheralEnable(periph);
    }

    led_init();
    led_power_on();
    ms_delay(2);

    output(GPIO_PORTB_BASE, GPIO_PIN_2 | GPIO_PIN_3, true);                            // I2C lines idle
    output(GPIO_PORTD_BASE, GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3, false); // supplies off
    GPIOPinTypeGPIOOutput(GPIO_PORTE_BASE, GPIO_PIN_3);
    output(GPIO_PORTP_BASE, GPIO_PIN_2, true);               // red lit
    GPIOPinWrite(GPIO_PORTE_BASE, GPIO_PIN_3, 0);            // green off
    output(GPIO_PORTG_BASE, GPIO_PIN_1 | GPIO_PIN_3, false); // solenoid driver off
    output(GPIO_PORTH_BASE, GPIO_PIN_0 | GPIO_PIN_1, false); // converter SPI clock and chip select parked
    GPIOPinTypeGPIOInput(GPIO_PORTH_BASE, GPIO_PIN_2);
    output(GPIO_PORTH_BASE, GPIO_PIN_3, false);
    output(GPIO_PORTK_BASE, GPIO_PIN_2, false);              // isolated side off
    output(GPIO_PORTL_BASE, GPIO_PIN_0 | GPIO_PIN_1, false); // console transceiver on
    output(GPIO_PORTL_BASE, GPIO_PIN_2, false);              // optode port off
    GPIOPinTypeGPIOInput(GPIO_PORTL_BASE, GPIO_PIN_5);       // card detect
    output(GPIO_PORTM_BASE, GPIO_PIN_0 | GPIO_PIN_1, false);
    output(GPIO_PORTM_BASE, GPIO_PIN_6 | GPIO_PIN_7, false); // battery divider and environment sensors off
    output(GPIO_PORTN_BASE, GPIO_PIN_4, false);
    GPIOPinTypeGPIOInput(GPIO_PORTN_BASE, GPIO_PIN_3);      // converter DRDY
    output(GPIO_PORTN_BASE, GPIO_PIN_5 | GPIO_PIN_6, true); // converter RESET and START high
    GPIOPinTypeGPIOOutput(GPIO_PORTP_BASE, GPIO_PIN_2);
    GPIOPinWrite(GPIO_PORTD_BASE, GPIO_PIN_2, 0);

    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
    GPIOPinConfigure(GPIO_PA0_U0RX);
    GPIOPinConfigure(GPIO_PA1_U0TX);
    GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
    UARTClockSourceSet(UART0_BASE, UART_CLOCK_PIOSC);
    UARTStdioConfig(0, 115200, PIOSC_HZ);
    output(GPIO_PORTL_BASE, GPIO_PIN_0 | GPIO_PIN_1, false);
    UARTEchoSet(true);

    SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
    SysCtlDelay(3);
    SysCtlPeripheralReset(SYSCTL_PERIPH_ADC0);
    for (uint32_t n = 0; n < ADC_READY_POLL_LIMIT && !SysCtlPeripheralReady(SYSCTL_PERIPH_ADC0); ++n) {
    }
}
