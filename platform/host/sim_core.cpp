// Virtual time, events, interrupt controller and GPIO of the simulated
// microcontroller.
#include "platform/host/sim_core.h"

#include "platform/host/chip.h"
#include "platform/platform.h"
#include "platform/vectors.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace sim {

namespace core {
Time g_now = 0;
Time g_next_at = TIME_NEVER;
// Time up to which the machine need not be asked before time advances
// (board_pace); 0: ask at every step.
Time g_pace_horizon = 0;
// Something an interrupt depends on may have changed since the controller
// last found nothing to run: a vector was pended, enabled or unmasked, or a
// level source's state changed (irq_changed(), from the source's events and
// register accesses).
// While it is clear, dispatching would find nothing and is skipped.
bool g_irq_dirty = true;
bool g_master_masked = false;
bool g_in_handler = false;
uint8_t g_levels[17] = {};
} // namespace core

namespace {

using core::g_in_handler;
using core::g_irq_dirty;
using core::g_levels;
using core::g_master_masked;
using core::g_next_at;
using core::g_now;
using core::g_pace_horizon;

EventId g_next_id = 1;

// The event queue: a binary min-heap of small records on (time, id), the
// callables in a pool of slots reused through a free list.  Both vectors
// keep their capacity, so scheduling and running an event allocate nothing
// once the queue has grown to its working size (the callables of the device
// models fit std::function's own storage).  Ids increase with every
// schedule, so (time, id) orders events at the same time as scheduled.
struct Event {
    Time at;
    EventId id;
    uint32_t slot;
};
std::vector<Event> g_heap;
std::vector<std::function<void()>> g_slots;
std::vector<uint32_t> g_free_slots;

// The armed timers (a few: one per serial port frame, the system tick), and
// the time of the earliest event or timer, kept up to date because every
// register access asks for it.
constexpr std::size_t MAX_TIMERS = 16;
std::array<Timer*, MAX_TIMERS> g_timers{};
std::size_t g_timer_count = 0;

void update_next()
{
    Time next = g_heap.empty() ? TIME_NEVER : g_heap.front().at;
    for (std::size_t i = 0; i < g_timer_count; ++i) {
        next = std::min(next, g_timers[i]->at);
    }
    g_next_at = next;
}

// Takes an armed timer out of the list (the last one takes its place).
void timer_unlink(Timer& t)
{
    Timer* last = g_timers[--g_timer_count];
    g_timers[t.slot] = last;
    last->slot = t.slot;
    t.armed = false;
}

bool earlier(const Event& a, const Event& b)
{
    return a.at != b.at ? a.at < b.at : a.id < b.id;
}

void sift_up(std::size_t i)
{
    const Event e = g_heap[i];
    while (i > 0) {
        std::size_t parent = (i - 1) / 2;
        if (!earlier(e, g_heap[parent])) {
            break;
        }
        g_heap[i] = g_heap[parent];
        i = parent;
    }
    g_heap[i] = e;
}

void sift_down(std::size_t i)
{
    const std::size_t n = g_heap.size();
    const Event e = g_heap[i];
    for (;;) {
        std::size_t child = 2 * i + 1;
        if (child >= n) {
            break;
        }
        if (child + 1 < n && earlier(g_heap[child + 1], g_heap[child])) {
            ++child;
        }
        if (!earlier(g_heap[child], e)) {
            break;
        }
        g_heap[i] = g_heap[child];
        i = child;
    }
    g_heap[i] = e;
}

// Removes the entry at `i`, keeping the heap order, and frees its slot.
void heap_remove(std::size_t i)
{
    g_free_slots.push_back(g_heap[i].slot);
    const std::size_t last = g_heap.size() - 1;
    if (i != last) {
        g_heap[i] = g_heap[last];
    }
    g_heap.pop_back();
    if (i < g_heap.size()) {
        if (i > 0) {
            sift_up(i);
        }
        sift_down(i);
    }
}

// Interrupt controller.
std::array<bool, NUM_VECTORS> g_irq_enabled{};
// The enabled vectors in ascending order: the dispatcher, which runs at
// every register access, looks only at these.
std::array<uint32_t, NUM_VECTORS> g_irq_enabled_list{};
uint32_t g_irq_enabled_count = 0;
std::array<bool, NUM_VECTORS> g_irq_pending{};
struct IrqLevel {
    IrqLevelFn fn = nullptr;
    const void* source = nullptr;
};
std::array<IrqLevel, NUM_VECTORS> g_irq_level{};
// The level sources were all found low by the last look and none has said
// since that it changed (irq_changed()): a pended edge alone need not ask them.
bool g_levels_low = false;
bool level_high(uint32_t v)
{
    return !g_levels_low && g_irq_level[v].fn != nullptr && g_irq_level[v].fn(g_irq_level[v].source);
}

// GPIO: ports 'A'..'Q' (I and O do not exist on this chip); the levels are
// in core::g_levels.
struct Port {
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
    // The earliest timer, if it comes before the queue's first event, and
    // the earliest time of the other timers.
    Timer* first = nullptr;
    Time others = TIME_NEVER;
    for (std::size_t i = 0; i < g_timer_count; ++i) {
        Timer* t = g_timers[i];
        if (first == nullptr || t->at < first->at || (t->at == first->at && t->id < first->id)) {
            if (first != nullptr) {
                others = std::min(others, first->at);
            }
            first = t;
        } else {
            others = std::min(others, t->at);
        }
    }
    if (first != nullptr && (g_heap.empty() || first->at < g_heap.front().at ||
                             (first->at == g_heap.front().at && first->id < g_heap.front().id))) {
        if (first->at > g_now) {
            g_now = first->at;
        }
        timer_unlink(*first);
        g_next_at = std::min(others, g_heap.empty() ? TIME_NEVER : g_heap.front().at);
        first->fn(first->ctx);
        return;
    }
    // Moved out first: the event may schedule others, which may reuse the
    // slot or grow the pool.
    auto fn = std::move(g_slots[g_heap.front().slot]);
    if (g_heap.front().at > g_now) {
        g_now = g_heap.front().at;
    }
    heap_remove(0);
    const Time timers = first != nullptr ? std::min(first->at, others) : TIME_NEVER;
    g_next_at = std::min(timers, g_heap.empty() ? TIME_NEVER : g_heap.front().at);
    fn();
}

} // namespace

