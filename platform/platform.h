// Platform facade: the only way firmware logic reaches the microcontroller.
//
// The operations keep the names and argument conventions of the TM4C123
// peripheral driver library so that the firmware reads like any other
// TM4C123 program.  Two backends implement them:
//   platform/target  - the TM4C123GH6PGE registers (our own register code)
//   platform/host    - the simulated board (sim/)
//
// Busy-waits: every loop that waits for hardware, a ring index, a tick or a
// line must pass through one platform operation per iteration.  Operations
// that report a status (busy flags, FIFO levels, ready bits) count; a loop
// that only watches memory calls platform_idle().  On the host this is where
// simulated time advances and interrupts are delivered.  A wait for input
// pins with a delay between polls is one call, platform_wait_pins(): the
// host needs to see the whole wait to move over it in one step.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Memory map (bases) - real TM4C123 addresses; the host uses them as keys.
// ---------------------------------------------------------------------------
constexpr uint32_t GPIO_PORTA_BASE = 0x40004000u;
constexpr uint32_t GPIO_PORTB_BASE = 0x40005000u;
constexpr uint32_t GPIO_PORTC_BASE = 0x40006000u;
constexpr uint32_t GPIO_PORTD_BASE = 0x40007000u;
constexpr uint32_t GPIO_PORTE_BASE = 0x40024000u;
constexpr uint32_t GPIO_PORTF_BASE = 0x40025000u;
constexpr uint32_t GPIO_PORTG_BASE = 0x40026000u;
constexpr uint32_t GPIO_PORTH_BASE = 0x40027000u;
constexpr uint32_t GPIO_PORTJ_BASE = 0x4003D000u;
constexpr uint32_t GPIO_PORTK_BASE = 0x40061000u;
constexpr uint32_t GPIO_PORTL_BASE = 0x40062000u;
constexpr uint32_t GPIO_PORTM_BASE = 0x40063000u;
constexpr uint32_t GPIO_PORTN_BASE = 0x40064000u;
constexpr uint32_t GPIO_PORTP_BASE = 0x40065000u;
constexpr uint32_t GPIO_PORTQ_BASE = 0x40066000u;

constexpr uint32_t SSI0_BASE = 0x40008000u;
constexpr uint32_t SSI1_BASE = 0x40009000u;
constexpr uint32_t SSI2_BASE = 0x4000A000u;
constexpr uint32_t SSI3_BASE = 0x4000B000u;
constexpr uint32_t UART0_BASE = 0x4000C000u;
constexpr uint32_t UART1_BASE = 0x4000D000u;
constexpr uint32_t UART2_BASE = 0x4000E000u;
constexpr uint32_t UART3_BASE = 0x4000F000u;
constexpr uint32_t UART4_BASE = 0x40010000u;
constexpr uint32_t UART5_BASE = 0x40011000u;
constexpr uint32_t UART6_BASE = 0x40012000u;
constexpr uint32_t UART7_BASE = 0x40013000u;
constexpr uint32_t I2C0_BASE = 0x40020000u;
constexpr uint32_t PWM1_BASE = 0x40029000u;
constexpr uint32_t ADC0_BASE = 0x40038000u;
constexpr uint32_t ADC1_BASE = 0x40039000u;
constexpr uint32_t EEPROM_BASE = 0x400AF000u;
constexpr uint32_t HIB_BASE = 0x400FC000u;
constexpr uint32_t SYSCTL_BASE = 0x400FE000u;

// GPIO pins (bit masks within a port).
constexpr uint8_t GPIO_PIN_0 = 0x01;
constexpr uint8_t GPIO_PIN_1 = 0x02;
constexpr uint8_t GPIO_PIN_2 = 0x04;
constexpr uint8_t GPIO_PIN_3 = 0x08;
constexpr uint8_t GPIO_PIN_4 = 0x10;
constexpr uint8_t GPIO_PIN_5 = 0x20;
constexpr uint8_t GPIO_PIN_6 = 0x40;
constexpr uint8_t GPIO_PIN_7 = 0x80;

