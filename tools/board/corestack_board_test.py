#!/usr/bin/env python3
"""corestack on the ARM kernel's own core dumps (guest/corestack.sh): the
crasher of corestack's tests, built with unwind tables and without, dies on
the board; corestack reads each core there with -f for every module, without
libc's entry and without -f; gdb-multiarch reads the same core here with the
same executable and libraries (the board's libraries are the host's armhf
files at the same paths).

usage: corestack_board_test.py --board-dir DIR --crasher PATH --crasher-nounwind PATH"""

import json
import os
import re
import shutil
import subprocess
import tempfile

import boardtest
from boardtest import BoardTest

CRASHERS = ("corestack_crasher", "corestack_crasher_nounwind")
MODES = ("all", "missing", "none")
# The crasher's own functions: corestack's stacks must reach the deepest of
# them that gdb shows (main, crashtest::workerMain).
OWN = re.compile(r"^(main|crasher_\w+|crashtest::.*)$")
MAX_FRAMES = 64

FRAME_RE = re.compile(r"^#(\d+) +PC 0x([0-9a-f]+) in \((.*?)\) (.*) \+ 0x[0-9a-f]+$")
THREAD_RE = re.compile(r"^Thread -?\d+ \(LWP (-?\d+), .*\)$")
GDB_THREAD_RE = re.compile(r"^Thread \d+ \(.*LWP (\d+)\)\):$")
GDB_FRAME_RE = re.compile(r"^#(\d+) +0x([0-9a-f]+) in (\S+) \(")
GDB_REGISTER_RE = re.compile(r"^(r\d+|sp|lr|pc) +0x([0-9a-f]+) ")


def corestack_report(text):
    """Registers and {LWP: [(pc, module, name)]} of corestack's text report
    (the thread list; the signalled thread appears there again)."""
    regular = text.split("JSON output:\n", 1)[0]
    registers = {k: int(v, 16) for k, v in re.findall(r"(\w+): +([0-9a-f]{8})", regular)}
    threads, lwp = {}, None
    for line in regular.splitlines():
        m = THREAD_RE.match(line)
        if m:
            lwp = int(m.group(1))
            threads[lwp] = []
            continue
        m = FRAME_RE.match(line)
        if m and lwp is not None:
            threads[lwp].append((int(m.group(2), 16), m.group(3), m.group(4)))
    return registers, threads


def gdb_view(crasher, core):
    """Registers of the signalled thread and {LWP: [(pc, name)]} as gdb sees them."""
    out = subprocess.run(
        ["gdb-multiarch", "-nx", "-batch", "-ex", "set debuginfod enabled off", "-ex", "set sysroot /",
         "-ex", "set print frame-info location-and-address", "-ex", "set print frame-arguments none",
         "-ex", "file " + crasher, "-ex", "core " + core, "-ex", "thread apply all bt",
         "-ex", "info registers"],
        capture_output=True, text=True, timeout=120).stdout
    threads, registers, lwp = {}, {}, None
    for line in out.splitlines():
        m = GDB_THREAD_RE.match(line)
        if m:
            lwp = int(m.group(1))
            threads[lwp] = []
        elif GDB_FRAME_RE.match(line) and lwp is not None:
            m = GDB_FRAME_RE.match(line)
            threads[lwp].append((int(m.group(2), 16), m.group(3)))
        elif GDB_REGISTER_RE.match(line):
            m = GDB_REGISTER_RE.match(line)
            registers[m.group(1)] = int(m.group(2), 16)
    return registers, threads, out


class CoreDumps(BoardTest):
    SCRIPTS = ["corestack"]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.workdir = tempfile.mkdtemp(prefix="board-cores-")
        cls.addClassCleanup(shutil.rmtree, cls.workdir, ignore_errors=True)
        cls.gdb = {}
        hosts = {"corestack_crasher": boardtest.ARGS.crasher,
                 "corestack_crasher_nounwind": boardtest.ARGS.crasher_nounwind}
        for crasher in CRASHERS:
            core = os.path.join(cls.workdir, crasher + ".core")
            with open(core, "wb") as f:
                f.write(cls.out[crasher + ".core"])
            cls.gdb[crasher] = gdb_view(hosts[crasher], core)

    def modules(self, crasher, mode):
        """The -f entries given on the board: [(start, end, path)]."""
        args = self.text("%s.%s.args" % (crasher, mode)).split()
        entries = []
        for value in args[1::2]:
            span, path = value.split(":", 1)
            start, end = (int(x, 16) for x in span.split("-"))
            entries.append((start, end, path))
        return entries

    def check_stacks(self, crasher, mode, complete):
        """corestack's frames of every thread against gdb's: same pcs (the
        Thumb bit aside), same names where gdb has one, the module of the
        -f entry holding the pc; with `complete`, down to the deepest of the
        crasher's own functions that gdb shows."""
        rc, out, err = self.run_result("%s.%s" % (crasher, mode))
        self.assertEqual(rc, 0, "corestack failed: " + (err or ""))
        self.assertEqual(len(json.loads(out.split("JSON output:\n", 1)[1])["threads"]), 3)
        _, threads = corestack_report(out)
        _, gdb_threads, gdb_out = self.gdb[crasher]
        self.assertEqual(sorted(threads), sorted(gdb_threads), gdb_out)
        modules = self.modules(crasher, mode)
        for lwp, frames in threads.items():
            expected = gdb_threads[lwp][:MAX_FRAMES]
            where = "%s, -f %s, LWP %d" % (crasher, mode, lwp)
            self.assertTrue(frames, where)
            if complete:
                own = [i for i, (_, name) in enumerate(expected) if OWN.match(name)]
                self.assertGreater(len(frames), own[-1], "%s: stack ends early:\n%s" % (where, out))
            for i, ((pc, module, name), (gdb_pc, gdb_name)) in enumerate(zip(frames, expected)):
                self.assertEqual(pc & ~1, gdb_pc, "%s, frame %d" % (where, i))
                if gdb_name != "??":
                    self.assertEqual(name.split("(")[0], gdb_name, "%s, frame %d" % (where, i))
                holders = [p for s, e, p in modules if s <= pc <= e]
                self.assertEqual(module, holders[0] if holders else "Unknown", "%s, frame %d" % (where, i))

    def test_signal_and_registers(self):
        for crasher in CRASHERS:
            with self.subTest(crasher):
                self.assertEqual(self.text(crasher + ".rc"), "139\n")  # died of SIGSEGV
                rc, out, err = self.run_result(crasher + ".all")
                self.assertEqual(rc, 0, err)
                self.assertIn("Threads: 3\nSignal: SIGSEGV (11)\nSignalled thread (LWP ", out)
                registers, _ = corestack_report(out)
                gdb_registers = self.gdb[crasher][0]
                names = {"IP": "r12", "SP": "sp", "LR": "lr", "PC": "pc"}
                self.assertEqual(len(registers), 16)
                for label, value in registers.items():
                    self.assertEqual(value, gdb_registers[names.get(label, label.lower())], label)

    def test_with_unwind_tables(self):
        for mode in MODES:
            with self.subTest(mode):
                self.check_stacks("corestack_crasher", mode, complete=True)

    def test_without_unwind_tables(self):
        # Functions gcc knows cannot throw are marked not unwindable: the
        # stacks may end early where gdb goes on, but what is shown agrees.
        for mode in MODES:
            with self.subTest(mode):
                self.check_stacks("corestack_crasher_nounwind", mode, complete=False)


if __name__ == "__main__":
    boardtest.main(lambda parser: (parser.add_argument("--crasher", required=True),
                                   parser.add_argument("--crasher-nounwind", required=True)))
