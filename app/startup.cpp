// Vector table and fault handlers.
#include "platform/vectors.h"

#include "board/board_util.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "serial/uart2.h"
#include "serial/uart3.h"
#include "serial/uart4.h"
#include "serial/uart5.h"
#include "serial/uartstdio.h"

extern "C" void NmiSR();
extern "C" void FaultISR();
extern "C" void IntDefaultHandler();

// Non-maskable interrupt: stop here.
extern "C" void NmiSR()
{
    for (;;) {
        platform_idle();
    }
}

// Hard fault: tell the operator, give the console time to send the message,
// then stop until reset.  Interrupts of lower priority cannot run inside the
// fault handler, so the message is pushed out by polling the UART rather
// than through the console interrupt.
extern "C" void FaultISR()
{
    uprintf("\n\nBrackwell Crash!!!, entering FaultISR infinte loop.  Hit Reset and report problem\n\n");
    UARTTxDrainPolled(1000);
    for (;;) {
        platform_idle();
    }
}

// Any interrupt or exception that has no handler: stop here.
extern "C" void IntDefaultHandler()
{
    for (;;) {
        platform_idle();
    }
}

#if defined(VARVE_TARGET)
extern "C" uint32_t __stack_top;
#define VECTOR_SECTION __attribute__((section(".isr_vector"), used))
#define STACK_TOP_ENTRY reinterpret_cast<vector_fn>(&__stack_top)
#else
#define VECTOR_SECTION
#define STACK_TOP_ENTRY nullptr
#endif