// ---------------------------------------------------------------------------
// System control
// ---------------------------------------------------------------------------
// Peripheral identifiers: 0xF0000000 | (run-mode clock gating register
// offset << 8) | instance.
constexpr uint32_t SYSCTL_PERIPH_HIBERNATE = 0xF0001400u;
constexpr uint32_t SYSCTL_PERIPH_GPIOA = 0xF0000800u;
constexpr uint32_t SYSCTL_PERIPH_GPIOB = 0xF0000801u;
constexpr uint32_t SYSCTL_PERIPH_GPIOC = 0xF0000802u;
constexpr uint32_t SYSCTL_PERIPH_GPIOD = 0xF0000803u;
constexpr uint32_t SYSCTL_PERIPH_GPIOE = 0xF0000804u;
constexpr uint32_t SYSCTL_PERIPH_GPIOF = 0xF0000805u;
constexpr uint32_t SYSCTL_PERIPH_GPIOG = 0xF0000806u;
constexpr uint32_t SYSCTL_PERIPH_GPIOH = 0xF0000807u;
constexpr uint32_t SYSCTL_PERIPH_GPIOJ = 0xF0000808u;
constexpr uint32_t SYSCTL_PERIPH_GPIOK = 0xF0000809u;
constexpr uint32_t SYSCTL_PERIPH_GPIOL = 0xF000080Au;
constexpr uint32_t SYSCTL_PERIPH_GPIOM = 0xF000080Bu;
constexpr uint32_t SYSCTL_PERIPH_GPION = 0xF000080Cu;
constexpr uint32_t SYSCTL_PERIPH_GPIOP = 0xF000080Du;
constexpr uint32_t SYSCTL_PERIPH_GPIOQ = 0xF000080Eu;
constexpr uint32_t SYSCTL_PERIPH_UART0 = 0xF0001800u;
constexpr uint32_t SYSCTL_PERIPH_UART1 = 0xF0001801u;
constexpr uint32_t SYSCTL_PERIPH_UART2 = 0xF0001802u;
constexpr uint32_t SYSCTL_PERIPH_UART3 = 0xF0001803u;
constexpr uint32_t SYSCTL_PERIPH_UART4 = 0xF0001804u;
constexpr uint32_t SYSCTL_PERIPH_UART5 = 0xF0001805u;
constexpr uint32_t SYSCTL_PERIPH_SSI0 = 0xF0001C00u;
constexpr uint32_t SYSCTL_PERIPH_SSI3 = 0xF0001C03u;
constexpr uint32_t SYSCTL_PERIPH_I2C0 = 0xF0002000u;
constexpr uint32_t SYSCTL_PERIPH_ADC0 = 0xF0003800u;
constexpr uint32_t SYSCTL_PERIPH_PWM1 = 0xF0004001u;
constexpr uint32_t SYSCTL_PERIPH_EEPROM0 = 0xF0005800u;

// SysCtlClockSet configuration bits.
constexpr uint32_t SYSCTL_SYSDIV_4 = 0x01C00000u;
constexpr uint32_t SYSCTL_USE_PLL = 0x00000000u;
constexpr uint32_t SYSCTL_OSC_MAIN = 0x00000000u;
constexpr uint32_t SYSCTL_XTAL_16MHZ = 0x00000540u;

// System clock after SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL |
// SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ): 200 MHz PLL / 4.
constexpr uint32_t SYSTEM_CLOCK_HZ = 50000000u;
// Precision internal oscillator, used to clock the UARTs.
constexpr uint32_t PIOSC_HZ = 16000000u;

void SysCtlClockSet(uint32_t ui32Config);
uint32_t SysCtlClockGet();
void SysCtlPeripheralEnable(uint32_t ui32Peripheral);
void SysCtlPeripheralDisable(uint32_t ui32Peripheral);
void SysCtlPeripheralReset(uint32_t ui32Peripheral);
bool SysCtlPeripheralReady(uint32_t ui32Peripheral);
bool SysCtlPeripheralPresent(uint32_t ui32Peripheral);
// Busy loop of three processor cycles per count.
void SysCtlDelay(uint32_t ui32Count);
// Software reset of the processor.  Does not return.
[[noreturn]] void SysCtlReset();

// One iteration of a busy-wait that watches only memory: lets pending
// interrupts run.  Nothing on the target.
void platform_idle();

