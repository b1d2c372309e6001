#!/usr/bin/env python3
"""Runs the firmware image under QEMU and talks to it on UART0.

    qemu-console.py --elf firmware.elf --exchange FILE --source-dir DIR
                    [--static-bytes N] [--measure] [--timeout S]

QEMU's Stellaris board (lm3s6965evb, with a Cortex-M4 core) boots the
image; its UART0 is this script's pipe.  The exchange file says what to
type and what to wait for (see tests/qemu/exchange.txt); a key is typed
once the firmware polls for input (see Qemu.wait_listening).  Every wait
is bounded (--timeout seconds each; the machine may be slow and shared)
and polls the output or the processor; nothing waits a fixed time.  Output that the exchange
does not name must consist of empty lines and the messages listed in
docs/target.md under "Messages under QEMU" (QEMU lacks blocks of the
TM4C123); the main menu is compared with the one the README shows.

At the end gdb-multiarch attaches to QEMU's gdb stub and reads the stack's
high-water mark (scripts/stack-high-water.gdb).  With --static-bytes the
mark must not exceed the static worst case.

Default (check): exit status 0 when everything matched, 1 otherwise with
the reason and the transcript on standard error.  --measure (for the size
report): print one line with the high-water mark, or why there is none;
exit status 0 even when the exchange did not complete.
"""
import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

GDB_SCRIPT = "scripts/stack-high-water.gdb"


class Failure(Exception):
    pass


def unescape(text):
    return text.encode("latin-1").decode("unicode_escape")


def readme_menu(source_dir):
    """Lines of the main menu in the README's "What you see" section, with
    VERSION replaced by FIRMWARE_VERSION_STR of records/version.h."""
    version = re.search(r'FIRMWARE_VERSION_STR\[\]\s*=\s*"([^"]*)"', open(os.path.join(source_dir, "records/version.h")).read())
    if not version:
        raise Failure("records/version.h: FIRMWARE_VERSION_STR not found")
    lines, section, block = [], False, False
    for line in open(os.path.join(source_dir, "README.md")):
        line = line.rstrip("\n")
        if line.startswith("## "):
            section = line.strip() == "## What you see"
            continue
        if not section:
            continue
        if line.startswith("    ") and line.strip():
            block = True
            lines.append(line[4:].rstrip().replace("VERSION", version.group(1)))
        elif block:
            break
    if not lines or not lines[0].startswith("Main Menu"):
        raise Failure("README.md: no main menu block under '## What you see'")
    return lines


def allowed_messages(source_dir):
    """Regular expressions of the lines listed in docs/target.md under
    "Messages under QEMU": the first column of its table, in backticks,
    with '…' standing for any text."""
    patterns, section = [], False
    for line in open(os.path.join(source_dir, "docs/target.md"), encoding="utf-8"):
        if line.startswith("#"):
            section = line.strip("# \n") == "Messages under QEMU"
            continue
        m = re.match(r"^\|\s*`([^`]*)`\s*\|", line) if section else None
        if m:
            text = m.group(1).rstrip()
            patterns.append(re.compile(".*".join(re.escape(part) for part in text.split("…"))))
    if not patterns:
        raise Failure("docs/target.md: no table of messages under '## Messages under QEMU'")
    return patterns


class Qemu:
    def __init__(self, elf, timeout, stopped=False):
        for tool in ("qemu-system-arm", "gdb-multiarch"):
            if shutil.which(tool) is None:
                raise Failure(f"{tool} not found: install it with ./scripts/install-deps.sh")
        self.elf = elf
        self.timeout = timeout
        # A short path: a Unix socket's name is limited to about 100 bytes.
        self.dir = tempfile.mkdtemp(prefix="varve-qemu-", dir="/tmp" if os.path.isdir("/tmp") else None)
        self.socket = os.path.join(self.dir, "gdb")
        self.stderr = open(os.path.join(self.dir, "stderr"), "w+")
        cmd = ["qemu-system-arm", "-M", "lm3s6965evb", "-cpu", "cortex-m4", "-kernel", elf, "-display", "none",
               "-monitor", "none", "-serial", "stdio", "-gdb", f"unix:{self.socket},server=on,wait=off"]
        if stopped:
            cmd.append("-S")
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr)
        self.output = ""  # everything UART0 sent, one character per byte
        self.pos = 0  # how far the exchange has consumed it

    def read_until(self, predicate, what):
        deadline = time.monotonic() + self.timeout
        while not predicate():
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"no {what} within {self.timeout:g} s")
            ready, _, _ = select.select([self.proc.stdout], [], [], min(left, 0.5))
            if ready:
                data = os.read(self.proc.stdout.fileno(), 4096)
                if not data:
                    self.proc.wait(timeout=self.timeout)
                    raise Failure(f"QEMU ended (status {self.proc.returncode}) before {what}")
                self.output += data.decode("latin-1")
            elif self.proc.poll() is not None:
                raise Failure(f"QEMU ended (status {self.proc.returncode}) before {what}")

    def send(self, text):
        self.proc.stdin.write(text.encode("latin-1"))
        self.proc.stdin.flush()

    def wait_listening(self, what):
        """Returns once the firmware polls the console for input.

        QEMU's UART sends a byte the moment it is written, so a prompt
        appears before the code after it has run; a menu discards pending
        input (UARTFlushRx) after printing itself, which would swallow a
        key typed at once.  (On the chip the prompt takes its time on the
        wire, and the flush is long done when it has arrived.)  Every
        input wait of the firmware polls UARTRxBytesAvail, after any
        flush: gdb stops there once and lets the firmware run on."""
        out = self.gdb("tbreak UARTRxBytesAvail", "continue")
        if not re.search(r"^Temporary breakpoint \d+, .*UARTRxBytesAvail", out, re.MULTILINE):
            raise Failure(f"the firmware does not poll the console for input ({what}):\n{out}")

    def wait_socket(self):
        deadline = time.monotonic() + self.timeout
        while not os.path.exists(self.socket):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise Failure("QEMU's gdb stub did not appear")
            time.sleep(0.05)

    def gdb(self, *commands, script=None):
        """Runs gdb-multiarch in batch mode against the stub; its output."""
        self.wait_socket()
        cmd = ["gdb-multiarch", "-batch", "-nx", "-ex", f"target remote {self.socket}"]
        for c in commands:
            cmd += ["-ex", c]
        if script:
            cmd += ["-x", script]
        cmd += ["-ex", "detach", self.elf]
        try:
            done = subprocess.run(cmd, capture_output=True, text=True, timeout=self.timeout, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            raise Failure(f"gdb-multiarch did not finish within {self.timeout:g} s")
        return done.stdout + done.stderr

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.stderr.seek(0)
        errors = self.stderr.read()
        self.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)
        return errors


