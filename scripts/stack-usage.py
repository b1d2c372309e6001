#!/usr/bin/env python3
"""Worst-case stack depth of the firmware image, by static analysis.

    stack-usage.py --elf firmware.elf --map firmware.map --build-dir DIR
                   [--bounds scripts/stack-bounds.txt] [--limit 4096]
                   [--goal 3072] [--paths]

Frame sizes: the compiler's own figure for every function compiled by the
project (the .ci files that -fcallgraph-info=su leaves beside the objects
under DIR), and for the rest (C library, compiler support library,
assembly) the stack-pointer decrements of the function's code.  Where both
exist the larger one is taken.

Call graph: read from the linked image (objdump -d): bl and branches to
another function (tail calls, counted as calls), plus the indirect calls
(blx/bx through a register, loads into pc).  Every indirect call is listed.
Its possible targets come from the bounds file when it names the calling
function; otherwise they are all the functions whose address the image
holds as data (literal pools, tables, initialised data) or builds with
movw/movt, which is a superset of what a function pointer can hold.

Roots: ResetISR (the thread) and every handler in the vector table.  The
worst case is the thread's deepest path, plus one exception frame and the
deepest handler (handlers all run at the same priority, so they do not
nest), plus the hard fault handler and the NMI handler, which can preempt
everything below them.  An exception frame is 26 words (the frame with
floating-point state; lazy stacking reserves the room either way) plus 4
bytes of alignment.

Recursion (a cycle in the call graph) must be bounded by a line of the
bounds file; an unbounded one, or a function whose frame has no static
size, fails the analysis.  Exit status 1 when the worst case exceeds the
limit or cannot be bounded; the goal is only reported.
"""
import argparse
import bisect
import os
import re
import struct
import subprocess
import sys

EXCEPTION_FRAME = 26 * 4 + 4

# Exception numbers that preempt every configurable-priority handler.
NMI = 2
HARD_FAULT = 3


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