// ---------------------------------------------------------------------------
// Floating point unit
// ---------------------------------------------------------------------------
void FPULazyStackingEnable();
void FPUEnable();

// ---------------------------------------------------------------------------
// Interrupt controller and SysTick
// ---------------------------------------------------------------------------
constexpr uint32_t FAULT_SYSTICK = 15;
constexpr uint32_t INT_UART0 = 21;
constexpr uint32_t INT_UART1 = 22;
constexpr uint32_t INT_UART2 = 49;
constexpr uint32_t INT_UART3 = 75;
constexpr uint32_t INT_UART4 = 76;
constexpr uint32_t INT_UART5 = 77;
constexpr uint32_t NUM_VECTORS = 155;

// Both return true when interrupts were already masked before the call.
bool IntMasterEnable();
bool IntMasterDisable();
void IntEnable(uint32_t ui32Interrupt);
void IntDisable(uint32_t ui32Interrupt);

void SysTickPeriodSet(uint32_t ui32Period);
void SysTickEnable();
void SysTickDisable();
void SysTickIntEnable();
void SysTickIntDisable();

// ---------------------------------------------------------------------------
// GPIO
// ---------------------------------------------------------------------------
constexpr uint32_t GPIO_STRENGTH_2MA = 0x00000001u;
constexpr uint32_t GPIO_STRENGTH_4MA = 0x00000002u;
constexpr uint32_t GPIO_STRENGTH_8MA = 0x00000066u;
constexpr uint32_t GPIO_PIN_TYPE_STD = 0x00000008u;
constexpr uint32_t GPIO_PIN_TYPE_STD_WPU = 0x0000000Au;
constexpr uint32_t GPIO_PIN_TYPE_OD = 0x00000009u;
constexpr uint32_t GPIO_PIN_TYPE_ANALOG = 0x00000000u;

// Pin multiplexing codes for GPIOPinConfigure: (port register offset << 16)
// | (pin << 8 as bit shift) | function.  Encoded as
// (port_index << 16) | (pin_number << 8) | pctl_value.
constexpr uint32_t gpio_pin_mux(uint32_t port_index, uint32_t pin_number, uint32_t function)
{
    return (port_index << 16) | (pin_number << 8) | function;
}
// Port indices for gpio_pin_mux: A=0, B=1, ... H=7, J=8, K=9, L=10, M=11,
// N=12, P=13, Q=14.
constexpr uint32_t GPIO_PA0_U0RX = gpio_pin_mux(0, 0, 1);
constexpr uint32_t GPIO_PA1_U0TX = gpio_pin_mux(0, 1, 1);
constexpr uint32_t GPIO_PA2_SSI0CLK = gpio_pin_mux(0, 2, 2);
constexpr uint32_t GPIO_PA4_SSI0RX = gpio_pin_mux(0, 4, 2);
constexpr uint32_t GPIO_PA5_SSI0TX = gpio_pin_mux(0, 5, 2);
constexpr uint32_t GPIO_PB2_I2C0SCL = gpio_pin_mux(1, 2, 3);
constexpr uint32_t GPIO_PB3_I2C0SDA = gpio_pin_mux(1, 3, 3);
constexpr uint32_t GPIO_PC4_U4RX = gpio_pin_mux(2, 4, 1);
constexpr uint32_t GPIO_PC5_U4TX = gpio_pin_mux(2, 5, 1);
constexpr uint32_t GPIO_PC6_U3RX = gpio_pin_mux(2, 6, 1);
constexpr uint32_t GPIO_PC7_U3TX = gpio_pin_mux(2, 7, 1);
constexpr uint32_t GPIO_PG4_U2RX = gpio_pin_mux(6, 4, 1);
constexpr uint32_t GPIO_PG5_U2TX = gpio_pin_mux(6, 5, 1);
constexpr uint32_t GPIO_PH0_SSI3CLK = gpio_pin_mux(7, 0, 2);
constexpr uint32_t GPIO_PH2_SSI3RX = gpio_pin_mux(7, 2, 2);
constexpr uint32_t GPIO_PH3_SSI3TX = gpio_pin_mux(7, 3, 2);
constexpr uint32_t GPIO_PJ2_U5RX = gpio_pin_mux(8, 2, 1);
constexpr uint32_t GPIO_PJ3_U5TX = gpio_pin_mux(8, 3, 1);
constexpr uint32_t GPIO_PG3_M1PWM1 = gpio_pin_mux(6, 3, 5);

