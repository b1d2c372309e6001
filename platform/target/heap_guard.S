/*
 * No-heap guard.
 *
 * The firmware has no heap.  This file defines every allocator entry point
 * of the C and C++ runtime in the section .heap_guard, which the linker
 * script discards.  Because these definitions come from an object file on
 * the link line, the C library's allocator is never pulled in to satisfy
 * a reference; instead, any surviving reference ends the link with
 *   `malloc' referenced in section `...' of <object>:
 *   defined in discarded section `.heap_guard' of heap_guard.S.o
 * which names the object that wants a heap.
 */
    .syntax unified
    .thumb
    .section .heap_guard, "ax", %progbits

    .macro no_heap name
    .global \name
    .type \name, %function
\name:
    .endm

    no_heap malloc
    no_heap free
    no_heap calloc
    no_heap realloc
    no_heap reallocarray
    no_heap memalign
    no_heap aligned_alloc
    no_heap posix_memalign
    no_heap valloc
    no_heap pvalloc
    no_heap sbrk
    no_heap _sbrk
    no_heap _sbrk_r
    no_heap _malloc_r
    no_heap _free_r
    no_heap _calloc_r
    no_heap _realloc_r
    no_heap __malloc_malloc
    no_heap __malloc_free
    /* operator new / delete (plain, array, sized, nothrow, aligned) */
    no_heap _Znwj
    no_heap _Znaj
    no_heap _ZnwjRKSt9nothrow_t
    no_heap _ZnajRKSt9nothrow_t
    no_heap _ZnwjSt11align_val_t
    no_heap _ZnajSt11align_val_t
    no_heap _ZdlPv
    no_heap _ZdaPv
    no_heap _ZdlPvj
    no_heap _ZdaPvj
    no_heap _ZdlPvSt11align_val_t
    no_heap _ZdaPvSt11align_val_t
    no_heap _ZdlPvjSt11align_val_t
    no_heap _ZdaPvjSt11align_val_t
    udf #0
