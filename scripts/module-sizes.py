#!/usr/bin/env python3
"""Flash and RAM of the firmware image by module, from the linker map.

    module-sizes.py --map firmware.map --build-dir DIR [--flash-goal N] [--ram-goal N]

A module is a source file of the project (its path without the extension,
found from the object's name under the build directory DIR), or one line
for each library (C library, compiler support, ...).  Flash counts code,
constants and the initial values of .data; RAM counts .data, .bss and the
stack.  The totals equal the image's own figures.  Goals are reported, not
enforced: the chip's limits are checked by size-report.sh and the linker.
"""
import argparse
import os
import re
import sys

RAM_START = 0x20000000
# Output sections that take flash and those that take RAM (.data and .tdata
# take both: the initial values are in flash).
FLASH = {".isr_vector", ".text", ".ARM.extab", ".ARM.exidx", ".preinit_array", ".init_array", ".fini_array", ".data",
         ".tdata"}
RAM = {".data", ".tdata", ".tbss", ".bss", ".stack"}

LIBRARIES = {
    "libc.a": "C library (picolibc)",
    "libm.a": "maths library (picolibc)",
    "libgcc.a": "compiler support (libgcc)",
    "libstdc++.a": "C++ library",
}


def parse_map(path):
    """Input sections [(output section, input section, address, size,
    object)] and output sections {name: (address, size)}."""
    entries, outputs = [], {}
    output = None
    pending_output = None
    pending_input = None
    started = False
    for line in open(path, errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("Linker script and memory map"):
            started = True
            continue
        if not started or not line:
            continue
        m = re.match(r"^(\.\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+).*)?$", line)
        if m:
            output = m.group(1)
            if m.group(2):
                outputs[output] = (int(m.group(2), 16), int(m.group(3), 16))
                pending_output = None
            else:
                pending_output = output
            pending_input = None
            continue
        m = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s*$", line)
        if m and pending_output:
            outputs[pending_output] = (int(m.group(1), 16), int(m.group(2), 16))
            pending_output = None
            continue
        pending_output = None
        m = re.match(r"^ (\.\S+|COMMON|\*fill\*)\s*$", line)
        if m:
            pending_input = m.group(1)
            continue
        m = re.match(r"^ (\.\S+|COMMON|\*fill\*)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)(?:\s+(\S.*))?$", line)
        if m and (m.group(1) or pending_input):
            name = m.group(1) or pending_input
            obj = (m.group(4) or "").strip()
            if name == "*fill*":
                obj = "(alignment)"
            entries.append((output, name, int(m.group(2), 16), int(m.group(3), 16), obj))
        pending_input = None
    return entries, outputs


class Namer:
    """Module name of an object file named in the map."""

    def __init__(self, build_dir, map_dir):
        self.build_dir = os.path.abspath(build_dir)
        self.map_dir = os.path.abspath(map_dir)
        self.objects = {}  # object basename -> [path relative to the build dir]
        for root, _, files in os.walk(self.build_dir):
            if "CMakeFiles" not in root:
                continue
            for f in files:
                if f.endswith(".obj") or f.endswith(".o"):
                    rel = os.path.relpath(os.path.join(root, f), self.build_dir)
                    self.objects.setdefault(f, []).append(rel)

    @staticmethod
    def source_of(rel):
        # dir/CMakeFiles/target.dir/sub/file.cpp.obj -> dir/sub/file
        rel = re.sub(r"(^|/)CMakeFiles/[^/]+\.dir/", r"\1", rel)
        rel = re.sub(r"\.(obj|o)$", "", rel)
        return re.sub(r"\.(cpp|cc|c|S|s)$", "", rel)

    def __call__(self, obj):
        if obj.startswith("("):
            return obj
        if obj == "":
            return "(linker)"
        m = re.match(r"^(.*)\((.*)\)$", obj)
        if m:
            library, member = os.path.basename(m.group(1)), m.group(2)
            if library in LIBRARIES:
                return LIBRARIES[library]
            # The archive's objects are under CMakeFiles in its own directory.
            archive_dir = os.path.relpath(os.path.dirname(os.path.join(self.map_dir, m.group(1))), self.build_dir)
            prefix = "" if archive_dir == "." else archive_dir + "/"
            candidates = [c for c in self.objects.get(member, []) if c.startswith(prefix + "CMakeFiles/")]
            if len(candidates) == 1:
                return self.source_of(candidates[0])
            return f"{library}({member})"
        if os.path.basename(obj) in LIBRARIES:
            return LIBRARIES[os.path.basename(obj)]
        path = os.path.abspath(os.path.join(self.map_dir, obj))
        if path.startswith(self.build_dir + os.sep):
            return self.source_of(os.path.relpath(path, self.build_dir))
        return obj


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--map", required=True)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--flash-goal", type=int, default=160 * 1024)
    ap.add_argument("--ram-goal", type=int, default=20 * 1024)
    args = ap.parse_args()

    name = Namer(args.build_dir, os.path.dirname(args.map))
    flash, ram = {}, {}
    entries, outputs = parse_map(args.map)
    counted = {}
    for output, _, addr, size, obj in entries:
        if size == 0 or output not in FLASH | RAM:
            continue
        counted[output] = counted.get(output, 0) + size
        module = name(obj)
        if output in FLASH:
            flash[module] = flash.get(module, 0) + size
        if output in RAM and addr >= RAM_START:
            ram[module] = ram.get(module, 0) + size
    # What the linker script adds itself: the stack, and alignment.
    for output, (addr, size) in outputs.items():
        rest = size - counted.get(output, 0)
        if rest <= 0 or output not in FLASH | RAM:
            continue
        module = "(stack)" if output == ".stack" else "(alignment)"
        if output in FLASH:
            flash[module] = flash.get(module, 0) + rest
        if output in RAM and addr >= RAM_START:
            ram[module] = ram.get(module, 0) + rest
    modules = sorted(set(flash) | set(ram), key=lambda m: (-flash.get(m, 0), -ram.get(m, 0), m))
    width = max([len(m) for m in modules] + [20])
    total_flash, total_ram = sum(flash.values()), sum(ram.values())
    print("  flash and RAM by module (bytes):")
    print(f"    {'module':{width}s}  {'flash':>7s}  {'RAM':>7s}")
    for m in modules:
        print(f"    {m:{width}s}  {flash.get(m, 0):7d}  {ram.get(m, 0):7d}")
    print(f"    {'total':{width}s}  {total_flash:7d}  {total_ram:7d}")
    print(f"  goals: flash {total_flash} of {args.flash_goal} bytes, static RAM {total_ram} of {args.ram_goal} bytes")
    for what, value, goal in (("flash", total_flash, args.flash_goal), ("static RAM", total_ram, args.ram_goal)):
        if value > goal:
            print(f"warning: {what} {value} bytes is above the goal of {goal}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