void reset_clock(Time t)
{
    g_heap.clear();
    g_slots.clear();
    g_free_slots.clear();
    for (std::size_t i = 0; i < g_timer_count; ++i) {
        g_timers[i]->armed = false;
    }
    g_timer_count = 0;
    g_next_at = TIME_NEVER;
    g_now = t;
    g_pace_horizon = 0;
}

void set_clock(Time t)
{
    g_now = t;
    g_pace_horizon = 0;
}

void reset_machine()
{
    g_irq_enabled.fill(false);
    g_irq_enabled_count = 0;
    g_irq_pending.fill(false);
    g_irq_level.fill(IrqLevel{});
    g_master_masked = false;
    g_in_handler = false;
    g_irq_dirty = true;
    g_levels_low = false;
    g_ports = {};
    std::memset(g_levels, 0, sizeof g_levels);
    g_watches.clear();
}

EventId schedule(Time at, std::function<void()> fn)
{
    if (at < g_now) {
        at = g_now;
    }
    EventId id = g_next_id++;
    uint32_t slot;
    if (!g_free_slots.empty()) {
        slot = g_free_slots.back();
        g_free_slots.pop_back();
        g_slots[slot] = std::move(fn);
    } else {
        slot = static_cast<uint32_t>(g_slots.size());
        g_slots.push_back(std::move(fn));
    }
    g_heap.push_back(Event{at, id, slot});
    sift_up(g_heap.size() - 1);
    g_next_at = std::min(g_next_at, at);
    return id;
}

