// Target backend: processor entry after reset.
//
// ResetISR (vector 1) sets the stack pointer to the top of the 4 KiB stack
// (the hardware has already loaded it from vector 0; setting it again
// makes a jump to ResetISR from a debugger or boot loader safe), paints
// the stack for the high-water mark, then runs the C/C++ runtime start:
// floating-point coprocessor access, .data copied from its load image in
// flash, .bss cleared, the C library's thread pointer set, static
// constructors run, and main() called.
#include <cstdint>

#include "platform/platform.h"
#include "platform/vectors.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

// Symbols of the linker script.
extern "C" {
extern uint32_t __data_start[]; // .data and .tdata, in SRAM
extern uint32_t __data_end[];
extern const uint32_t __data_load[]; // their initial values, in flash
extern uint32_t __bss_start[];       // .tbss and .bss
extern uint32_t __bss_end[];
extern uint32_t __tls_base[]; // initial (and only) thread-local block
extern vector_fn __preinit_array_start[];
extern vector_fn __preinit_array_end[];
extern vector_fn __init_array_start[];
extern vector_fn __init_array_end[];

// C library: sets the thread pointer (errno is thread-local in picolibc).
void _set_tls(void* tls);

[[noreturn]] void varve_runtime_start();
}

int main();

extern "C" [[noreturn]] void varve_runtime_start()
{
    // The floating-point unit first: any later code may use its registers.
    reg(SCB_CPACR) = reg(SCB_CPACR) | CPACR_CP10_CP11_FULL;
    __asm volatile("dsb\n\tisb" ::: "memory");

    const uint32_t* source = __data_load;
    for (uint32_t* word = __data_start; word < __data_end; ++word, ++source) {
        *word = *source;
    }
    for (uint32_t* word = __bss_start; word < __bss_end; ++word) {
        *word = 0;
    }
    _set_tls(__tls_base);

    for (vector_fn* init = __preinit_array_start; init < __preinit_array_end; ++init) {
        (*init)();
    }
    for (vector_fn* init = __init_array_start; init < __init_array_end; ++init) {
        (*init)();
    }

    main();

    // main() does not return; should it, stay here until reset.
    for (;;) {
        platform_idle();
    }
}

// The whole stack is filled with the word __stack_paint (linker script)
// before anything uses it, so that the lowest word no longer holding it
// shows how deep the stack has ever been since reset (read by a debugger:
// scripts/stack-high-water.gdb).
extern "C" __attribute__((naked)) void ResetISR()
{
    __asm volatile("movw r0, #:lower16:__stack_top\n\t"
                   "movt r0, #:upper16:__stack_top\n\t"
                   "msr msp, r0\n\t"
                   "movw r1, #:lower16:__stack_bottom\n\t"
                   "movt r1, #:upper16:__stack_bottom\n\t"
                   "movw r2, #:lower16:__stack_paint\n\t"
                   "movt r2, #:upper16:__stack_paint\n\t"
                   "1:\n\t"
                   "str r2, [r1], #4\n\t"
                   "cmp r1, r0\n\t"
                   "blo 1b\n\t"
                   "b varve_runtime_start\n\t");
}
