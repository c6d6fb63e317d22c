#!/usr/bin/env python3
"""Runs the sample harness program for every option and alias and checks its
report on standard error byte for byte (time figures matched by pattern), its
empty standard output and its exit status. Every case runs twice: with
standard error to a file (no escape sequences allowed) and on a
pseudo-terminal (every coloured message closed by the reset sequence).

Usage: audunittest_cli_test.py --emulator "<prefix>" <audunittest_sample>
"""
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import time
import tty
import unittest

import scripttest  # tools/testing, on PYTHONPATH

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "audunittest_sample.cpp")
FILE = "platform/audio/audtest/test/audunittest_sample.cpp"  # __FILE__ in messages
RED, GREEN, YELLOW = 31, 32, 33
DASHES = "-" * 32 + "\n"
# Aliases print exactly what their options print: on the terminal only the
# main spellings run.
ALIASES = {"--rununittest", "--runallunittests", "--listunittest", "-h"}


def line_of(text):
    with open(SOURCE, encoding="utf-8") as f:
        hits = [n for n, line in enumerate(f, 1) if text in line]
    assert len(hits) == 1, f"{text!r} found on lines {hits}"
    return hits[0]


def routine_line(suffix):
    return line_of(f"AUDUNITTEST_ROUTINE_TEST(sample, {suffix},")


class Case:
    def __init__(self, name, failures=(), assertions=1, log=""):
        self.name = name
        self.failures = list(failures)  # message texts after "\nFailed: "
        self.assertions = assertions
        self.log = log  # event log output, uncoloured


def failure(line, detail=""):
    return f"{FILE}:{line} in {{name}}{detail}"


# The sample tests in the order the harness must list them (strcmp order; the
# second registration of a name after the first).
TESTS = [
    Case("test__sample__VAD_on"),
    Case("test__sample__checks_fail", assertions=6, failures=[
        failure(line_of("// check-false")),
        failure(line_of("// check-int"), ": -1 != 2"),
        failure(line_of("// check-uint"), ": 7 != 8"),
        failure(line_of("// check-double"), ": 0.500000 != 0.250000"),
        failure(line_of("// check-str"), ": abc != abd"),
    ]),
    Case("test__sample__far_end_vAd", failures=[failure(routine_line("far_end_vAd"), ": 0 != 1")]),
    Case("test__sample__from_c", assertions=2),  # declared in audunittest_sample_c.c
    Case("test__sample__only_once"),
    Case("test__sample__routine_fails", failures=[failure(routine_line("routine_fails"), ": 0 != 3")]),
    Case("test__sample__routine_pass"),
    Case("test__sample__time_domain_Vad"),
    Case("test__sample__twice"),
    Case("test__sample__twice", failures=[failure(line_of("// twice-second"))]),
    Case("test__sample__vad_hangover"),
    Case("test__sample__zeta_checks", assertions=5, log="zeta_checks logs 1 line\n"),
]


class Expect:
    """Expected report texts, coloured as on a terminal or plain."""

    def __init__(self, terminal):
        self.terminal = terminal

    def color(self, code, text):
        return f"\033[{code}m{text}\033[00m" if self.terminal else text

    def usage(self, program):
        return (f"Usage: {program} [--run name] | [--runall [search]] | "
                "[--list [search]] | [--help]\n")

    def run(self, case):
        out = self.color(YELLOW, f"Running {case.name}...") + case.log
        for text in case.failures:
            out += self.color(RED, "\nFailed: " + text.format(name=case.name) + "\n")
        if not case.failures:
            out += self.color(GREEN, " Success")
        return out + " [T ms]\n"

    def runall(self, cases):
        out = "".join(self.run(c) for c in cases)
        s = lambda n: "" if n == 1 else "s"
        tests = len(cases)
        assertions = sum(c.assertions for c in cases)
        failed = sum(len(c.failures) for c in cases)
        if failed:
            summary = self.color(RED, f"Test failure: {failed} failed assertion{s(failed)} in "
                                 f"{tests} test{s(tests)} with {assertions} "
                                 f"assertion{s(assertions)} [T s].\n")
        else:
            summary = self.color(GREEN, f"Test success: {tests} test{s(tests)} with "
                                 f"{assertions} assertion{s(assertions)} [T s].\n")
        return out + DASHES + summary + DASHES

    def listing(self, cases):
        n = len(cases)
        return "".join(c.name + "\n" for c in cases) + self.color(
            YELLOW, f"Found {n} test{'' if n == 1 else 's'}.\n")


def matching(search):
    return [c for c in TESTS if search.lower() in c.name.lower()]


def named(name):
    return next(c for c in TESTS if c.name == name)