class Image:
    """Functions, sections and disassembly of the linked image."""

    def __init__(self, elf, readelf, objdump):
        self.elf = elf
        self.data = open(elf, "rb").read()
        self.sections = []  # (name, type, addr, offset, size, flags)
        for line in run([readelf, "-S", "-W", elf]).splitlines():
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s+(\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+\S+\s+(\S*)", line)
            if m:
                self.sections.append(
                    (m.group(1), m.group(2), int(m.group(3), 16), int(m.group(4), 16), int(m.group(5), 16), m.group(6))
                )
        self.symbols = {}  # name -> address (any type)
        funcs = {}  # address -> (name, size)
        for line in run([readelf, "-s", "-W", elf]).splitlines():
            f = line.split()
            if len(f) < 8 or not f[0].rstrip(":").isdigit():
                continue
            value, size, kind, ndx, name = int(f[1], 16), int(f[2]), f[3], f[6], f[7]
            self.symbols.setdefault(name, value)
            if kind == "FUNC" and ndx not in ("ABS", "UND") and value != 0:
                addr = value & ~1
                if addr not in funcs or (funcs[addr][1] == 0 and size):
                    funcs[addr] = (name, size)
        self.starts = sorted(funcs)
        self.names = [funcs[a][0] for a in self.starts]
        self.sizes = [funcs[a][1] for a in self.starts]
        self.by_name = {}
        for a, n in zip(self.starts, self.names):
            self.by_name.setdefault(n, a)
        self.insns = {}  # function address -> [(addr, mnemonic, operands)]
        current = None
        for line in run([objdump, "-d", "--no-show-raw-insn", elf]).splitlines():
            m = re.match(r"^([0-9a-f]+) <(.*)>:$", line)
            if m:
                current = self.function_at(int(m.group(1), 16))
                continue
            m = re.match(r"^\s+([0-9a-f]+):\t(\S+)\s*(.*)$", line)
            if m and current is not None:
                addr = int(m.group(1), 16)
                func = self.function_at(addr)
                if func is not None:
                    self.insns.setdefault(func, []).append((addr, m.group(2), m.group(3)))

    def function_at(self, addr):
        i = bisect.bisect_right(self.starts, addr) - 1
        if i < 0:
            return None
        start, size = self.starts[i], self.sizes[i]
        end = start + size if size else (self.starts[i + 1] if i + 1 < len(self.starts) else start + 1)
        return start if addr < end else None

    def name(self, addr):
        return self.names[self.starts.index(addr)]

    def words(self, section_names=None, skip=()):
        for name, kind, addr, offset, size, flags in self.sections:
            if kind != "PROGBITS" or "A" not in flags or name in skip:
                continue
            if section_names is not None and name not in section_names:
                continue
            for i in range(0, size - 3, 4):
                yield addr + i, struct.unpack_from("<I", self.data, offset + i)[0]

    def word_at(self, addr):
        for _, kind, start, offset, size, _ in self.sections:
            if kind == "PROGBITS" and start <= addr <= start + size - 4:
                return struct.unpack_from("<I", self.data, offset + addr - start)[0]
        return None

    def section_words(self, name):
        return [w for _, w in self.words([name])]


def compiler_frames(build_dir):
    """Frames from the .ci files: {mangled name: [(source, bytes, qualifier)]}."""
    frames = {}
    node = re.compile(r'node: \{ title: "([^"]*)" label: "((?:[^"\\]|\\.)*)"')
    for root, _, files in os.walk(build_dir):
        for f in files:
            if not f.endswith(".ci"):
                continue
            for line in open(os.path.join(root, f), errors="replace"):
                m = node.match(line)
                if not m:
                    continue
                size = re.search(r"\\n(\d+) bytes \(([^)]*)\)", m.group(2))
                if not size:
                    continue
                title = m.group(1)
                # Local functions are titled "source:name".
                source, _, name = title.rpartition(":") if "/" in title else ("", "", title)
                frames.setdefault(name, []).append((source, int(size.group(1)), size.group(2)))
    return frames


def map_objects(map_file):
    """Object file of every input section: sorted [(address, size, object)]."""
    spans = []
    pending = None
    started = False
    for line in open(map_file, errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("Linker script and memory map"):
            started = True
            continue
        if not started:
            continue
        m = re.match(r"^ (\.\S+|COMMON)\s*$", line)
        if m:
            pending = m.group(1)
            continue
        m = re.match(r"^ (?:(\.\S+|COMMON))?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m and (m.group(1) or pending):
            spans.append((int(m.group(2), 16), int(m.group(3), 16), m.group(4).strip()))
        pending = None
    spans.sort()
    return spans


STACK_INSN = [
    # push {r4, r5, lr} / push.w / stmdb sp!, {...}
    (re.compile(r"^(push|push\.w)$"), lambda ops: 4 * count_regs(ops)),
    (re.compile(r"^stmdb(\.w)?$"), lambda ops: 4 * count_regs(ops) if ops.startswith("sp!") else 0),
    (re.compile(r"^(vpush|vstmdb)"), lambda ops: count_vregs(ops) if "sp!" in ops or "{" in ops.split(",")[0] else 0),
    (re.compile(r"^(sub|subw|sub\.w|subs)$"), lambda ops: sub_sp(ops)),
    (re.compile(r"^(str|str\.w|strd)$"), lambda ops: pre_decrement(ops)),
]


def count_regs(ops):
    m = re.search(r"\{([^}]*)\}", ops)
    if not m:
        return 0
    n = 0
    for part in m.group(1).split(","):
        part = part.strip()
        r = re.match(r"r(\d+)-r(\d+)$", part)
        n += int(r.group(2)) - int(r.group(1)) + 1 if r else 1
    return n


def count_vregs(ops):
    m = re.search(r"\{([^}]*)\}", ops)
    if not m:
        return 0
    n = 0
    for part in m.group(1).split(","):
        part = part.strip()
        r = re.match(r"([sd])(\d+)(?:-[sd](\d+))?$", part)
        if r:
            width = 8 if r.group(1) == "d" else 4
            n += width * ((int(r.group(3)) - int(r.group(2)) + 1) if r.group(3) else 1)
    return n


def sub_sp(ops):
    m = re.match(r"sp, (?:sp, )?#(\d+)", ops)
    if m:
        return int(m.group(1))
    if re.match(r"sp, (?:sp, )?\w+", ops):
        return None  # variable: not static
    return 0


def pre_decrement(ops):
    m = re.search(r"\[sp, #-(\d+)\]!", ops)
    return int(m.group(1)) if m else 0


def code_frame(insns):
    """Sum of the stack-pointer decrements in a function's code (None if
    one of them is not a constant)."""
    total = 0
    for _, mnem, ops in insns:
        if re.match(r"^mov(\.w)?$", mnem) and ops.startswith("sp,"):
            return None
        for pattern, size in STACK_INSN:
            if pattern.match(mnem):
                n = size(ops)
                if n is None:
                    return None
                total += n
                break
    return total


def calls(image, func):
    """Direct callees and the indirect call sites of one function."""
    direct, indirect = set(), []
    tables = {}  # register -> address of a table loaded with adr
    for addr, mnem, ops in image.insns.get(func, []):
        base = mnem.split(".")[0]
        target = re.match(r"([0-9a-f]+) <", ops)
        adr = re.search(r"\(adr (\w+), ([0-9a-f]+)", ops)
        if adr:
            tables[adr.group(1)] = int(adr.group(2), 16)
        jump = re.match(r"pc, \[(\w+), \w+, lsl #2\]", ops)
        if base == "ldr" and jump and jump.group(1) in tables:
            # Switch table: its entries are addresses inside this function.
            entry, local = tables[jump.group(1)], 0
            while True:
                word = image.word_at(entry)
                if word is None or not word & 1 or image.function_at(word & ~1) != func:
                    break
                local, entry = local + 1, entry + 4
            if local:
                continue
        if base in ("bl", "blx") and target:
            callee = image.function_at(int(target.group(1), 16))
            if callee is not None:
                direct.add(callee)
        elif re.match(r"^b(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?$", base) and target:
            callee = image.function_at(int(target.group(1), 16))
            if callee is not None and callee != func:
                direct.add(callee)  # tail call
        elif base == "blx" or (base == "bx" and ops.strip() != "lr"):
            indirect.append(addr)
        elif base in ("ldr", "mov") and ops.startswith("pc,") and "[sp]" not in ops:
            indirect.append(addr)
    return direct, indirect


def address_taken(image):
    """Functions whose address (with the Thumb bit) is data in the image or
    is built with movw/movt; the vector table is left out (the hardware
    calls those, and they are roots of their own)."""
    starts = set(image.starts)
    taken = set()
    for _, word in image.words(skip=(".isr_vector",)):
        if word & 1 and (word & ~1) in starts:
            taken.add(word & ~1)
    for insns in image.insns.values():
        low = {}
        for _, mnem, ops in insns:
            m = re.match(r"(r\d+|ip|lr), #(\d+)", ops)
            if not m:
                continue
            if mnem.startswith("movw"):
                low[m.group(1)] = int(m.group(2))
            elif mnem.startswith("movt") and m.group(1) in low:
                value = (int(m.group(2)) << 16) | low[m.group(1)]
                if value & 1 and (value & ~1) in starts:
                    taken.add(value & ~1)
    return taken


def read_bounds(path):
    """Bounds file: 'indirect CALLER TARGET...' (TARGET may be
    'init-arrays'), 'recursion FUNCTION DEPTH' and 'frame FUNCTION BYTES';
    text after '#' is a comment."""
    indirect, recursion, frames = {}, {}, {}
    if not path:
        return indirect, recursion, frames
    for number, line in enumerate(open(path), 1):
        line = line.split("#", 1)[0].split()
        if not line:
            continue
        kind, args = line[0], line[1:]
        if kind == "indirect" and len(args) >= 2:
            indirect[args[0]] = args[1:]
        elif kind == "recursion" and len(args) == 2:
            recursion[args[0]] = int(args[1])
        elif kind == "frame" and len(args) == 2:
            frames[args[0]] = int(args[1])
        else:
            sys.exit(f"{path}:{number}: cannot read this line")
    return indirect, recursion, frames


def demangle(names, cxxfilt):
    try:
        out = subprocess.run([cxxfilt], input="\n".join(names), capture_output=True, text=True, check=True).stdout
        return dict(zip(names, out.splitlines()))
    except (OSError, subprocess.CalledProcessError):
        return {n: n for n in names}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--elf", required=True)
    ap.add_argument("--map", required=True)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--bounds")
    ap.add_argument("--limit", type=int, default=4096)
    ap.add_argument("--goal", type=int, default=3072)
    ap.add_argument("--paths", action="store_true", help="list the deepest path of every root")
    ap.add_argument("--figure-only", action="store_true", help="print only the worst case in bytes")
    args = ap.parse_args()

    prefix = os.environ.get("TOOL_PREFIX", "arm-none-eabi-")
    image = Image(args.elf, os.environ.get("READELF", prefix + "readelf"), os.environ.get("OBJDUMP", prefix + "objdump"))
    cxxfilt = os.environ.get("CXXFILT", prefix + "c++filt")
    ci = compiler_frames(args.build_dir)
    spans = map_objects(args.map)
    span_starts = [s[0] for s in spans]
    hand_indirect, hand_recursion, hand_frames = read_bounds(args.bounds)
    problems = []

    def object_of(addr):
        i = bisect.bisect_right(span_starts, addr) - 1
        if i >= 0 and spans[i][0] <= addr < spans[i][0] + spans[i][1]:
            return spans[i][2]
        return ""

    # Frame of every function.
    frame, frame_source = {}, {}
    for addr in image.starts:
        name = image.name(addr)
        from_code = code_frame(image.insns.get(addr, []))
        candidates = ci.get(name, [])
        if len(candidates) > 1:
            obj = os.path.basename(object_of(addr)).rstrip(")")
            obj = re.sub(r"\.obj$", "", obj.split("(")[-1])
            narrowed = [c for c in candidates if os.path.basename(c[0]) == obj]
            candidates = narrowed or candidates
        from_compiler = None
        if candidates:
            if any(q.startswith("dynamic") and q != "dynamic,bounded" for _, _, q in candidates):
                from_compiler = None
                from_code = None
            else:
                from_compiler = max(c[1] for c in candidates)
        if name in hand_frames:
            frame[addr], frame_source[addr] = hand_frames[name], "bounds file"
        elif from_code is None and from_compiler is None:
            frame[addr], frame_source[addr] = None, "variable"
        else:
            frame[addr] = max(x for x in (from_code, from_compiler) if x is not None)
            frame_source[addr] = "compiler" if from_compiler is not None else "code"

    # Call graph.
    taken = address_taken(image)
    init_targets = set()
    for section in (".preinit_array", ".init_array"):
        for word in image.section_words(section):
            f = image.function_at(word & ~1)
            if f is not None:
                init_targets.add(f)
    graph, indirect_sites = {}, {}
    for addr in image.starts:
        direct, indirect = calls(image, addr)
        graph[addr] = set(direct)
        if indirect:
            indirect_sites[addr] = indirect
            name = image.name(addr)
            if name in hand_indirect:
                targets = set()
                for t in hand_indirect[name]:
                    if t == "init-arrays":
                        targets |= init_targets
                    elif t in image.by_name:
                        targets.add(image.by_name[t])
            else:
                targets = set(taken)
            graph[addr] |= targets

    # Bounds that no longer match the image are reported, so that the file
    # keeps up with the code.
    warnings = []
    for name, targets in hand_indirect.items():
        if name not in image.by_name or image.by_name[name] not in indirect_sites:
            warnings.append(f"bounds file: {name} makes no indirect call in the image")
        for t in targets:
            if t != "init-arrays" and image.by_name.get(t) not in taken:
                warnings.append(f"bounds file: {t} (listed for {name}) is not an address-taken function of the image")

    # Handlers in the vector table.
    vectors = image.section_words(".isr_vector")
    handlers = {}  # function -> [exception numbers]
    for number, word in enumerate(vectors):
        if number in (0, 1) or word == 0:  # stack top, reset
            continue
        f = image.function_at(word & ~1)
        if f is not None:
            handlers.setdefault(f, []).append(number)
    reset = image.by_name.get("ResetISR")
    if reset is None:
        sys.exit("stack-usage: ResetISR not found in the image")

    # Strongly connected components (recursion), iteratively (Tarjan).
    index, low, on_stack, stack, sccs = {}, {}, set(), [], []
    counter = [0]
    for root in image.starts:
        if root in index:
            continue
        work = [(root, iter(sorted(graph[root])))]
        index[root] = low[root] = counter[0]
        counter[0] += 1
        stack.append(root)
        on_stack.add(root)
        while work:
            node, it = work[-1]
            advanced = False
            for succ in it:
                if succ not in index:
                    index[succ] = low[succ] = counter[0]
                    counter[0] += 1
                    stack.append(succ)
                    on_stack.add(succ)
                    work.append((succ, iter(sorted(graph[succ]))))
                    advanced = True
                    break
                if succ in on_stack:
                    low[node] = min(low[node], index[succ])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                comp = []
                while True:
                    w = stack.pop()
                    on_stack.discard(w)
                    comp.append(w)
                    if w == node:
                        break
                sccs.append(comp)
    component = {}
    for i, comp in enumerate(sccs):
        for f in comp:
            component[f] = i

    # Reachable functions from the roots only matter.
    roots = [reset] + sorted(handlers)
    reachable, todo = set(), list(roots)
    while todo:
        f = todo.pop()
        if f in reachable:
            continue
        reachable.add(f)
        todo.extend(graph[f])

    cyclic_names = set()
    for comp in sccs:
        if len(comp) > 1 or comp[0] in graph[comp[0]]:
            cyclic_names |= {image.name(f) for f in comp}
    for name in hand_recursion:
        if name not in cyclic_names:
            warnings.append(f"bounds file: {name} is not recursive in the image")

    recursion_notes = []
    comp_cost = {}
    for i, comp in enumerate(sccs):
        cyclic = len(comp) > 1 or comp[0] in graph[comp[0]]
        if not cyclic:
            continue
        if not any(f in reachable for f in comp):
            continue
        names = sorted(image.name(f) for f in comp)
        depth = max((hand_recursion[n] for n in names if n in hand_recursion), default=None)
        if depth is None:
            problems.append("recursion not bounded: " + ", ".join(names) + " (add 'recursion NAME DEPTH' to the bounds file)")
        comp_cost[i] = depth or 1
        recursion_notes.append((names, depth))

    for f in reachable:
        if frame[f] is None:
            problems.append(f"no static frame size for {image.name(f)} (add 'frame NAME BYTES' to the bounds file)")
            frame[f] = 0

    # Deepest path from each function, over the graph of components.
    memo = {}

    def deepest(f):
        c = component[f]
        if c in memo:
            return memo[c]
        # Iterative post-order over components.
        order, seen, work = [], set(), [c]
        while work:
            x = work[-1]
            if x in seen:
                work.pop()
                if x not in memo and x not in order:
                    order.append(x)
                continue
            seen.add(x)
            for member in sccs[x]:
                for succ in graph[member]:
                    y = component[succ]
                    if y != x and y not in memo and y not in seen:
                        work.append(y)
        for x in order:
            members = sccs[x]
            own = sum(frame[m] or 0 for m in members) * comp_cost.get(x, 1)
            best, via = 0, None
            for member in members:
                for succ in graph[member]:
                    y = component[succ]
                    if y != x and memo[y][0] > best:
                        best, via = memo[y][0], succ
            memo[x] = (own + best, via)
        return memo[c]

    def path(f):
        out = []
        seen = set()
        while f is not None and f not in seen:
            seen.add(f)
            out.append(f)
            f = memo[component[f]][1]
        return out

    thread = deepest(reset)[0]
    irq_handlers = [f for f in handlers if not set(handlers[f]) & {NMI, HARD_FAULT}]
    fault_handlers = [f for f in handlers if HARD_FAULT in handlers[f]]
    nmi_handlers = [f for f in handlers if NMI in handlers[f]]

    def worst_of(funcs):
        best = max(funcs, key=lambda f: deepest(f)[0], default=None)
        return (deepest(best)[0], best) if best is not None else (0, None)

    irq, irq_root = worst_of(irq_handlers)
    fault, fault_root = worst_of(fault_handlers)
    nmi, nmi_root = worst_of(nmi_handlers)
    total = thread + EXCEPTION_FRAME + irq
    total += (EXCEPTION_FRAME + fault) if fault_root is not None else 0
    total += (EXCEPTION_FRAME + nmi) if nmi_root is not None else 0

    if args.figure_only:
        print(total)
        return 1 if problems or total > args.limit else 0

    all_names = list(image.names)
    pretty = demangle(all_names, cxxfilt)

    def short(f):
        """Demangled name without its parameter list."""
        text = pretty.get(image.name(f), image.name(f))
        clone = re.search(r" \[clone [^]]*\]$", text)
        if clone:
            text = text[: clone.start()]
        if text.endswith(")"):
            depth = 0
            for i in range(len(text) - 1, -1, -1):
                depth += {")": 1, "(": -1}.get(text[i], 0)
                if depth == 0:
                    text = text[:i]
                    break
        return text + (clone.group(0) if clone else "")

    def chain(root):
        return " > ".join(short(f) for f in path(root)) if root is not None else "-"

    print(f"  stack, static worst case: {total} of {args.limit} bytes (goal {args.goal})")
    print(f"    thread:                           {thread:5d}  {chain(reset)}")
    print(f"    + exception frame, handler:       {EXCEPTION_FRAME + irq:5d}  {chain(irq_root)}")
    if fault_root is not None:
        print(f"    + exception frame, hard fault:    {EXCEPTION_FRAME + fault:5d}  {chain(fault_root)}")
    if nmi_root is not None:
        print(f"    + exception frame, NMI:           {EXCEPTION_FRAME + nmi:5d}  {chain(nmi_root)}")
    listed = sorted((f for f in indirect_sites if f in reachable), key=lambda f: image.name(f))
    if listed:
        print("    indirect calls (reachable):")
        for f in listed:
            name = image.name(f)
            if name in hand_indirect:
                how = "bounds file: " + " ".join(hand_indirect[name])
            else:
                how = "any address-taken function: " + (" ".join(sorted(short(t) for t in taken)) or "none")
            print(f"      {short(f)} ({len(indirect_sites[f])} sites) -> {how}")
    else:
        print("    indirect calls (reachable): none")
    if recursion_notes:
        print("    recursion:")
        for names, depth in recursion_notes:
            bound = f"at most {depth} deep" if depth else "NOT BOUNDED (counted once)"
            print(f"      {' '.join(names)}: {bound}")
    else:
        print("    recursion: none")
    unknown = sum(1 for f in reachable if frame_source.get(f) == "code")
    print(f"    frames: {len(reachable) - unknown} functions from the compiler, {unknown} from their code")

    if args.paths:
        for label, root in (("thread", reset), ("handler", irq_root), ("hard fault", fault_root), ("NMI", nmi_root)):
            if root is None:
                continue
            print(f"    deepest {label} path:")
            for f in path(root):
                times = comp_cost.get(component[f], 1)
                repeat = f" x{times}" if times > 1 else ""
                print(f"      {frame[f]:5d}{repeat:3s}  {short(f)}")

    status = 0
    for w in warnings:
        print("warning: " + w, file=sys.stderr)
    for p in problems:
        print("error: " + p, file=sys.stderr)
        status = 1
    if total > args.limit:
        print(f"error: the worst-case stack depth {total} bytes exceeds the {args.limit}-byte stack", file=sys.stderr)
        status = 1
    elif total > args.goal:
        print(f"warning: the worst-case stack depth {total} bytes is above the goal of {args.goal}", file=sys.stderr)
    return status


if __name__ == "__main__":
    sys.exit(main())
