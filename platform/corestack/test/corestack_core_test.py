#!/usr/bin/env python3
"""corestack on core files of the crasher test program, laid out as the
kernel writes them: every file-backed text segment held as its first page
(or not at all), the rest of the program's code in its files.

Natively the crasher dies under this process's own raised RLIMIT_CORE and
the kernel writes the core (core_pattern is left as it is; where it is a
pipe or a path elsewhere, the tests are skipped). With an emulator prefix
(the device build under qemu-arm) qemu-arm writes a target core file, which
is rewritten into the kernel's layout with the kernel's file table (NT_FILE).
corestack's report and JSON document are checked against the crasher's known
threads and functions and, thread by thread, against gdb's view of the same
core (gdbstacks.py).

usage: corestack_core_test.py --emulator "<prefix>" <corestack> <crasher>
"""
import glob
import json
import os
import random
import re
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import scripttest  # tools/testing, on PYTHONPATH

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gdbstacks import compare, gdb_stacks, report_stacks  # noqa: E402

SIGNALLED_STACK = ["crasher_fault()", "crashtest::Crasher::fire(int)",
                   "crashtest::Crasher::fire(int)", "main()"]
PARK = "crashtest::Worker::park(int, int)"
WORKER_FUNCTIONS = [PARK, "crashtest::workerMain(void*)"]

FRAME_RE = re.compile(r"^#(\d+) +PC 0x([0-9a-f]+) in \((.*?)\) (.*) \+ 0x([0-9a-f]+)$")
THREAD_RE = re.compile(r"^Thread (-?\d+) \(LWP (-?\d+), (.*)\)$")


def raise_core_limit():
    hard = resource.getrlimit(resource.RLIMIT_CORE)[1]
    resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))


PAGE = 4096
PT_LOAD, PT_NOTE = 1, 4
NT_FILE = 0x46494C45


