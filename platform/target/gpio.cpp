// Target backend: GPIO ports.
//
// Ports A to J are used through their APB apertures (the reset default);
// ports K to Q exist only behind the AHB apertures, at the bases listed in
// platform.h.
#include "platform/platform.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

// Port bases by the port index of gpio_pin_mux (A=0 ... H=7, J=8 ... Q=14).
constexpr uint32_t PORT_BASES[] = {
    GPIO_PORTA_BASE, GPIO_PORTB_BASE, GPIO_PORTC_BASE, GPIO_PORTD_BASE, GPIO_PORTE_BASE,
    GPIO_PORTF_BASE, GPIO_PORTG_BASE, GPIO_PORTH_BASE, GPIO_PORTJ_BASE, GPIO_PORTK_BASE,
    GPIO_PORTL_BASE, GPIO_PORTM_BASE, GPIO_PORTN_BASE, GPIO_PORTP_BASE, GPIO_PORTQ_BASE,
};
constexpr uint32_t PORT_COUNT = sizeof(PORT_BASES) / sizeof(PORT_BASES[0]);

bool valid_port(uint32_t base)
{
    for (uint32_t port : PORT_BASES) {
        if (port == base) {
            return true;
        }
    }
    return false;
}

inline RegRef gpio(uint32_t base, uint32_t offset)
{
    return reg(base + offset);
}

inline void set_bits(uint32_t base, uint32_t offset, uint8_t pins, bool on)
{
    uint32_t value = gpio(base, offset);
    gpio(base, offset) = on ? (value | pins) : (value & ~static_cast<uint32_t>(pins));
}

// Pins whose alternate function, pull and enable registers are guarded by
// the commit register after reset: the NMI pins PD7 and PF0.  (The JTAG
// pins PC0-PC3 are guarded too but deliberately left alone.)  PD7 is the
// on-chip converter's AIN4, so it must be committed before it can be made
// analog.
uint8_t committable_pins(uint32_t base)
{
    if (base == GPIO_PORTD_BASE) {
        return GPIO_PIN_7;
    }
    if (base == GPIO_PORTF_BASE) {
        return GPIO_PIN_0;
    }
    return 0;
}

void commit_pins(uint32_t base, uint8_t pins)
{
    uint8_t guarded = pins & committable_pins(base);
    if (guarded == 0 || (gpio(base, GPIO_CR) & guarded) == guarded) {
        return;
    }
    gpio(base, GPIO_LOCK) = GPIO_LOCK_KEY;
    gpio(base, GPIO_CR) = gpio(base, GPIO_CR) | guarded;
    gpio(base, GPIO_LOCK) = 0; // any other value locks again
}

void set_direction(uint32_t base, uint8_t pins, bool output)
{
    set_bits(base, GPIO_DIR, pins, output);
}

void set_alternate(uint32_t base, uint8_t pins, bool alternate)
{
    commit_pins(base, pins);
    set_bits(base, GPIO_AFSEL, pins, alternate);
}

} // namespace

void GPIOPadConfigSet(uint32_t ui32Port, uint8_t ui8Pins, uint32_t ui32Strength, uint32_t ui32PadType)
{
    if (!valid_port(ui32Port)) {
        return;
    }
    commit_pins(ui32Port, ui8Pins);

    // Drive strength: writing a pin's bit in one of DR2R/DR4R/DR8R clears
    // it in the other two.  Low nibble: 1 = 2 mA, 2 = 4 mA, 6 = 8 mA,
    // bit 3 = slew-rate control (8 mA only).
    if ((ui32Strength & 0x4u) != 0) {
        set_bits(ui32Port, GPIO_DR8R, ui8Pins, true);
    } else if ((ui32Strength & 0x2u) != 0) {
        set_bits(ui32Port, GPIO_DR4R, ui8Pins, true);
    } else {
        set_bits(ui32Port, GPIO_DR2R, ui8Pins, true);
    }
    set_bits(ui32Port, GPIO_SLR, ui8Pins, (ui32Strength & 0x8u) != 0);

    // Pad type: bit 0 open drain, bit 1 pull-up, bit 2 pull-down,
    // bit 3 digital enable; 0 = analog.
    set_bits(ui32Port, GPIO_ODR, ui8Pins, (ui32PadType & 0x1u) != 0);
    set_bits(ui32Port, GPIO_PUR, ui8Pins, (ui32PadType & 0x2u) != 0);
    set_bits(ui32Port, GPIO_PDR, ui8Pins, (ui32PadType & 0x4u) != 0);
    bool digital = (ui32PadType & 0x8u) != 0;
    set_bits(ui32Port, GPIO_DEN, ui8Pins, digital);
    set_bits(ui32Port, GPIO_AMSEL, ui8Pins, ui32PadType == GPIO_PIN_TYPE_ANALOG);
}

