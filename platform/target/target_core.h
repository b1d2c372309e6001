// Processor core operations of the target backend that C++ cannot express:
// the delay loop, the memory barriers and the interrupt mask.  A host test
// build of the backend against a register model (VARVE_REGISTER_MODEL)
// takes them from the model instead.
#pragma once

#include <cstdint>

#if defined(VARVE_REGISTER_MODEL)

namespace tm4c::model {
// `counts` iterations of the three-cycle delay loop.
void delay_loop(uint32_t counts);
// Sets PRIMASK; returns its previous value.
bool set_interrupt_mask(bool masked);
} // namespace tm4c::model

namespace target {

inline void core_delay_loop(uint32_t counts)
{
    tm4c::model::delay_loop(counts);
}

inline void core_barrier() {}

inline bool core_mask_interrupts(bool masked)
{
    return tm4c::model::set_interrupt_mask(masked);
}

} // namespace target

#else

namespace target {

// Three cycles per count: subs (1) + taken bne (2).  A count of 0 returns
// at once instead of wrapping round to 2^32 counts.
[[gnu::always_inline]] inline void core_delay_loop(uint32_t counts)
{
    __asm volatile("cbz %0, 2f\n"
                   "1:\n\t"
                   "subs %0, %0, #1\n\t"
                   "bne 1b\n"
                   "2:"
                   : "+r"(counts)
                   :
                   : "cc");
}

// Completes outstanding memory accesses and refetches the instructions that
// follow, so that a register write has taken effect.
[[gnu::always_inline]] inline void core_barrier()
{
    __asm volatile("dsb\n\tisb" ::: "memory");
}

// Sets or clears PRIMASK; returns whether interrupts were masked before.
[[gnu::always_inline]] inline bool core_mask_interrupts(bool masked)
{
    uint32_t primask = 0;
    if (masked) {
        __asm volatile("mrs %0, primask\n\t"
                       "cpsid i"
                       : "=r"(primask)
                       :
                       : "memory");
    } else {
        __asm volatile("mrs %0, primask\n\t"
                       "cpsie i"
                       : "=r"(primask)
                       :
                       : "memory");
    }
    return (primask & 1u) != 0;
}

} // namespace target

#endif