def kernel_style_core(source, maps, target):
    """Writes `source`, a qemu-arm core, as the kernel would have written it:
    a file-backed executable segment holds its first page when its file
    starts with an ELF header there, nothing otherwise; the notes end with
    the file table of `maps` ((start, end, offset, path, permissions))."""
    with open(source, "rb") as f:
        data = f.read()
    phoff, = struct.unpack_from("<I", data, 28)
    phnum, = struct.unpack_from("<H", data, 44)
    headers = [list(struct.unpack_from("<8I", data, phoff + 32 * i)) for i in range(phnum)]
    assert [h[0] for h in headers].count(PT_NOTE) == 1
    files = [m for m in maps if m[3].startswith("/")]
    desc = struct.pack("<2I", len(files), PAGE)
    desc += b"".join(struct.pack("<3I", m[0], m[1], m[2] // PAGE) for m in files)
    desc += b"".join(m[3].encode() + b"\0" for m in files)
    desc += b"\0" * (-len(desc) % 4)
    body = b"".join(data[h[1]:h[1] + h[4]] for h in headers if h[0] == PT_NOTE)
    body = bytearray(body + struct.pack("<3I", 5, len(desc), NT_FILE) + b"CORE\0\0\0\0" + desc)
    start = phoff + 32 * phnum
    text = {m[0]: m for m in files if m[4] == "r-xp"}
    for h in headers:
        if h[0] == PT_NOTE:
            h[1], h[4] = start, len(body)
    for h in headers:
        if h[0] != PT_LOAD:
            continue
        chunk = data[h[1]:h[1] + h[4]]
        if h[2] in text:
            with open(text[h[2]][3], "rb") as f:
                f.seek(text[h[2]][2])
                chunk = f.read(PAGE)
            chunk = chunk if chunk.startswith(b"\x7fELF") else b""
        body += b"\0" * (-(start + len(body)) % PAGE)
        h[1], h[4] = start + len(body), len(chunk)
        body += chunk
    with open(target, "wb") as f:
        f.write(data[:phoff] + b"".join(struct.pack("<8I", *h) for h in headers) + body)


def kernel_core_name():
    """The glob of the core files the host kernel writes into the crashing
    program's directory; SkipTest where it writes them anywhere else."""
    with open("/proc/sys/kernel/core_pattern") as f:
        pattern = f.read().strip()
    if pattern.startswith("|"):
        raise unittest.SkipTest("core_pattern pipes core files to a program (%s); "
                                "this test does not change it" % pattern)
    if "/" in pattern:
        raise unittest.SkipTest("core_pattern writes core files elsewhere (%s); "
                                "this test does not change it" % pattern)
    return re.sub(r"%.", "*", pattern) + "*"


class Crash:
    """One crash of (a copy of) the crasher: its core file, thread ids and
    module ranges."""

    def __init__(self, crasher, workdir):
        if resource.getrlimit(resource.RLIMIT_CORE)[1] == 0:
            raise unittest.SkipTest("the hard RLIMIT_CORE is 0: no core files can be written")
        self.workdir = workdir
        self.emulator = crasher.emulator
        self.program = os.path.join(workdir, "crasher")
        shutil.copy(crasher, self.program)
        info = os.path.join(workdir, "info")
        self.core = os.path.join(workdir, "crash.core")
        if crasher.emulator:
            subprocess.run([*crasher.emulator, self.program, info], cwd=workdir, preexec_fn=raise_core_limit,
                           capture_output=True, timeout=60)
            cores = glob.glob(os.path.join(workdir, "qemu_*.core"))
            # qemu-arm itself may leave a core of the host process: not ours.
            host_core = os.path.join(workdir, "core")
            if os.path.exists(host_core):
                os.remove(host_core)
            assert len(cores) == 1, os.listdir(workdir)
        else:
            name = kernel_core_name()
            subprocess.run([self.program, info], cwd=workdir, preexec_fn=raise_core_limit,
                           capture_output=True, timeout=60)
            cores = [c for c in glob.glob(os.path.join(workdir, name)) if c != self.program]
            assert len(cores) == 1, os.listdir(workdir)

        self.tids = {}      # name -> LWP
        maps = []           # (start, end, offset, path, permissions)
        with open(info) as f:
            for line in f:
                fields = line.split()
                if fields[0] == "tid":
                    self.tids[fields[2]] = int(fields[1])
                elif fields[0] == "map":
                    start, end = (int(x, 16) for x in fields[1].split("-"))
                    maps.append((start, end, int(fields[3], 16), fields[6] if len(fields) > 6 else "",
                                 fields[2]))
        if crasher.emulator:
            kernel_style_core(cores[0], maps, self.core)
            os.remove(cores[0])
        else:
            os.rename(cores[0], self.core)
        modules = {}        # path -> [start, end) over all of its mappings
        for start, end, _, path, _ in maps:
            if path.startswith("/"):
                modules.setdefault(path, [start, end])
                modules[path][1] = max(modules[path][1], end)
        # Inclusive end addresses, as the caller of corestack passes them.
        self.modules = [(s, e - 1, path) for path, (s, e) in modules.items()]
        self.crasher_path = os.path.realpath(self.program)

    def map_args(self, modules=None):
        args = []
        for start, end, path in (self.modules if modules is None else modules):
            args += ["-f", "%x-%x:%s" % (start, end, path)]
        return args

    def name_args(self):
        args = []
        for name, tid in self.tids.items():
            args += ["-t", "%d:%s" % (tid, name)]
        return args

    def module_of(self, pc, modules=None):
        for start, end, path in (self.modules if modules is None else modules):
            if start <= pc <= end:
                return path[:127]
        return "Unknown"


def corestack(program, *args):
    r = subprocess.run(program.command(*args), capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, (r.returncode, r.stderr)
    return r


def split_output(stdout):
    """The regular report and the JSON document (None when absent)."""
    marker = "JSON output:\n\n"
    if marker in stdout:
        regular, document = stdout.split(marker, 1)
        return regular, document
    return stdout, None


def parse_report(text):
    """Header lines, register values and the frame lists of the text report."""
    lines = text.split("\n")
    assert lines[-1] == "", "report does not end with a line end"
    lines.pop()
    report = {"header": lines[:3], "registers": {}, "register_lines": [], "threads": []}
    i = 3
    if i < len(lines) and lines[i] == "Registers:":
        i += 1
        while lines[i] != "-----":
            report["register_lines"].append(lines[i])
            for label, value in re.findall(r"(\w+): +([0-9a-f]+)", lines[i]):
                report["registers"][label] = int(value, 16)
            i += 1
        i += 1
    current = {"title": None, "frames": []}
    report["signalled"] = current
    for line in lines[i:]:
        if line == "":
            current = {"title": None, "frames": []}
            report["threads"].append(current)
            continue
        m = THREAD_RE.match(line)
        if m and current["title"] is None and not current["frames"]:
            current["title"] = (int(m.group(1)), int(m.group(2)), m.group(3))
            continue
        m = FRAME_RE.match(line)
        assert m, "not a frame line: %r" % line
        assert line.startswith("#%-2d PC 0x" % len(current["frames"])), line
        assert len(m.group(2)) >= 8 and len(m.group(5)) >= 8, line
        current["frames"].append({"pc": int(m.group(2), 16), "module": m.group(3),
                                  "name": m.group(4), "offset": int(m.group(5), 16)})
    return report


def gdb_command(emulator):
    return "gdb-multiarch" if emulator else "gdb"


def gdb_registers(crash):
    """The signalled thread's registers as gdb reads them."""
    r = subprocess.run([gdb_command(crash.emulator), "-nx", "-batch", "-iex", "set debuginfod enabled off",
                        "-ex", "info registers", crash.program, crash.core],
                       capture_output=True, text=True, timeout=60)
    registers = {}
    for line in r.stdout.split("\n"):
        m = re.match(r"^(\w+) +(0x[0-9a-f]+) ", line)
        if m:
            registers[m.group(1)] = int(m.group(2), 16)
    return registers


SANITIZER_REPORT = re.compile(r"ERROR: (Address|Leak|Memory)Sanitizer|runtime error:")


class CoreFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="corestack-test-")
        cls.addClassCleanup(shutil.rmtree, cls.workdir, ignore_errors=True)
        cls.crash = Crash(cls.args.crasher, cls.workdir)
        crash = cls.crash
        cls.main_tid = crash.tids["crash-main"]
        cls.result = corestack(cls.args.corestack, "-J", "-c", crash.core, *crash.map_args(), *crash.name_args(),
                               "-C", "crasher")
        regular, document = split_output(cls.result.stdout)
        cls.report = parse_report(regular)
        cls.document = document

    def names(self, frames):
        return [f["name"] for f in frames]

    def test_header(self):
        self.assertEqual(self.report["header"], [
            "Threads: 3", "Signal: SIGSEGV (11)",
            "Signalled thread (LWP %d, crash-main)" % self.main_tid])

    def test_signalled_thread_stack(self):
        frames = self.report["signalled"]["frames"]
        self.assertEqual(self.names(frames)[:4], SIGNALLED_STACK)
        for frame in frames:
            self.assertEqual(frame["module"], self.crash.module_of(frame["pc"]), frame)
        for frame in frames[:4]:
            self.assertEqual(frame["module"], self.crash.crasher_path)
            self.assertLess(frame["offset"], 0x1000)
        self.assertLessEqual(len(frames), 64)

    def test_thread_order_and_names(self):
        threads = self.report["threads"]
        self.assertEqual([t["title"][0] for t in threads], [2, 1, 0])
        by_lwp = {tid: name for name, tid in self.crash.tids.items()}
        self.assertEqual(sorted(t["title"][1] for t in threads), sorted(by_lwp))
        for t in threads:
            self.assertEqual(t["title"][2], by_lwp[t["title"][1]])
        # Thread 0 is the signalled thread again.
        self.assertEqual(threads[2]["title"][1], self.main_tid)
        self.assertEqual(threads[2]["frames"], self.report["signalled"]["frames"])
        for t in threads[:2]:
            names = self.names(t["frames"])
            # worker-2's stack is cut before its bottom (test_frame_limit).
            functions = WORKER_FUNCTIONS if t["title"][2] == "worker-1" else WORKER_FUNCTIONS[:1]
            for function in functions:
                self.assertIn(function, names, t["title"])
            for frame in t["frames"]:
                self.assertEqual(frame["module"], self.crash.module_of(frame["pc"]), frame)

    def test_json_document(self):
        doc = json.loads(self.document)
        self.assertEqual(list(doc), ["crashed_app", "signal", "signum", "threads"])
        self.assertEqual(doc["crashed_app"], "crasher")
        self.assertEqual(doc["signal"], "SIGSEGV")
        self.assertEqual(doc["signum"], 11)
        self.assertEqual(len(doc["threads"]), 3)
        for record, thread in zip(doc["threads"], self.report["threads"]):
            num, lwp, name = thread["title"]
            self.assertEqual(record, {
                "thread_pid": "LWP %d" % lwp, "thread_num": num, "thread_name": name,
                "signalled_thread": "true" if num == 0 else "false",
                "call_stack": self.names(thread["frames"])})

    def test_json_layout(self):
        # The whole document line by line: indentation, order, commas.
        expected = ["{", '    "crashed_app": "crasher",', '    "signal": "SIGSEGV",',
                    '    "signum": 11,', '    "threads":', "    ["]
        threads = self.report["threads"]
        for i, thread in enumerate(threads):
            num, lwp, name = thread["title"]
            expected += [" " * 8 + "{"] + [" " * 12 + line for line in (
                '"thread_pid": "LWP %d",' % lwp, '"thread_num": %d,' % num,
                '"thread_name": "%s",' % name,
                '"signalled_thread": "%s",' % ("true" if num == 0 else "false"),
                '"call_stack":', "[")]
            names = self.names(thread["frames"])
            expected += [" " * 16 + '"%s"' % n + ("," if j + 1 < len(names) else "")
                         for j, n in enumerate(names)]
            expected += [" " * 12 + "]", " " * 8 + "}" + ("," if i + 1 < len(threads) else "")]
        expected += ["    ]", "}", ""]
        self.assertEqual(self.document.split("\n"), expected)

    def test_frame_limit(self):
        # worker-2 blocks 80 calls deeper than worker-1: its stack is cut at
        # 64 frames inside the recursion, in both outputs, without a message.
        by_name = {t["title"][2]: self.names(t["frames"]) for t in self.report["threads"]}
        self.assertIn("crashtest::workerMain(void*)", by_name["worker-1"])
        deep = by_name["worker-2"]
        self.assertEqual(len(deep), 64)
        first = deep.index(PARK)
        self.assertLess(first, 4)
        self.assertEqual(deep[first:], [PARK] * (64 - first))
        doc = json.loads(self.document)
        stacks = {t["thread_name"]: t["call_stack"] for t in doc["threads"]}
        self.assertEqual(stacks["worker-2"], deep)
        self.assertNotIn("Failed to step", self.result.stdout)

    def test_stacks_agree_with_gdb(self):
        # Every thread, with every module given, with some missing (their
        # files come from the core's file table) and with none.
        crash = self.crash
        theirs = gdb_stacks(gdb_command(self.args.emulator), crash.program, crash.core,
                            sysroot="/" if self.args.emulator else None)
        self.assertEqual(sorted(theirs), sorted(crash.tids.values()))
        self.assertEqual(len(theirs[self.main_tid]), 4, theirs[self.main_tid])
        some = [m for m in crash.modules if m[2] == crash.crasher_path or "libc" not in m[2]]
        self.assertLess(len(some), len(crash.modules))
        for modules in (crash.modules, some, []):
            r = corestack(self.args.corestack, "-c", crash.core, *crash.map_args(modules))
            self.assertEqual(r.stderr, "")
            self.assertEqual(compare(report_stacks(r.stdout), theirs, arm=bool(self.args.emulator)), [],
                             "with %d modules" % len(modules))

    def test_registers_agree_with_gdb(self):
        registers = gdb_registers(self.crash)
        # Frame 0's pc is the instruction the thread stopped at: the PC
        # register, not the link register.
        self.assertEqual(self.report["signalled"]["frames"][0]["pc"],
                         registers["pc" if self.args.emulator else "rip"])
        gdb_names = {"IP": "r12", "SP": "sp", "LR": "lr", "PC": "pc"}
        self.assertTrue(self.report["registers"])
        for label, value in self.report["registers"].items():
            reg = gdb_names.get(label, label.lower())
            self.assertEqual(value, registers[reg], label)

    def run_safely(self, core, *args):
        """corestack on a core that may be damaged: no crash, no hang, no
        sanitizer report; the result."""
        r = subprocess.run(self.args.corestack.command("-c", core, *args), capture_output=True,
                           text=True, timeout=60)
        self.assertIn(r.returncode, (0, 1), (core, r.stderr[-2000:]))
        self.assertIsNone(SANITIZER_REPORT.search(r.stderr), (core, r.stderr[-2000:]))
        return r

    def test_missing_program_file(self):
        # The core names a program file that is gone: its frames have no
        # names and their walk ends, nothing else is lost. An -f path serves.
        moved = self.crash.program + ".moved"
        modules = [(s, e, moved if p == self.crash.crasher_path else p) for s, e, p in self.crash.modules]
        os.rename(self.crash.program, moved)
        try:
            r = self.run_safely(self.crash.core)
            given = corestack(self.args.corestack, "-c", self.crash.core, *self.crash.map_args(modules))
        finally:
            os.rename(moved, self.crash.program)
        self.assertEqual(self.names(parse_report(given.stdout)["signalled"]["frames"])[:4], SIGNALLED_STACK)
        self.assertEqual(r.returncode, 0)
        lines = r.stdout.split("\n")
        report = parse_report("\n".join(l for l in lines if not l.startswith("Failed to step: ")))
        self.assertEqual(report["header"][0], "Threads: 3")
        # Each thread is walked once: a walk that fails says so once.
        failures = sum(l.startswith("Failed to step: ") for l in lines)
        self.assertLessEqual(failures, sum(len(t["frames"]) < 64 for t in report["threads"]))
        names = self.names(report["signalled"]["frames"])
        self.assertTrue(names[0].startswith("<unknown> ("), names)
        self.assertNotIn("main()", names)
        for thread in report["threads"][:2]:
            self.assertIn("read()", self.names(thread["frames"])[:2])

    def test_damaged_cores(self):
        # Truncated at several points; notes that would lead a reader out of
        # bounds; random bits flipped in the headers and notes, and anywhere.
        with open(self.crash.core, "rb") as f:
            data = f.read()
        word = "<I" if self.args.emulator else "<Q"
        phoff, = struct.unpack_from(word, data, 28 if self.args.emulator else 32)
        phnum, = struct.unpack_from("<H", data, 44 if self.args.emulator else 56)
        phsize = 32 if self.args.emulator else 56
        note_ph = next(phoff + i * phsize for i in range(phnum)
                       if struct.unpack_from("<I", data, phoff + i * phsize)[0] == PT_NOTE)
        notes, = struct.unpack_from(word, data, note_ph + (4 if self.args.emulator else 8))
        headers = {}  # note type -> offset of its first header, up to the file table
        at = notes
        while NT_FILE not in headers:
            namesz, descsz, kind = struct.unpack_from("<3I", data, at)
            headers.setdefault(kind, at)
            at += 12 + (namesz + 3) // 4 * 4 + (descsz + 3) // 4 * 4

        def patched(offset, fmt, value):
            copy = bytearray(data)
            struct.pack_into(fmt, copy, offset, value)
            return bytes(copy)

        cases = [data[:n] for n in (10, phoff + 40, notes + 100, notes + 2000, len(data) // 2)]
        cases += [patched(note_ph + (16 if self.args.emulator else 32), word, 0x7ffffff0),  # note segment size
                  patched(headers[1] + 4, "<I", 8),                               # short NT_PRSTATUS
                  patched(headers[1], "<I", 0xfffffff0),                          # name size
                  patched(headers[NT_FILE] + 20, word, 1 << 28)]                  # file table count
        rng = random.Random(14)
        structures = [(0, 64), (phoff, phoff + phnum * phsize), (notes, at)]
        for count in [3] * 10 + [200] * 2:
            flipped = bytearray(data)
            for _ in range(count):
                start, end = rng.choice(structures) if count < 200 else (0, len(data))
                flipped[rng.randrange(start, end)] ^= 1 << rng.randrange(8)
            cases.append(bytes(flipped))
        damaged = os.path.join(self.workdir, "damaged.core")
        for i, case in enumerate(cases):
            with open(damaged, "wb") as f:
                f.write(case)
            self.run_safely(damaged, *(self.crash.map_args() if i % 2 else []))

    def test_core_of_another_machine(self):
        with open(self.crash.core, "rb") as f:
            data = bytearray(f.read(1 << 16))
        other, name = (62, "x86_64") if self.args.emulator else (40, "ARM")
        struct.pack_into("<H", data, 18, other)
        core = os.path.join(self.workdir, "other.core")
        with open(core, "wb") as f:
            f.write(data)
        r = self.run_safely(core, *self.crash.map_args())
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "")
        self.assertEqual(r.stderr, "corestack: core file is for %s, this build reads %s\n"
                         % (name, "ARM" if self.args.emulator else "x86_64"))

    def test_register_dump_layout(self):
        lines = self.report["register_lines"]
        if self.args.emulator:
            self.assertEqual([re.sub(r"[0-9a-f]{8}", "X", l) for l in lines], [
                "R0:  X  R1:  X  R2:  X  R3:  X", "R4:  X  R5:  X  R6:  X  R7:  X",
                "R8:  X  R9:  X  R10: X  R11: X", "IP:  X  SP:  X  LR:  X  PC:  X"])
        else:
            self.assertEqual([re.sub(r"[0-9a-f]{16}", "X", l) for l in lines], [
                "RAX: X  RBX: X  RCX: X  RDX: X", "RSI: X  RDI: X  RBP: X  RSP: X", "RIP: X"])

    def test_output_selection(self):
        base = ["-c", self.crash.core, *self.crash.map_args()]
        default = corestack(self.args.corestack, *base).stdout
        self.assertTrue(default.startswith("Threads: 3\n"))
        self.assertNotIn("JSON output:", default)
        self.assertEqual(default, split_output(self.result.stdout)[0].replace(
            "crash-main", "Unknown").replace("worker-1", "Unknown").replace("worker-2", "Unknown"))
        for opts in (["-j"], ["-j", "-J"], ["-J", "-j"]):
            out = corestack(self.args.corestack, *opts, *base).stdout
            self.assertTrue(out.startswith("JSON output:\n\n{\n"), opts)
            self.assertNotIn("Threads:", out, opts)
            doc = json.loads(split_output(out)[1])
            self.assertEqual(doc["crashed_app"], "unknown")
            self.assertEqual({t["thread_name"] for t in doc["threads"]}, {"Unknown"})
        both = corestack(self.args.corestack, "-J", *base).stdout
        self.assertTrue(both.startswith("Threads: 3\n"))
        self.assertEqual(split_output(both)[0], default)

    def test_end_address_is_inclusive(self):
        pc = self.report["signalled"]["frames"][0]["pc"]
        modules = [(pc - 0x10, pc, "/end/inclusive"), (pc + 1, pc + 0x10, "/just/after")]
        r = corestack(self.args.corestack, "-c", self.crash.core, *self.crash.map_args(modules + self.crash.modules))
        frames = parse_report(r.stdout)["signalled"]["frames"]
        self.assertEqual(frames[0]["module"], "/end/inclusive")
        self.assertEqual(self.names(frames)[:4], SIGNALLED_STACK)

    def test_entry_limits(self):
        # 127 entries that match nothing, then the crasher as the 128th entry
        # (kept) and the other modules beyond the limit (dropped).
        crasher = [m for m in self.crash.modules if m[2] == self.crash.crasher_path]
        others = [m for m in self.crash.modules if m[2] != self.crash.crasher_path]
        padding = [(0x10 + 2 * i, 0x10 + 2 * i, "/pad%d" % i) for i in range(127)]
        # 199 names for other threads, the main thread's name as the 200th,
        # the workers' beyond the limit.
        names = ["-t", "%d:crash-main" % self.main_tid]
        for name, tid in self.crash.tids.items():
            if name != "crash-main":
                names += ["-t", "%d:%s" % (tid, name)]
        padding_names = []
        for i in range(199):
            padding_names += ["-t", "%d:pad%d" % (-1 - i, i)]
        r = corestack(self.args.corestack, "-c", self.crash.core, *self.crash.map_args(padding + crasher + others),
                      *padding_names, *names)
        self.assertEqual(r.stderr.count("No more than 128 process map entries\n"), len(others))
        self.assertEqual(r.stderr.count("No more than 200 thread names\n"), 2)
        # No segment of the core starts at a padding entry's address.
        self.assertRegex(r.stderr, r"(^|\n)Failed to add backing file /pad0@0x10: [^\n]+\n")
        report = parse_report(r.stdout)
        for frame in report["signalled"]["frames"]:
            self.assertEqual(frame["module"], self.crash.module_of(frame["pc"], crasher), frame)
        self.assertEqual(report["header"][2], "Signalled thread (LWP %d, crash-main)" % self.main_tid)
        self.assertEqual([t["title"][2] for t in report["threads"]].count("Unknown"), 2)

    def test_long_names_and_json_escaping(self):
        # A 20-character thread name keeps its first 15; names holding quotes
        # and backslashes stay valid JSON.
        link_dir = os.path.join(self.workdir, 'quote"back\\slash')
        os.makedirs(link_dir, exist_ok=True)
        # An executable path of exactly 128 characters.
        link = os.path.join(link_dir, "")
        link += "c" * (128 - len(link))
        self.assertEqual(len(link), 128)
        if not os.path.exists(link):
            os.symlink(self.crash.crasher_path, link)
        modules = [(s, e, link if p == self.crash.crasher_path else p)
                   for s, e, p in self.crash.modules]
        worker_tid = self.crash.tids["worker-1"]
        r = corestack(self.args.corestack, "-J", "-c", self.crash.core, *self.crash.map_args(modules),
                      "-t", "%d:abcdefghijklmnopqrst" % self.main_tid,
                      "-t", '%d:w"1\\x' % worker_tid, "-C", 'app "quoted" \\ name')
        self.assertNotIn("Failed to add backing file", r.stderr)
        regular, document = split_output(r.stdout)
        report = parse_report(regular)
        self.assertEqual(report["header"][2],
                         "Signalled thread (LWP %d, abcdefghijklmno)" % self.main_tid)
        frames = report["signalled"]["frames"]
        self.assertEqual(frames[0]["module"], link[:127])
        self.assertEqual(self.names(frames)[:4], SIGNALLED_STACK)
        doc = json.loads(document)
        self.assertEqual(doc["crashed_app"], 'app "quoted" \\ name')
        names = {t["thread_pid"]: t["thread_name"] for t in doc["threads"]}
        self.assertEqual(names["LWP %d" % worker_tid], 'w"1\\x')
        self.assertEqual(names["LWP %d" % self.main_tid], "abcdefghijklmno")


def main():
    sys.exit(scripttest.run(scripttest.arguments("corestack", "crasher")))


if __name__ == "__main__":
    main()