void GPIOPinConfigure(uint32_t ui32PinConfig)
{
    uint32_t port = (ui32PinConfig >> 16) & 0xFFu;
    uint32_t pin = (ui32PinConfig >> 8) & 0xFFu;
    uint32_t function = ui32PinConfig & 0xFFu;
    if (port >= PORT_COUNT || pin > 7 || function > 0xFu) {
        return;
    }
    uint32_t base = PORT_BASES[port];
    commit_pins(base, static_cast<uint8_t>(1u << pin));
    uint32_t shift = pin * 4;
    gpio(base, GPIO_PCTL) = (gpio(base, GPIO_PCTL) & ~(0xFu << shift)) | (function << shift);
}

void GPIOPinTypeGPIOOutput(uint32_t ui32Port, uint8_t ui8Pins)
{
    if (!valid_port(ui32Port)) {
        return;
    }
    set_direction(ui32Port, ui8Pins, true);
    set_alternate(ui32Port, ui8Pins, false);
    GPIOPadConfigSet(ui32Port, ui8Pins, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD);
}

void GPIOPinTypeGPIOInput(uint32_t ui32Port, uint8_t ui8Pins)
{
    if (!valid_port(ui32Port)) {
        return;
    }
    set_direction(ui32Port, ui8Pins, false);
    set_alternate(ui32Port, ui8Pins, false);
    GPIOPadConfigSet(ui32Port, ui8Pins, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD);
}

// Peripheral pins: the peripheral drives the direction once the alternate
// function is selected.
static void pin_type_peripheral(uint32_t port, uint8_t pins, uint32_t pad_type)
{
    if (!valid_port(port)) {
        return;
    }
    set_alternate(port, pins, true);
    GPIOPadConfigSet(port, pins, GPIO_STRENGTH_2MA, pad_type);
}

void GPIOPinTypeUART(uint32_t ui32Port, uint8_t ui8Pins)
{
    pin_type_peripheral(ui32Port, ui8Pins, GPIO_PIN_TYPE_STD);
}

void GPIOPinTypeI2C(uint32_t ui32Port, uint8_t ui8Pins)
{
    pin_type_peripheral(ui32Port, ui8Pins, GPIO_PIN_TYPE_OD);
}

void GPIOPinTypeI2CSCL(uint32_t ui32Port, uint8_t ui8Pins)
{
    pin_type_peripheral(ui32Port, ui8Pins, GPIO_PIN_TYPE_STD);
}

void GPIOPinTypeSSI(uint32_t ui32Port, uint8_t ui8Pins)
{
    pin_type_peripheral(ui32Port, ui8Pins, GPIO_PIN_TYPE_STD);
}

void GPIOPinTypePWM(uint32_t ui32Port, uint8_t ui8Pins)
{
    pin_type_peripheral(ui32Port, ui8Pins, GPIO_PIN_TYPE_STD);
}

// Analog input: input direction, alternate function on, digital off,
// analog isolation off.
void GPIOPinTypeADC(uint32_t ui32Port, uint8_t ui8Pins)
{
    if (!valid_port(ui32Port)) {
        return;
    }
    set_direction(ui32Port, ui8Pins, false);
    set_alternate(ui32Port, ui8Pins, true);
    GPIOPadConfigSet(ui32Port, ui8Pins, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_ANALOG);
}

void GPIOPinWrite(uint32_t ui32Port, uint8_t ui8Pins, uint8_t ui8Val)
{
    if (!valid_port(ui32Port)) {
        return;
    }
    // Address bits [9:2] select the pins the access affects.
    gpio(ui32Port, GPIO_DATA + (static_cast<uint32_t>(ui8Pins) << 2)) = ui8Val;
}

int32_t GPIOPinRead(uint32_t ui32Port, uint8_t ui8Pins)
{
    if (!valid_port(ui32Port)) {
        return 0;
    }
    return static_cast<int32_t>(gpio(ui32Port, GPIO_DATA + (static_cast<uint32_t>(ui8Pins) << 2)) & 0xFFu);
}

bool platform_wait_pins(uint32_t ui32Port, uint8_t ui8Pins, uint8_t ui8Val, uint32_t ui32Polls,
                        uint32_t ui32DelayCount)
{
    const int32_t want = ui8Val & ui8Pins;
    for (uint32_t n = 0; n < ui32Polls; ++n) {
        if (GPIOPinRead(ui32Port, ui8Pins) == want) {
            return true;
        }
        SysCtlDelay(ui32DelayCount);
    }
    return false;
}
