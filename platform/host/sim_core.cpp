// Virtual time, events, interrupt controller and GPIO of the simulated
// microcontroller.
#include "platform/host/sim_core.h"

#include "platform/host/chip.h"
#include "platform/platform.h"
#include "platform/vectors.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <vector>

namespace sim {

namespace {

Time g_now = 0;
EventId g_next_id = 1;
std::map<std::pair<Time, EventId>, std::function<void()>> g_events;
std::unordered_map<EventId, Time> g_event_time;

// Interrupt controller.
std::array<bool, NUM_VECTORS> g_irq_enabled{};
// The enabled vectors in ascending order: the dispatcher, which runs at
// every register access, looks only at these.
std::array<uint32_t, NUM_VECTORS> g_irq_enabled_list{};
uint32_t g_irq_enabled_count = 0;
std::array<bool, NUM_VECTORS> g_irq_pending{};
std::array<IrqLevelFn, NUM_VECTORS> g_irq_level{};
bool g_master_masked = false;
bool g_in_handler = false;

// GPIO: ports 'A'..'Q' (I and O do not exist on this chip).
struct Port {
    std::array<bool, 8> level{};
    std::array<PinMode, 8> mode{};
};
std::array<Port, 17> g_ports{};
std::map<std::pair<char, int>, std::vector<GpioWatch>> g_watches;

Port* port_of(char port)
{
    if (port < 'A' || port > 'Q') {
        return nullptr;
    }
    return &g_ports[static_cast<std::size_t>(port - 'A')];
}

void run_first_event()
{
    auto it = g_events.begin();
    auto fn = std::move(it->second);
    if (it->first.first > g_now) {
        g_now = it->first.first;
    }
    g_event_time.erase(it->first.second);
    g_events.erase(it);
    fn();
}

} // namespace

Time now()
{
    return g_now;
}

void reset_clock(Time t)
{
    g_events.clear();
    g_event_time.clear();
    g_now = t;
}

void set_clock(Time t)
{
    g_now = t;
}

void reset_machine()
{
    g_irq_enabled.fill(false);
    g_irq_enabled_count = 0;
    g_irq_pending.fill(false);
    g_irq_level.fill(nullptr);
    g_master_masked = false;
    g_in_handler = false;
    g_ports = {};
    g_watches.clear();
}

EventId schedule(Time at, std::function<void()> fn)
{
    if (at < g_now) {
        at = g_now;
    }
    EventId id = g_next_id++;
    g_events.emplace(std::make_pair(at, id), std::move(fn));
    g_event_time.emplace(id, at);
    return id;
}

EventId schedule_in(Time delay, std::function<void()> fn)
{
    return schedule(g_now + delay, std::move(fn));
}

void cancel(EventId id)
{
    auto it = g_event_time.find(id);
    if (it == g_event_time.end()) {
        return;
    }
    g_events.erase(std::make_pair(it->second, id));
    g_event_time.erase(it);
}

Time next_event_time()
{
    return g_events.empty() ? TIME_NEVER : g_events.begin()->first.first;
}

// Advances virtual time to `t`, running every event due on the way.  With a
// paced console the wall clock is waited for before each step.
static void advance_to(Time t)
{
    for (;;) {
        board_pace(std::min(next_event_time(), t)); // may schedule input events
        if (next_event_time() <= t) {
            run_first_event();
            continue;
        }
        if (t > g_now) {
            g_now = t;
        }
        return;
    }
}

void consume(Time ns)
{
    advance_to(g_now + ns);
    irq_dispatch();
}

void idle(Time cap)
{
    Time next = next_event_time();
    Time limit = g_now + cap;
    advance_to(next < limit ? next : limit);
    irq_dispatch();
}

void register_access()
{
    consume(REGISTER_ACCESS_NS);
}

// --- Interrupt controller ----------------------------------------------------

void irq_attach_level(uint32_t vector, IrqLevelFn level)
{
    if (vector < NUM_VECTORS) {
        g_irq_level[vector] = std::move(level);
    }
}

void irq_pend(uint32_t vector)
{
    if (vector < NUM_VECTORS) {
        g_irq_pending[vector] = true;
    }
}

void irq_enable(uint32_t vector, bool enabled)
{
    if (vector < NUM_VECTORS) {
        g_irq_enabled[vector] = enabled;
        g_irq_enabled_count = 0;
        for (uint32_t v = 0; v < NUM_VECTORS; ++v) {
            if (g_irq_enabled[v]) {
                g_irq_enabled_list[g_irq_enabled_count++] = v;
            }
        }
    }
}

bool irq_master_masked()
{
    return g_master_masked;
}
void irq_master_mask(bool masked)
{
    g_master_masked = masked;
}
bool in_handler()
{
    return g_in_handler;
}

void irq_dispatch()
{
    if (g_master_masked || g_in_handler) {
        return;
    }
    // A handler that never clears its source would keep the processor in
    // interrupts for ever, as on the chip; bound the work per call so that
    // time still advances.
    for (int round = 0; round < 64; ++round) {
        uint32_t chosen = NUM_VECTORS;
        for (uint32_t i = 0; i < g_irq_enabled_count; ++i) {
            const uint32_t v = g_irq_enabled_list[i];
            if (g_irq_pending[v] || (g_irq_level[v] && g_irq_level[v]())) {
                chosen = v;
                break;
            }
        }
        // (A processor in its fault handler takes no interrupt; asked only
        // when one is due, as this runs at every register access.)
        if (chosen == NUM_VECTORS || in_fault()) {
            return;
        }
        g_irq_pending[chosen] = false;
        vector_fn handler = g_pfnVectors[chosen];
        if (handler == nullptr) {
            return;
        }
        g_in_handler = true;
        handler();
        g_in_handler = false;
        if (g_master_masked) {
            return;
        }
    }
}

// --- GPIO ------------------------------------------------------------------------

void gpio_set_mode(char port, int pin, PinMode mode)
{
    Port* p = port_of(port);
    if (p != nullptr && pin >= 0 && pin < 8) {
        p->mode[static_cast<std::size_t>(pin)] = mode;
    }
}

PinMode gpio_mode(char port, int pin)
{
    Port* p = port_of(port);
    return (p != nullptr && pin >= 0 && pin < 8) ? p->mode[static_cast<std::size_t>(pin)] : PinMode::Input;
}

bool gpio_level(char port, int pin)
{
    Port* p = port_of(port);
    return p != nullptr && pin >= 0 && pin < 8 && p->level[static_cast<std::size_t>(pin)];
}

void gpio_write(char port, int pin, bool level)
{
    Port* p = port_of(port);
    if (p == nullptr || pin < 0 || pin >= 8) {
        return;
    }
    auto idx = static_cast<std::size_t>(pin);
    bool changed = p->level[idx] != level;
    p->level[idx] = level;
    if (!changed) {
        return;
    }
    char name[8];
    std::snprintf(name, sizeof name, "P%c%d", port, pin);
    timeline(name, level ? 1 : 0);
    auto it = g_watches.find({port, pin});
    if (it != g_watches.end()) {
        for (auto& fn : it->second) {
            fn(level);
        }
    }
}

void gpio_drive(char port, int pin, bool level)
{
    Port* p = port_of(port);
    if (p != nullptr && pin >= 0 && pin < 8) {
        p->level[static_cast<std::size_t>(pin)] = level;
    }
}

void gpio_watch(char port, int pin, GpioWatch fn)
{
    g_watches[{port, pin}].push_back(std::move(fn));
}

// --- Diagnostics -----------------------------------------------------------------

void log(const char* fmt, ...)
{
    std::fprintf(stderr, "varve-sim: ");
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
}

} // namespace sim
