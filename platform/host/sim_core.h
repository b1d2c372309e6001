// Core of the simulated microcontroller: virtual time, the event queue, the
// interrupt controller and the hooks through which device models attach to
// the simulated peripherals.
//
// The firmware runs in a child process forked for every reset (see
// sim/run/run_board.h); everything here lives in that child and starts
// afresh at each reset.  What the chip needs from the machine that runs it
// is declared in chip.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace sim {

using Time = uint64_t; // nanoseconds since the start of the run
constexpr Time NS_PER_US = 1000;
constexpr Time NS_PER_MS = 1000 * 1000;
constexpr Time NS_PER_S = 1000 * 1000 * 1000;
constexpr Time TIME_NEVER = ~Time{0};

// Processor clock of the simulated chip.
constexpr uint64_t CPU_HZ = 50000000;
// Cost of one access to a peripheral register (one bus cycle).
constexpr Time REGISTER_ACCESS_NS = 20;

// The machine's state that the platform operations read at every register
// access, kept here so that those reads compile inline.  Written by
// sim_core.cpp only.
namespace core {
extern Time g_now;
extern Time g_next_at;      // earliest event or timer
extern Time g_pace_horizon; // the machine need not be asked before this
extern bool g_irq_dirty, g_master_masked, g_in_handler;
extern uint8_t g_levels[17]; // GPIO levels, one bit per pin, ports 'A'..'Q'
void register_access_slow(Time t);
void irq_dispatch_slow();
} // namespace core

inline Time now()
{
    return core::g_now;
}
// Runner only: restart the clock at `t` with an empty event queue, or move it.
void reset_clock(Time t);
void set_clock(Time t);
// Power-on state of the processor's interrupt controller and GPIO (the
// runner forks a fresh process per boot; in-process test benches call this).
void reset_machine();

// --- Event queue -------------------------------------------------------------
// Events run in time order; events at the same time run in the order they
// were scheduled.  Returns a handle that cancel() accepts.
using EventId = uint64_t;
EventId schedule(Time at, std::function<void()> fn);
EventId schedule_in(Time delay, std::function<void()> fn);
void cancel(EventId id);
inline Time next_event_time()
{
    return core::g_next_at;
}

// A timer: an event of a device that fires again and again (a frame on a
// serial port, the system tick), kept out of the general queue so that
// arming and running it costs no allocation and no heap work.  Armed, it
// takes its id from the same sequence as schedule(), so it runs in exactly
// the order an event scheduled at the same moment would.  The owner keeps
// the record; it must stay where it is while armed.
struct Timer {
    void (*fn)(void* ctx) = nullptr;
    void* ctx = nullptr;
    Time at = 0;
    EventId id = 0;
    bool armed = false;
    uint32_t slot = 0; // its place in the armed list, while armed
};
void timer_arm(Timer& t, Time at);
void timer_cancel(Timer& t);
// idle(cap) when `t` is what it would run: when `t` is armed, due within
// `cap`, strictly before every other event and timer and before the machine
// must next be asked, runs it exactly as idle(cap) would (and whatever it
// schedules for the same moment, then pending interrupts) and returns true;
// otherwise does nothing and returns false.
bool run_timer_if_next(Timer& t, Time cap);

// For a model that walks a short stretch itself (a frame on a serial port
// that nothing else can happen in): true when nothing is due up to and
// including `end` - no event or timer, no interrupt to take, and the machine
// need not be asked - so the clock may simply move there (move_quietly()).
inline bool quiet_through(Time end)
{
    return end < core::g_next_at && end < core::g_pace_horizon &&
           !(core::g_irq_dirty && !core::g_master_masked && !core::g_in_handler);
}
void move_quietly(Time t);
// Takes the id that a timer armed now would take (a model that runs a
// frame without its timer keeps the ids, and so the order, of later events).
void take_event_id();
// After a model's own event: runs what came due at this very moment (what
// the event scheduled for now), then pending interrupts - as the clock does
// after every event.
void settle();