void GPIOPinConfigure(uint32_t ui32PinConfig);
void GPIOPinTypeGPIOOutput(uint32_t ui32Port, uint8_t ui8Pins);
void GPIOPinTypeGPIOInput(uint32_t ui32Port, uint8_t ui8Pins);
void GPIOPinTypeUART(uint32_t ui32Port, uint8_t ui8Pins);
void GPIOPinTypeI2C(uint32_t ui32Port, uint8_t ui8Pins);    // data line, open drain
void GPIOPinTypeI2CSCL(uint32_t ui32Port, uint8_t ui8Pins); // clock line, push-pull
void GPIOPinTypeSSI(uint32_t ui32Port, uint8_t ui8Pins);
void GPIOPinTypeADC(uint32_t ui32Port, uint8_t ui8Pins);
// PWM output: the generator drives the pin (alternate function, digital).
void GPIOPinTypePWM(uint32_t ui32Port, uint8_t ui8Pins);
void GPIOPadConfigSet(uint32_t ui32Port, uint8_t ui8Pins, uint32_t ui32Strength, uint32_t ui32PadType);
// Writes ui8Val to the pins selected by ui8Pins (bit-masked write).
void GPIOPinWrite(uint32_t ui32Port, uint8_t ui8Pins, uint8_t ui8Val);
// Returns the selected pins' levels (bit positions as in ui8Pins).
int32_t GPIOPinRead(uint32_t ui32Port, uint8_t ui8Pins);
// Bounded wait for input pins: reads the selected pins (GPIOPinRead) until
// they equal ui8Val, at most ui32Polls times, with SysCtlDelay(ui32DelayCount)
// after each read that does not match.  True when they matched.  Exactly
// that loop on the target; the host moves its clock over the polls that
// nothing can change (no event, no interrupt due) in one step, ending at the
// same simulated time as the loop.
bool platform_wait_pins(uint32_t ui32Port, uint8_t ui8Pins, uint8_t ui8Val, uint32_t ui32Polls,
                        uint32_t ui32DelayCount);

// ---------------------------------------------------------------------------
// UART
// ---------------------------------------------------------------------------
constexpr uint32_t UART_CONFIG_WLEN_8 = 0x00000060u;
constexpr uint32_t UART_CONFIG_STOP_ONE = 0x00000000u;
constexpr uint32_t UART_CONFIG_PAR_NONE = 0x00000000u;
constexpr uint32_t UART_FIFO_TX1_8 = 0x00000000u;
constexpr uint32_t UART_FIFO_RX1_8 = 0x00000000u;
constexpr uint32_t UART_CLOCK_SYSTEM = 0x00000000u;
constexpr uint32_t UART_CLOCK_PIOSC = 0x00000005u;
// Interrupt sources.
constexpr uint32_t UART_INT_OE = 0x400u;
constexpr uint32_t UART_INT_BE = 0x200u;
constexpr uint32_t UART_INT_PE = 0x100u;
constexpr uint32_t UART_INT_FE = 0x080u;
constexpr uint32_t UART_INT_RT = 0x040u;
constexpr uint32_t UART_INT_TX = 0x020u;
constexpr uint32_t UART_INT_RX = 0x010u;

void UARTConfigSetExpClk(uint32_t ui32Base, uint32_t ui32UARTClk, uint32_t ui32Baud, uint32_t ui32Config);
void UARTFIFOLevelSet(uint32_t ui32Base, uint32_t ui32TxLevel, uint32_t ui32RxLevel);
void UARTClockSourceSet(uint32_t ui32Base, uint32_t ui32Source);
void UARTEnable(uint32_t ui32Base);
void UARTDisable(uint32_t ui32Base);
void UARTIntEnable(uint32_t ui32Base, uint32_t ui32IntFlags);
void UARTIntDisable(uint32_t ui32Base, uint32_t ui32IntFlags);
uint32_t UARTIntStatus(uint32_t ui32Base, bool bMasked);
void UARTIntClear(uint32_t ui32Base, uint32_t ui32IntFlags);
bool UARTCharsAvail(uint32_t ui32Base);
int32_t UARTCharGetNonBlocking(uint32_t ui32Base);
bool UARTSpaceAvail(uint32_t ui32Base);
bool UARTCharPutNonBlocking(uint32_t ui32Base, unsigned char ucData);
// Puts one byte into the transmit FIFO, waiting for room while the FIFO is
// full (the UART empties it at its baud rate).  The target gives up after
// about 100 ms, so a UART that is switched off cannot hang the caller.
void UARTCharPut(uint32_t ui32Base, unsigned char ucData);
// True while the transmitter still shifts bits out.
bool UARTBusy(uint32_t ui32Base);