EventId schedule_in(Time delay, std::function<void()> fn)
{
    return schedule(g_now + delay, std::move(fn));
}

void cancel(EventId id)
{
    // Rare (a few per boot) and the queue is short: a linear search.
    for (std::size_t i = 0; i < g_heap.size(); ++i) {
        if (g_heap[i].id == id) {
            g_slots[g_heap[i].slot] = nullptr;
            heap_remove(i);
            update_next();
            return;
        }
    }
}

void timer_arm(Timer& t, Time at)
{
    if (t.armed) {
        // Armed again: its old time may have been the earliest.
        timer_cancel(t);
    }
    if (g_timer_count == MAX_TIMERS) {
        // More timers than the board has devices for: a fault of the model.
        std::fprintf(stderr, "sim: more than %zu timers armed\n", MAX_TIMERS);
        std::abort();
    }
    t.at = at < g_now ? g_now : at;
    t.id = g_next_id++;
    t.armed = true;
    t.slot = static_cast<uint32_t>(g_timer_count);
    g_timers[g_timer_count++] = &t;
    g_next_at = std::min(g_next_at, t.at);
}

void timer_cancel(Timer& t)
{
    if (t.armed) {
        timer_unlink(t);
        if (t.at <= g_next_at) {
            update_next(); // it may have been the earliest
        }
    }
}