// Time passes for the processor: runs every event up to now() + ns.
void consume(Time ns);
// The processor waits for something to happen: advances to the next event
// (at most `cap` ahead) and runs it.
constexpr Time IDLE_CAP_NS = NS_PER_MS;
void idle(Time cap = IDLE_CAP_NS);
// Called at every platform operation: charges one register access and lets
// pending, unmasked interrupts run.
inline void register_access()
{
    // The common case first: no event due and the machine not to be asked.
    const Time t = core::g_now + REGISTER_ACCESS_NS;
    if (t < core::g_next_at && t < core::g_pace_horizon) {
        core::g_now = t;
        if (core::g_irq_dirty && !core::g_master_masked && !core::g_in_handler) {
            core::irq_dispatch_slow();
        }
    } else {
        core::register_access_slow(t);
    }
}
// For a busy-wait whose condition only an event or an interrupt handler can
// change, in steps of `period` (the simulated time of one iteration): moves
// the clock over as many whole steps (at most `max_steps`) as end before the
// next event, provided no interrupt is due; returns how many.  The clock
// then stands where walking the steps one register access at a time would
// have left it, with the same events run: none.
uint64_t skip_quiet(Time period, uint64_t max_steps);

// --- Interrupt controller ------------------------------------------------------
// Level-sensitive sources report whether they assert their line; the
// controller samples them at every platform operation.
// (A plain function of the source's state: asked at every register access.)
using IrqLevelFn = bool (*)(const void* source);
void irq_attach_level(uint32_t vector, IrqLevelFn level, const void* source);
// A level source tells the controller that its state may have changed (in
// its events and at the firmware's register accesses alike): until then the
// controller does not ask it again.
void irq_changed();
// Edge source (SysTick): marks the vector pending until its handler runs.
void irq_pend(uint32_t vector);
void irq_enable(uint32_t vector, bool enabled);
bool irq_master_masked();
void irq_master_mask(bool masked);
// Runs pending handlers when allowed (not masked, not already in a handler).
inline void irq_dispatch()
{
    if (core::g_irq_dirty && !core::g_master_masked && !core::g_in_handler) {
        core::irq_dispatch_slow();
    }
}
bool in_handler();

// --- GPIO --------------------------------------------------------------------
// Ports are named by letter ('A'..'Q'); pins 0..7.  Lines are named "PK2".
enum class PinMode : uint8_t { Input, Output, Peripheral, Analog };
void gpio_set_mode(char port, int pin, PinMode mode);
PinMode gpio_mode(char port, int pin);
// Level driven by the firmware (outputs) or by a device model (inputs).
inline bool gpio_level(char port, int pin)
{
    return port >= 'A' && port <= 'Q' && pin >= 0 && pin < 8 &&
           ((core::g_levels[port - 'A'] >> pin) & 1) != 0;
}
// The levels of a port's pins in `pins` (bit n: pin n); 0 for no such port.
inline uint8_t gpio_levels(char port, uint8_t pins)
{
    return port >= 'A' && port <= 'Q' ? core::g_levels[port - 'A'] & pins : 0;
}
void gpio_write(char port, int pin, bool level); // firmware side
void gpio_drive(char port, int pin, bool level); // device side (inputs)
// Called after the firmware changes an output line.
using GpioWatch = std::function<void(bool level)>;
void gpio_watch(char port, int pin, GpioWatch fn);

// --- SSI (SPI) devices ---------------------------------------------------------
// A device on an SSI bus exchanges one frame per frame the master clocks.
// Chip select is a GPIO line the device watches itself.
struct SpiDevice {
    virtual ~SpiDevice() = default;
    virtual uint32_t spi_exchange(uint32_t mosi) = 0;
};
void ssi_attach(uint32_t ssi_base, SpiDevice* dev);

// --- ADC0 inputs ---------------------------------------------------------------
// Source of the 12-bit count for an analog input (AIN number, or -1 for the
// internal temperature sensor).  Set by the analog world model.
using AdcSourceFn = std::function<uint32_t(int ain)>;
void adc_set_source(AdcSourceFn fn);

// --- Diagnostics -----------------------------------------------------------------
// Message of the simulator itself (standard error, never the transcript).
void log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace sim