// ---------------------------------------------------------------------------
// I2C master
// ---------------------------------------------------------------------------
constexpr uint32_t I2C_MASTER_CMD_SINGLE_SEND = 0x00000007u;
constexpr uint32_t I2C_MASTER_CMD_SINGLE_RECEIVE = 0x00000007u;
constexpr uint32_t I2C_MASTER_CMD_BURST_SEND_START = 0x00000003u;
constexpr uint32_t I2C_MASTER_CMD_BURST_SEND_CONT = 0x00000001u;
constexpr uint32_t I2C_MASTER_CMD_BURST_SEND_FINISH = 0x00000005u;
constexpr uint32_t I2C_MASTER_CMD_BURST_RECEIVE_START = 0x0000000Bu;
constexpr uint32_t I2C_MASTER_CMD_BURST_RECEIVE_CONT = 0x00000009u;
constexpr uint32_t I2C_MASTER_CMD_BURST_RECEIVE_FINISH = 0x00000005u;
constexpr uint32_t I2C_MASTER_ERR_NONE = 0u;
constexpr uint32_t I2C_MASTER_ERR_ADDR_ACK = 0x04u;
constexpr uint32_t I2C_MASTER_ERR_DATA_ACK = 0x08u;

void I2CMasterInitExpClk(uint32_t ui32Base, uint32_t ui32I2CClk, bool bFast);
void I2CMasterEnable(uint32_t ui32Base);
void I2CMasterDisable(uint32_t ui32Base);
void I2CMasterSlaveAddrSet(uint32_t ui32Base, uint8_t ui8SlaveAddr, bool bReceive);
void I2CMasterDataPut(uint32_t ui32Base, uint8_t ui8Data);
uint32_t I2CMasterDataGet(uint32_t ui32Base);
void I2CMasterControl(uint32_t ui32Base, uint32_t ui32Cmd);
bool I2CMasterBusy(uint32_t ui32Base);
uint32_t I2CMasterErr(uint32_t ui32Base);

// ---------------------------------------------------------------------------
// SSI (SPI)
// ---------------------------------------------------------------------------
constexpr uint32_t SSI_FRF_MOTO_MODE_0 = 0x00000000u;
constexpr uint32_t SSI_FRF_MOTO_MODE_1 = 0x00000002u;
constexpr uint32_t SSI_FRF_MOTO_MODE_2 = 0x00000001u;
constexpr uint32_t SSI_FRF_MOTO_MODE_3 = 0x00000003u;
constexpr uint32_t SSI_MODE_MASTER = 0x00000000u;

void SSIConfigSetExpClk(uint32_t ui32Base, uint32_t ui32SSIClk, uint32_t ui32Protocol, uint32_t ui32Mode,
                        uint32_t ui32BitRate, uint32_t ui32DataWidth);
void SSIEnable(uint32_t ui32Base);
void SSIDisable(uint32_t ui32Base);
// Queues one frame; waits (bounded) for room in the transmit FIFO.
void SSIDataPut(uint32_t ui32Base, uint32_t ui32Data);
int32_t SSIDataPutNonBlocking(uint32_t ui32Base, uint32_t ui32Data);
// Takes one received frame; waits (bounded) until one is there.
void SSIDataGet(uint32_t ui32Base, uint32_t* pui32Data);
int32_t SSIDataGetNonBlocking(uint32_t ui32Base, uint32_t* pui32Data);
bool SSIBusy(uint32_t ui32Base);
// Exchanges ui32Count frames one after the other: for each, SSIDataPut() of
// pui8Out[i] (0xFF when pui8Out is null), then SSIDataGet(), whose frame
// goes to pui8In[i] (dropped when pui8In is null).  Exactly that loop on the
// target; the host exchanges the frames that nothing else can happen in
// without its event queue, ending at the same simulated time.
void platform_ssi_transfer(uint32_t ui32Base, const uint8_t* pui8Out, uint8_t* pui8In, uint32_t ui32Count);

