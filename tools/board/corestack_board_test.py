#!/usr/bin/env python3
"""corestack on the ARM kernel's own core dumps (guest/corestack.sh): the
crasher of corestack's tests, built with unwind tables and without, dies on
the board; corestack reads each core there with -f for every module, without
libc's entry and without -f; gdb-multiarch reads the same core here with the
same executable and libraries (the board's libraries are the host's armhf
files at the same paths), through corestack's own comparison module
(platform/corestack/test/gdbstacks.py).

usage: corestack_board_test.py --board-dir DIR --crasher PATH --crasher-nounwind PATH"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import boardtest
from boardtest import BoardTest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "platform",
                                "corestack", "test"))
import gdbstacks  # noqa: E402

CRASHERS = ("corestack_crasher", "corestack_crasher_nounwind")
MODES = ("all", "missing", "none")

FRAME_RE = re.compile(r"^#\d+ +PC 0x([0-9a-f]+) in \((.*?)\) ")
GDB_REGISTER_RE = re.compile(r"^(r\d+|sp|lr|pc) +0x([0-9a-f]+) ", re.M)


def registers_of(report):
    """The register dump of corestack's text report, by label."""
    regular = report.split("JSON output:\n", 1)[0]
    return {k: int(v, 16) for k, v in re.findall(r"(\w+): +([0-9a-f]{8})", regular)}


def gdb_registers(crasher, core):
    """The signalled thread's registers as gdb-multiarch reads them."""
    out = subprocess.run(
        ["gdb-multiarch", "-nx", "-batch", "-iex", "set debuginfod enabled off", "-iex", "set sysroot /",
         "-ex", "file " + crasher, "-ex", "core-file " + core, "-ex", "info registers"],
        capture_output=True, text=True, timeout=120).stdout
    return {name: int(value, 16) for name, value in GDB_REGISTER_RE.findall(out)}


class CoreDumps(BoardTest):
    SCRIPTS = ["corestack"]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.workdir = tempfile.mkdtemp(prefix="board-cores-")
        cls.addClassCleanup(shutil.rmtree, cls.workdir, ignore_errors=True)
        cls.gdb, cls.registers = {}, {}
        hosts = {"corestack_crasher": cls.args.crasher, "corestack_crasher_nounwind": cls.args.crasher_nounwind}
        for crasher in CRASHERS:
            core = os.path.join(cls.workdir, crasher + ".core")
            with open(core, "wb") as f:
                f.write(cls.out[crasher + ".core"])
            modules = cls.out[crasher + ".all.args"].decode().split()[1::2]
            cls.gdb[crasher] = gdbstacks.gdb_stacks("gdb-multiarch", hosts[crasher], core, modules,
                                                    sysroot="/")
            cls.registers[crasher] = gdb_registers(hosts[crasher], core)

    def modules(self, crasher, mode):
        """The -f entries given on the board: [(start, end, path)]."""
        entries = []
        for value in self.text("%s.%s.args" % (crasher, mode)).split()[1::2]:
            span, path = value.split(":", 1)
            start, end = (int(x, 16) for x in span.split("-"))
            entries.append((start, end, path))
        return entries

    def check_stacks(self, crasher, mode, complete):
        """corestack's frames of every thread against gdb's (gdbstacks:
        every pc, every name gdb knows, down to main); with `complete` false,
        only as far as corestack got. Each frame's module is the -f entry
        holding its pc, or "Unknown"."""
        rc, out, err = self.run_result("%s.%s" % (crasher, mode))
        self.assertEqual(rc, 0, "corestack failed: " + (err or ""))
        self.assertEqual(len(json.loads(out.split("JSON output:\n", 1)[1])["threads"]), 3)
        ours, theirs = gdbstacks.report_stacks(out), self.gdb[crasher]
        self.assertEqual(sorted(ours), sorted(theirs))
        if not complete:
            theirs = {lwp: frames[:len(ours[lwp])] for lwp, frames in theirs.items()}
        self.assertEqual(gdbstacks.compare(ours, theirs, arm=True), [], out)
        modules = self.modules(crasher, mode)
        for line in out.split("JSON output:\n", 1)[0].splitlines():
            m = FRAME_RE.match(line)
            if m:
                pc = int(m.group(1), 16)
                holders = [p for s, e, p in modules if s <= pc <= e]
                self.assertEqual(m.group(2), holders[0] if holders else "Unknown", line)

    def test_signal_and_registers(self):
        for crasher in CRASHERS:
            with self.subTest(crasher):
                self.assertEqual(self.text(crasher + ".rc"), "139\n")  # died of SIGSEGV
                rc, out, err = self.run_result(crasher + ".all")
                self.assertEqual(rc, 0, err)
                self.assertIn("Threads: 3\nSignal: SIGSEGV (11)\nSignalled thread (LWP ", out)
                registers = registers_of(out)
                names = {"IP": "r12", "SP": "sp", "LR": "lr", "PC": "pc"}
                self.assertEqual(len(registers), 16)
                for label, value in registers.items():
                    self.assertEqual(value, self.registers[crasher][names.get(label, label.lower())], label)

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
    boardtest.main(("--crasher", "--crasher-nounwind"))