def cases(e, program):
    """(arguments, expected standard error, expected exit status)"""
    usage = e.usage(program)
    failed = lambda cs: 1 if any(c.failures for c in cs) else 0
    yield [], usage, 0
    yield ["--help"], usage, 0
    yield ["-h"], usage, 0
    yield ["--help", "ignored", "too"], usage, 0
    yield ["--foo"], e.color(RED, "Unknown argument '--foo'\n") + usage, 1
    yield ["--RUN", "test__sample__routine_pass"], \
        e.color(RED, "Unknown argument '--RUN'\n") + usage, 1
    yield ["-run"], e.color(RED, "Unknown argument '-run'\n") + usage, 1
    yield [""], e.color(RED, "Unknown argument ''\n") + usage, 1
    for run in ("--run", "--rununittest"):
        yield [run], e.color(RED, "Missing test name\n"), 1
        for name in ("test__sample__routine_pass", "test__sample__zeta_checks",
                     "test__sample__routine_fails", "test__sample__checks_fail"):
            yield [run, name], e.run(named(name)), failed([named(name)])
        # The first of two registrations of one name.
        yield [run, "test__sample__twice"], e.run(named("test__sample__twice")), 0
        for missing in ("TEST__sample__routine_pass", "routine_pass", "test__sample__"):
            yield [run, missing], e.color(RED, f"Could not find unit test '{missing}'\n"), 1
    yield ["--run", "test__sample__only_once", "extra"], e.run(named("test__sample__only_once")), 0
    for runall in ("--runall", "--runallunittests"):
        yield [runall], e.runall(TESTS), 1
        yield [runall, "vAd"], e.runall(matching("vad")), 1
    for search in ("HANGOVER", "routine_fails", "twice", "checks", "", "no such test"):
        yield ["--runall", search], e.runall(matching(search)), failed(matching(search))
    for listing in ("--list", "--listunittest"):
        yield [listing], e.listing(TESTS), 0
        yield [listing, "VaD"], e.listing(matching("vad")), 0
    for search in ("ONLY_once", "twice", "zzz", "test__sample__"):
        yield ["--list", search], e.listing(matching(search)), 0


TIME_MS = re.compile(rb" \[\d+\.\d{3} ms\]\n")
TIME_S = re.compile(rb" \[\d+\.\d{3} s\]\.\n")


def normalise(stderr):
    stderr = TIME_MS.sub(b" [T ms]\n", stderr)
    return TIME_S.sub(b" [T s].\n", stderr)


def run_to_file(command):
    with tempfile.TemporaryFile() as err:
        p = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=err, timeout=60)
        err.seek(0)
        return p.returncode, p.stdout, err.read()


END_MARK = b"\n<<end of run>>\n"


def run_on_terminal(command):
    """Runs command with standard error on a terminal and returns what reached it.

    Reading the master side until EIO loses output on some kernels: the
    hangup of the slave can overtake bytes still queued in the terminal.
    So the parent keeps its own slave descriptor open (no hangup), a
    shell runs the program and then writes END_MARK to the same terminal,
    and reading stops at the mark: every byte the program wrote precedes it.
    """
    master, slave = pty.openpty()
    tty.setraw(slave)  # no newline translation: the bytes arrive as written
    wrapper = ["/bin/sh", "-c", '"$@"; s=$?; printf "\\n<<end of run>>\\n" >&2; exit $s',
               "sh"] + command
    stdout = b""
    data = b""
    try:
        p = subprocess.Popen(wrapper, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=slave)
        out = p.stdout.fileno()
        open_fds = [out, master]
        deadline = time.monotonic() + 60
        while open_fds:
            left = deadline - time.monotonic()
            ready = select.select(open_fds, [], [], max(left, 0))[0] if left > 0 else []
            if not ready:
                p.kill()
                raise RuntimeError(f"no end of run within 60 s; terminal got {data!r}")
            if out in ready:
                chunk = os.read(out, 4096)
                stdout += chunk
                if not chunk:
                    open_fds.remove(out)
            if master in ready:
                data += os.read(master, 4096)
                if data.endswith(END_MARK):
                    open_fds.remove(master)
        p.stdout.close()
        status = p.wait(timeout=60)
    finally:
        os.close(slave)
        os.close(master)
    return status, stdout, data[:-len(END_MARK)]


class CommandLines(unittest.TestCase):
    """Every command line of cases(), each as a subtest."""

    def check_every_command_line(self, terminal, runner):
        e = Expect(terminal)
        for argv, expected, status in cases(e, self.args.program):
            if terminal and argv and argv[0] in ALIASES:
                continue
            with self.subTest(argv=argv):
                got_status, stdout, stderr = runner(self.args.program.command(*argv))
                self.assertEqual((got_status, stdout, normalise(stderr)), (status, b"", expected.encode()))
                if not terminal:
                    self.assertNotIn(b"\033", stderr, "escape sequence in standard error redirected to a file")

    def test_standard_error_to_a_file(self):
        self.check_every_command_line(False, run_to_file)

    def test_standard_error_on_a_terminal(self):
        self.check_every_command_line(True, run_on_terminal)


def main():
    return scripttest.run(scripttest.arguments("program"))

if __name__ == "__main__":
    sys.exit(main())