// ---------------------------------------------------------------------------
// ADC
// ---------------------------------------------------------------------------
constexpr uint32_t ADC_TRIGGER_PROCESSOR = 0x00000000u;
constexpr uint32_t ADC_CTL_TS = 0x00000080u;
constexpr uint32_t ADC_CTL_IE = 0x00000040u;
constexpr uint32_t ADC_CTL_END = 0x00000020u;
constexpr uint32_t ADC_CTL_D = 0x00000010u;
constexpr uint32_t ADC_CTL_CH0 = 0x00000000u;
constexpr uint32_t ADC_CTL_CH4 = 0x00000004u;
constexpr uint32_t ADC_CTL_CH6 = 0x00000006u;
constexpr uint32_t ADC_CTL_CH10 = 0x0000000Au;
constexpr uint32_t ADC_CTL_CH16 = 0x00000100u;
constexpr uint32_t ADC_CTL_CH17 = 0x00000101u;

void ADCSequenceConfigure(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t ui32Trigger,
                          uint32_t ui32Priority);
void ADCSequenceStepConfigure(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t ui32Step,
                              uint32_t ui32Config);
void ADCSequenceEnable(uint32_t ui32Base, uint32_t ui32SequenceNum);
void ADCSequenceDisable(uint32_t ui32Base, uint32_t ui32SequenceNum);
void ADCProcessorTrigger(uint32_t ui32Base, uint32_t ui32SequenceNum);
uint32_t ADCIntStatus(uint32_t ui32Base, uint32_t ui32SequenceNum, bool bMasked);
void ADCIntClear(uint32_t ui32Base, uint32_t ui32SequenceNum);
int32_t ADCSequenceDataGet(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t* pui32Buffer);

// ---------------------------------------------------------------------------
// Hibernation module
// ---------------------------------------------------------------------------
constexpr uint32_t HIBERNATE_WAKE_PIN = 0x00000010u;
constexpr uint32_t HIBERNATE_WAKE_RTC = 0x00000008u;
constexpr uint32_t HIBERNATE_INT_RTC_MATCH_0 = 0x00000001u;
constexpr uint32_t HIBERNATE_INT_LOW_BAT = 0x00000004u;
constexpr uint32_t HIBERNATE_INT_PIN_WAKE = 0x00000008u;
constexpr uint32_t HIBERNATE_INT_WR_COMPLETE = 0x00000010u;
constexpr uint32_t HIBERNATE_INT_GPIO_WAKE = 0x00000020u;
constexpr uint32_t HIBERNATE_INT_RESET_WAKE = 0x00000040u;
constexpr uint32_t HIBERNATE_INT_VDDFAIL = 0x00000080u;
constexpr uint32_t HIBERNATE_OSC_LOWDRIVE = 0x00000000u;

void HibernateEnableExpClk(uint32_t ui32HibClk);
bool HibernateIsActive();
uint32_t HibernateIntStatus(bool bMasked);
void HibernateIntClear(uint32_t ui32IntFlags);
void HibernateIntDisable(uint32_t ui32IntFlags);
void HibernateGPIORetentionDisable();
void HibernateClockConfig(uint32_t ui32Config);
void HibernateRTCTrimSet(uint32_t ui32Trim);
void HibernateRTCEnable();
uint32_t HibernateRTCGet();
void HibernateRTCSet(uint32_t ui32RTCValue);
void HibernateRTCMatchSet(uint32_t ui32Match, uint32_t ui32Value);
uint32_t HibernateRTCMatchGet(uint32_t ui32Match);
void HibernateWakeSet(uint32_t ui32WakeFlags);
uint32_t HibernateWakeGet();
// Removes power from the processor.  When it takes effect the next thing
// that runs is the reset; when it does not, it returns.
void HibernateRequest();
void HibernateDataSet(const uint32_t* pui32Data, uint32_t ui32Count);
void HibernateDataGet(uint32_t* pui32Data, uint32_t ui32Count);

