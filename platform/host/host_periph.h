// Internal interfaces between the simulated peripherals and the device models
// attached to them.
#pragma once

#include "platform/host/sim_core.h"

#include <cstdint>

namespace sim {

// GPIO port letter of a port base address (0 when unknown).
char gpio_port_letter(uint32_t base);
bool periph_enabled(uint32_t periph);

// A device on the far end of a serial line (an instrument, or the console).
struct UartPeer {
    virtual ~UartPeer() = default;
    // A byte the board finished transmitting.
    virtual void uart_from_board(uint8_t byte) = 0;
};
void uart_attach(uint32_t uart_base, UartPeer* peer);
// Queues bytes on the line towards the board; they arrive one byte time
// (ten bits at the UART's current baud rate) apart.  Bytes that reach a
// receiver that is disabled are lost.
void uart_send_to_board(uint32_t uart_base, const uint8_t* data, std::size_t len);
// Baud rate the board configured on a UART (0 = never configured).
uint32_t uart_baud(uint32_t uart_base);
// A byte whose stop bit the UART's receiver has just sampled: for a device
// that times its own line (at its own baud rate).  Lost while the receiver
// is disabled.
void uart_line_in(uint32_t uart_base, uint8_t byte);

// A target on an I2C bus.  A start (or repeated start) addressing it asks
// whether it acknowledges; then each byte the master clocks is written to
// it or read from it, until the stop.
struct I2cTarget {
    virtual ~I2cTarget() = default;
    virtual bool i2c_start(bool receive) = 0;
    virtual void i2c_write(uint8_t byte) = 0;
    virtual uint8_t i2c_read() = 0;
};
void i2c_attach(uint32_t i2c_base, uint8_t address, I2cTarget* target);

// PWM module 1 as the firmware left it (generator 0, output 1 on PG3).
struct PwmView {
    uint32_t clock_config = 0; // last SysCtlPWMClockSet value
    bool configured = false;   // a generator was configured
    uint32_t gen0_period = 0;
    bool gen0_enabled = false;
    uint32_t out1_width = 0;
    bool out1_enabled = false;
    int pg3_duty_permille = -1; // -1: the PWM does not drive PG3
};
PwmView pwm1_view();
void pwm_models_boot();

// EEPROM words programmed since the start of the run (every boot counted).
uint64_t eeprom_words_programmed();

// The chip's trace port (what a debugger reads, platform_debug_write): text
// goes to the attached probe, if any (attached again at every boot).
struct TracePeer {
    virtual ~TracePeer() = default;
    virtual void trace_write(const char* text, uint32_t len) = 0;
};
void trace_attach(TracePeer* peer);

} // namespace sim