// Advances virtual time to `t`, running every event due on the way.  The
// machine is asked before each step (with a paced console it waits for the
// wall clock there, and may schedule input events) unless it said it need
// not be asked before a later time.
static void advance_to(Time t)
{
    for (;;) {
        const Time step = std::min(next_event_time(), t);
        if (step >= g_pace_horizon) {
            g_pace_horizon = board_pace(step);
        }
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

// Whether irq_dispatch() would run a handler now.
bool irq_due();

uint64_t skip_quiet(Time period, uint64_t max_steps)
{
    uint64_t skipped = 0;
    while (skipped < max_steps && period > 0 && !irq_due()) {
        const Time next = next_event_time();
        if (next <= g_now) {
            break;
        }
        // Whole steps that end before the next event: no event runs in them.
        uint64_t steps = (next - g_now - 1) / period;
        steps = std::min(steps, max_steps - skipped);
        if (steps == 0) {
            break;
        }
        const Time end = g_now + steps * period;
        if (end >= g_pace_horizon) {
            g_pace_horizon = board_pace(end); // may schedule input events
            if (next_event_time() <= end) {
                continue; // an earlier event now: fewer steps
            }
        }
        g_now = end;
        skipped += steps;
    }
    return skipped;
}

void consume(Time ns)
{
    advance_to(g_now + ns);
    irq_dispatch();
}

bool run_timer_if_next(Timer& t, Time cap)
{
    if (!t.armed || t.at >= g_pace_horizon || t.at - g_now > cap) {
        return false;
    }
    // The earliest of the others, which comes next once `t` has run.
    Time others = g_heap.empty() ? TIME_NEVER : g_heap.front().at;
    for (std::size_t i = 0; i < g_timer_count; ++i) {
        if (g_timers[i] != &t) {
            others = std::min(others, g_timers[i]->at);
        }
    }
    if (others <= t.at) {
        return false;
    }
    // What advance_to(t.at) does when `t` comes first.
    g_now = t.at;
    timer_unlink(t);
    g_next_at = others;
    t.fn(t.ctx);
    settle();
    return true;
}

void move_quietly(Time t)
{
    if (t > g_now) {
        g_now = t;
    }
}

void take_event_id()
{
    ++g_next_id;
}

void settle()
{
    if (g_next_at <= g_now) {
        advance_to(g_now);
    }
    irq_dispatch();
}

void idle(Time cap)
{
    Time next = next_event_time();
    Time limit = g_now + cap;
    advance_to(next < limit ? next : limit);
    irq_dispatch();
}

void core::register_access_slow(Time t)
{
    advance_to(t);
    irq_dispatch();
}

// --- Interrupt controller ----------------------------------------------------

void irq_attach_level(uint32_t vector, IrqLevelFn level, const void* source)
{
    if (vector < NUM_VECTORS) {
        g_irq_level[vector] = IrqLevel{level, source};
        g_irq_dirty = true;
        g_levels_low = false;
    }
}

void irq_pend(uint32_t vector)
{
    if (vector < NUM_VECTORS) {
        g_irq_pending[vector] = true;
        g_irq_dirty = true;
    }
}

void irq_enable(uint32_t vector, bool enabled)
{
    // (The UART drivers disable and enable their vector around every ring
    // access: cheap, and free when nothing changes.)
    if (vector < NUM_VECTORS && g_irq_enabled[vector] != enabled) {
        g_irq_dirty = true;
        g_levels_low = false;
        g_irq_enabled[vector] = enabled;
        // The list stays in ascending order: insert or remove in place.
        uint32_t i = 0;
        while (i < g_irq_enabled_count && g_irq_enabled_list[i] < vector) {
            ++i;
        }
        if (enabled) {
            for (uint32_t j = g_irq_enabled_count; j > i; --j) {
                g_irq_enabled_list[j] = g_irq_enabled_list[j - 1];
            }
            g_irq_enabled_list[i] = vector;
            ++g_irq_enabled_count;
        } else {
            for (uint32_t j = i; j + 1 < g_irq_enabled_count; ++j) {
                g_irq_enabled_list[j] = g_irq_enabled_list[j + 1];
            }
            --g_irq_enabled_count;
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
    g_irq_dirty = true;
}
void irq_changed()
{
    g_irq_dirty = true;
    g_levels_low = false;
}
bool in_handler()
{
    return g_in_handler;
}

bool irq_due()
{
    if (!g_irq_dirty || g_master_masked || g_in_handler) {
        return false;
    }
    for (uint32_t i = 0; i < g_irq_enabled_count; ++i) {
        const uint32_t v = g_irq_enabled_list[i];
        if (g_irq_pending[v] || level_high(v)) {
            return true;
        }
    }
    return false;
}

void core::irq_dispatch_slow()
{
    // A handler that never clears its source would keep the processor in
    // interrupts for ever, as on the chip; bound the work per call so that
    // time still advances.
    for (int round = 0; round < 64; ++round) {
        uint32_t chosen = NUM_VECTORS;
        for (uint32_t i = 0; i < g_irq_enabled_count; ++i) {
            const uint32_t v = g_irq_enabled_list[i];
            if (g_irq_pending[v] || level_high(v)) {
                chosen = v;
                break;
            }
        }
        // (A processor in its fault handler takes no interrupt; asked only
        // when one is due, as this runs at every register access.)
        if (chosen == NUM_VECTORS) {
            g_irq_dirty = false; // nothing changes until something marks it
            g_levels_low = true;
            return;
        }
        if (in_fault()) {
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

// Sets a level; true when it changed.
static bool set_level(char port, int pin, bool level)
{
    if (port < 'A' || port > 'Q' || pin < 0 || pin >= 8) {
        return false;
    }
    uint8_t& levels = g_levels[port - 'A'];
    const auto bit = static_cast<uint8_t>(1u << pin);
    const bool changed = ((levels & bit) != 0) != level;
    levels = static_cast<uint8_t>(level ? levels | bit : levels & ~bit);
    return changed;
}

void gpio_write(char port, int pin, bool level)
{
    if (!set_level(port, pin, level)) {
        return;
    }
    const char name[] = {'P', port, static_cast<char>('0' + pin)};
    timeline(std::string_view(name, sizeof name), level ? 1 : 0);
    auto it = g_watches.find({port, pin});
    if (it != g_watches.end()) {
        for (auto& fn : it->second) {
            fn(level);
        }
    }
}

void gpio_drive(char port, int pin, bool level)
{
    set_level(port, pin, level);
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