// clang-format off
extern "C" VECTOR_SECTION const vector_fn g_pfnVectors[NUM_VECTORS] = {
    STACK_TOP_ENTRY,        // 0  initial stack pointer
    ResetISR,               // 1  reset
    NmiSR,                  // 2  NMI
    FaultISR,               // 3  hard fault
    IntDefaultHandler,      // 4  memory management fault
    IntDefaultHandler,      // 5  bus fault
    IntDefaultHandler,      // 6  usage fault
    nullptr, nullptr, nullptr, nullptr,  // 7-10 reserved
    IntDefaultHandler,      // 11 SVCall
    IntDefaultHandler,      // 12 debug monitor
    nullptr,                // 13 reserved
    IntDefaultHandler,      // 14 PendSV
    SysTickHandler,         // 15 SysTick
    IntDefaultHandler,      // 16 GPIO A
    IntDefaultHandler,      // 17 GPIO B
    IntDefaultHandler,      // 18 GPIO C
    IntDefaultHandler,      // 19 GPIO D
    IntDefaultHandler,      // 20 GPIO E
    UARTStdioIntHandler,    // 21 UART0
    IntDefaultHandler,      // 22 UART1
    IntDefaultHandler,      // 23 SSI0
    IntDefaultHandler,      // 24 I2C0
    IntDefaultHandler,      // 25 PWM fault
    IntDefaultHandler,      // 26 PWM generator 0
    IntDefaultHandler,      // 27 PWM generator 1
    IntDefaultHandler,      // 28 PWM generator 2
    IntDefaultHandler,      // 29 QEI0
    IntDefaultHandler,      // 30 ADC0 sequence 0
    IntDefaultHandler,      // 31 ADC0 sequence 1
    IntDefaultHandler,      // 32 ADC0 sequence 2
    IntDefaultHandler,      // 33 ADC0 sequence 3
    IntDefaultHandler,      // 34 watchdog
    IntDefaultHandler,      // 35 timer 0A
    IntDefaultHandler,      // 36 timer 0B
    IntDefaultHandler,      // 37 timer 1A
    IntDefaultHandler,      // 38 timer 1B
    IntDefaultHandler,      // 39 timer 2A
    IntDefaultHandler,      // 40 timer 2B
    IntDefaultHandler,      // 41 analog comparator 0
    IntDefaultHandler,      // 42 analog comparator 1
    IntDefaultHandler,      // 43 analog comparator 2
    IntDefaultHandler,      // 44 system control
    IntDefaultHandler,      // 45 flash and EEPROM control
    IntDefaultHandler,      // 46 GPIO F
    IntDefaultHandler,      // 47 GPIO G
    IntDefaultHandler,      // 48 GPIO H
    uart2_isr,              // 49 UART2
    IntDefaultHandler,      // 50 SSI1
    IntDefaultHandler,      // 51 timer 3A
    IntDefaultHandler,      // 52 timer 3B
    IntDefaultHandler,      // 53 I2C1
    IntDefaultHandler,      // 54 QEI1
    IntDefaultHandler,      // 55 CAN0
    IntDefaultHandler,      // 56 CAN1
    nullptr,                // 57 reserved
    nullptr,                // 58 reserved
    IntDefaultHandler,      // 59 hibernation module
    IntDefaultHandler,      // 60 USB0
    IntDefaultHandler,      // 61 PWM generator 3
    IntDefaultHandler,      // 62 uDMA software
    IntDefaultHandler,      // 63 uDMA error
    IntDefaultHandler,      // 64 ADC1 sequence 0
    IntDefaultHandler,      // 65 ADC1 sequence 1
    IntDefaultHandler,      // 66 ADC1 sequence 2
    IntDefaultHandler,      // 67 ADC1 sequence 3
    nullptr,                // 68 reserved
    nullptr,                // 69 reserved
    IntDefaultHandler,      // 70 GPIO J
    IntDefaultHandler,      // 71 GPIO K
    IntDefaultHandler,      // 72 GPIO L
    IntDefaultHandler,      // 73 SSI2
    IntDefaultHandler,      // 74 SSI3
    uart3_isr,              // 75 UART3
    uart4_isr,              // 76 UART4
    uart5_isr,              // 77 UART5
    IntDefaultHandler,      // 78 UART6
    IntDefaultHandler,      // 79 UART7
    nullptr, nullptr, nullptr, nullptr,  // 80-83 reserved
    IntDefaultHandler,      // 84 I2C2
    IntDefaultHandler,      // 85 I2C3
    IntDefaultHandler,      // 86 timer 4A
    IntDefaultHandler,      // 87 timer 4B
    nullptr, nullptr, nullptr, nullptr, nullptr,  // 88-92 reserved
    nullptr, nullptr, nullptr, nullptr, nullptr,  // 93-97 reserved
    nullptr, nullptr, nullptr, nullptr, nullptr,  // 98-102 reserved
    nullptr, nullptr, nullptr, nullptr, nullptr,  // 103-107 reserved
    IntDefaultHandler,      // 108 timer 5A
    IntDefaultHandler,      // 109 timer 5B
    IntDefaultHandler,      // 110 wide timer 0A
    IntDefaultHandler,      // 111 wide timer 0B
    IntDefaultHandler,      // 112 wide timer 1A
    IntDefaultHandler,      // 113 wide timer 1B
    IntDefaultHandler,      // 114 wide timer 2A
    IntDefaultHandler,      // 115 wide timer 2B
    IntDefaultHandler,      // 116 wide timer 3A
    IntDefaultHandler,      // 117 wide timer 3B
    IntDefaultHandler,      // 118 wide timer 4A
    IntDefaultHandler,      // 119 wide timer 4B
    IntDefaultHandler,      // 120 wide timer 5A
    IntDefaultHandler,      // 121 wide timer 5B
    IntDefaultHandler,      // 122 FPU
    nullptr, nullptr,       // 123-124 reserved
    IntDefaultHandler,      // 125 I2C4
    IntDefaultHandler,      // 126 I2C5
    IntDefaultHandler,      // 127 GPIO M
    IntDefaultHandler,      // 128 GPIO N
    IntDefaultHandler,      // 129 QEI2
    nullptr, nullptr,       // 130-131 reserved
    IntDefaultHandler,      // 132 GPIO P0
    IntDefaultHandler,      // 133 GPIO P1
    IntDefaultHandler,      // 134 GPIO P2
    IntDefaultHandler,      // 135 GPIO P3
    IntDefaultHandler,      // 136 GPIO P4
    IntDefaultHandler,      // 137 GPIO P5
    IntDefaultHandler,      // 138 GPIO P6
    IntDefaultHandler,      // 139 GPIO P7
    IntDefaultHandler,      // 140 GPIO Q0
    IntDefaultHandler,      // 141 GPIO Q1
    IntDefaultHandler,      // 142 GPIO Q2
    IntDefaultHandler,      // 143 GPIO Q3
    IntDefaultHandler,      // 144 GPIO Q4
    IntDefaultHandler,      // 145 GPIO Q5
    IntDefaultHandler,      // 146 GPIO Q6
    IntDefaultHandler,      // 147 GPIO Q7
    nullptr, nullptr,       // 148-149 reserved
    IntDefaultHandler,      // 150 PWM1 generator 0
    IntDefaultHandler,      // 151 PWM1 generator 1
    IntDefaultHandler,      // 152 PWM1 generator 2
    IntDefaultHandler,      // 153 PWM1 generator 3
    IntDefaultHandler,      // 154 PWM1 fault
};
// clang-format on