// ---------------------------------------------------------------------------
// EEPROM (2048 bytes, word granular)
// ---------------------------------------------------------------------------
constexpr uint32_t EEPROM_INIT_OK = 0u;
constexpr uint32_t EEPROM_INIT_ERROR = 2u;
constexpr uint32_t EEPROM_RC_WRBUSY = 0x20u;
constexpr uint32_t EEPROM_RC_NOPERM = 0x10u;
constexpr uint32_t EEPROM_RC_INVPL = 0x100u;

uint32_t EEPROMInit();
uint32_t EEPROMSizeGet();
// Address and count in bytes, both multiples of 4.
void EEPROMRead(uint32_t* pui32Data, uint32_t ui32Address, uint32_t ui32Count);
uint32_t EEPROMProgram(const uint32_t* pui32Data, uint32_t ui32Address, uint32_t ui32Count);

// ---------------------------------------------------------------------------
// PWM (module 1)
// ---------------------------------------------------------------------------
constexpr uint32_t PWM_GEN_0 = 0x00000040u;
constexpr uint32_t PWM_GEN_1 = 0x00000080u;
constexpr uint32_t PWM_GEN_2 = 0x000000C0u;
constexpr uint32_t PWM_GEN_3 = 0x00000100u;
constexpr uint32_t PWM_GEN_MODE_DOWN = 0x00000000u;
constexpr uint32_t PWM_GEN_MODE_NO_SYNC = 0x00000000u;
constexpr uint32_t PWM_OUT_0 = 0x00000040u;
constexpr uint32_t PWM_OUT_1 = 0x00000041u;
constexpr uint32_t PWM_OUT_2 = 0x00000082u;
constexpr uint32_t PWM_OUT_3 = 0x00000083u;
constexpr uint32_t PWM_OUT_4 = 0x000000C4u;
constexpr uint32_t PWM_OUT_5 = 0x000000C5u;
constexpr uint32_t PWM_OUT_6 = 0x00000106u;
constexpr uint32_t PWM_OUT_7 = 0x00000107u;
constexpr uint32_t PWM_OUT_0_BIT = 0x01u;
constexpr uint32_t PWM_OUT_1_BIT = 0x02u;
constexpr uint32_t PWM_OUT_2_BIT = 0x04u;
constexpr uint32_t PWM_OUT_3_BIT = 0x08u;
constexpr uint32_t PWM_OUT_4_BIT = 0x10u;
constexpr uint32_t PWM_OUT_5_BIT = 0x20u;
constexpr uint32_t PWM_OUT_6_BIT = 0x40u;
constexpr uint32_t PWM_OUT_7_BIT = 0x80u;
constexpr uint32_t SYSCTL_PWMDIV_1 = 0x00000000u;
constexpr uint32_t SYSCTL_PWMDIV_8 = 0x00140000u;
constexpr uint32_t SYSCTL_PWMDIV_64 = 0x001E0000u;

void SysCtlPWMClockSet(uint32_t ui32Config);
void PWMGenConfigure(uint32_t ui32Base, uint32_t ui32Gen, uint32_t ui32Config);
void PWMGenPeriodSet(uint32_t ui32Base, uint32_t ui32Gen, uint32_t ui32Period);
void PWMPulseWidthSet(uint32_t ui32Base, uint32_t ui32PWMOut, uint32_t ui32Width);
void PWMOutputState(uint32_t ui32Base, uint32_t ui32PWMOutBits, bool bEnable);
void PWMGenEnable(uint32_t ui32Base, uint32_t ui32Gen);
void PWMGenDisable(uint32_t ui32Base, uint32_t ui32Gen);

// ---------------------------------------------------------------------------
// Debug output: text for a debugger, never sent on a UART.  Target: ITM
// stimulus port 0 (SWO) while a debugger has enabled it, otherwise dropped.
// Host: the file given to the simulator with --debug-out, otherwise dropped.
// ---------------------------------------------------------------------------
void platform_debug_write(const char* pcText, uint32_t ui32Len);