def check_lines(text, allowed, where):
    """Every line of text is empty or an allowed message."""
    for line in text.split("\n"):
        line = line.strip("\r").rstrip()
        if line and not any(p.fullmatch(line) for p in allowed):
            raise Failure(f"unexpected line {where}: {line!r}")


def run_exchange(qemu, steps, menu, allowed, strict):
    """Plays the exchange; returns the number of steps done."""
    done = 0
    for number, (kind, arg) in steps:
        if kind == "send":
            qemu.wait_listening(f"exchange line {number}")
            qemu.send(arg)
        elif kind == "expect":
            qemu.read_until(lambda: arg in qemu.output[qemu.pos:], f"{arg!r} (exchange line {number})")
            at = qemu.output.index(arg, qemu.pos)
            if strict:
                check_lines(qemu.output[qemu.pos:at], allowed, f"before {arg!r} (exchange line {number})")
            qemu.pos = at + len(arg)
        elif kind == "through":
            qemu.read_until(lambda: arg in qemu.output[qemu.pos:], f"{arg!r} (exchange line {number})")
            qemu.pos = qemu.output.index(arg, qemu.pos) + len(arg)
        elif kind == "menu":
            last = menu[-1]
            qemu.read_until(lambda: last in qemu.output[qemu.pos:], f"main menu (exchange line {number})")
            end = qemu.output.index(last, qemu.pos) + len(last)
            lines = qemu.output[qemu.pos:end].split("\r\n")
            shown = [line.rstrip() for line in lines[-len(menu):]]
            if shown != menu:
                raise Failure(f"main menu differs from the README (exchange line {number}):\n  shown:  "
                              + "\n          ".join(shown) + "\n  README: " + "\n          ".join(menu))
            if strict:
                check_lines("\r\n".join(lines[: -len(menu)]), allowed, f"before the main menu (exchange line {number})")
            qemu.pos = end
        done += 1
    return done


def read_exchange(path):
    steps = []
    for number, line in enumerate(open(path), 1):
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#"):
            continue
        kind, _, arg = line.partition(" ")
        if kind not in ("send", "expect", "through", "menu"):
            raise Failure(f"{path}:{number}: unknown step {kind!r}")
        steps.append((number, (kind, unescape(arg))))
    return steps


def high_water(qemu, source_dir):
    out = qemu.gdb(script=os.path.join(source_dir, GDB_SCRIPT))
    m = re.search(r"stack high-water mark: (\d+) of (\d+) bytes", out)
    if not m:
        raise Failure("gdb did not report the stack high-water mark:\n" + out)
    return int(m.group(1)), int(m.group(2))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--elf", required=True)
    ap.add_argument("--exchange", required=True)
    ap.add_argument("--source-dir", required=True)
    ap.add_argument("--static-bytes", type=int)
    ap.add_argument("--measure", action="store_true")
    ap.add_argument("--timeout", type=float, default=120.0, help="limit of each wait, in seconds")
    args = ap.parse_args()

    qemu = None
    steps = []
    failed = False
    try:
        steps = read_exchange(args.exchange)
        menu = readme_menu(args.source_dir)
        allowed = allowed_messages(args.source_dir)
        qemu = Qemu(args.elf, args.timeout)
        failure = None
        try:
            run_exchange(qemu, steps, menu, allowed, strict=not args.measure)
        except Failure as e:
            if not args.measure:
                raise
            failure = e
        used, size = high_water(qemu, args.source_dir)
        if args.measure:
            note = "boot, main menu and the QEMU test's keys" if failure is None else f"exchange incomplete: {failure}"
            print(f"  stack, measured under QEMU: {used} of {size} bytes ({note})")
            return 0
        if args.static_bytes is not None and used > args.static_bytes:
            raise Failure(f"stack high-water mark {used} bytes exceeds the static worst case {args.static_bytes}")
        print(f"QEMU: start-up, main menu and {len(steps)} exchange steps as expected; "
              f"stack high-water mark {used} of {size} bytes")
        return 0
    except Failure as e:
        if args.measure:
            print(f"  stack, measured under QEMU: not measured ({e})")
            return 0
        failed = True
        print(f"FAIL: {e}", file=sys.stderr)
        if qemu is not None:
            print("--- UART0 transcript (the exchange had consumed up to >>>):", file=sys.stderr)
            print(repr(qemu.output[: qemu.pos]) + " >>> " + repr(qemu.output[qemu.pos:]), file=sys.stderr)
        return 1
    finally:
        if qemu is not None:
            errors = qemu.stop()
            if errors.strip() and failed:
                print("--- QEMU's messages:\n" + errors.rstrip(), file=sys.stderr)


if __name__ == "__main__":
    sys.exit(main())
