#!/usr/bin/env python3
"""The debugging session of docs/target.md, in batch mode: QEMU starts
stopped with its gdb stub, gdb-multiarch connects, stops at main and reads
what the start-up code has set by then.  Before the start-up code runs,
gdb spoils a variable of .data and one of .bss, so that their set-up shows
(QEMU's RAM is zero at power-up anyway).

    gdb_stub_test.py SOURCE_DIR firmware.elf
"""
import importlib.util
import os
import re
import sys

source_dir, elf = sys.argv[1], sys.argv[2]
spec = importlib.util.spec_from_file_location("qemu_console", os.path.join(source_dir, "scripts/qemu-console.py"))
harness = importlib.util.module_from_spec(spec)
spec.loader.exec_module(harness)


def expect(pattern, text, what):
    m = re.search(pattern, text, re.MULTILINE)
    if not m:
        raise harness.Failure(f"{what}: no match for {pattern!r} in gdb's output:\n{text}")
    return m


qemu = None
try:
    qemu = harness.Qemu(elf, timeout=120.0, stopped=True)
    out = qemu.gdb(
        "set var 'uartstdio.cpp'::g_ui32Base = 0",
        "set var *(unsigned int *) &sys_samp = 0xffffffff",
        "break main",
        "continue",
        "print g_pfnVectors[1]",
        "print/x 'uartstdio.cpp'::g_ui32Base",
        "print/x *(unsigned int *) 0xE000ED88",
        "print/x $sp",
        "print/x *(unsigned int *) &sys_samp",
        "source " + os.path.join(source_dir, harness.GDB_SCRIPT),
    )
    expect(r"^Breakpoint 1, main \(\) at .*app/main\.cpp:\d+", out, "stop at main")
    # Flash: the reset vector.  Data copied from flash by the start-up code.
    expect(r"^\$1 = \(const vector_fn\) 0x[0-9a-f]+ <ResetISR\(\)>", out, "vector table")
    expect(r"^\$2 = 0x4000c000$", out, "initialised data (console UART base)")
    # Floating-point unit enabled (CPACR: CP10 and CP11 full access).
    expect(r"^\$3 = 0xf00000$", out, "FPU enabled before main")
    sp = int(expect(r"^\$4 = (0x[0-9a-f]+)$", out, "stack pointer").group(1), 16)
    expect(r"^\$5 = 0x0$", out, "zeroed data (sys_samp)")
    if not 0x20000000 < sp <= 0x20001000:
        raise harness.Failure(f"stack pointer 0x{sp:x} at main is outside the stack 0x20000000-0x20001000")
    used = int(expect(r"^stack high-water mark: (\d+) of 4096 bytes$", out, "high-water mark").group(1))
    if not 0x20001000 - sp <= used < 4096:
        raise harness.Failure(f"high-water mark {used} bytes at main, with {0x20001000 - sp} bytes in use")
    print(f"gdb: stopped at main; vector table, .data, .bss, CPACR, sp 0x{sp:x}, high-water mark {used} bytes")
    status = 0
except harness.Failure as e:
    print(f"FAIL: {e}", file=sys.stderr)
    status = 1
finally:
    if qemu is not None:
        errors = qemu.stop()
sys.exit(status)
