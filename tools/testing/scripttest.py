"""How every script test starts and ends.

It starts with arguments(), which parses the command line once:

    args = scripttest.arguments("replay", "recorder", "--kmsgwatch",
                                options=("--project-version",), extra=None)

- each name in the first list is a program path: "replay" a positional
  argument, "--kmsgwatch" a required option (args.kmsgwatch); each value is
  a Program, a str holding the path (made absolute when it has a folder
  part, so that a case may run it from another working folder) whose
  command(*argv) is the list that starts it here: through the emulator
  under the ARM preset, directly otherwise;
- options: further required options whose values are plain strings
  ("--build", "--source", ...);
- extra: a function given the argparse parser, for anything else (defaults,
  types, lists);
- --emulator "<prefix>", which every script test receives before its own
  arguments (cmake/VxTesting.cmake; empty natively), is declared here and
  split once: args.emulator is the prefix as a list ([] natively);
- what is left over (unittest's options and test names) is args.rest;
  with checks=True (a script of checks, below) a left-over argument is an
  error instead. nsutil's re-execution flag is never taken for either.

What the cases share beyond the command line (a work folder made from
--build, a launcher made from the options) the script may set on the object
before it runs them (args.work = ...).

It ends in one of two forms:

- unittest cases: sys.exit(scripttest.run(args)). Every test class of the
  script gets the object as its attribute `args` before its cases run
  (self.args in a case, cls.args in setUpClass);
- checks collected in order (tests that share one namespace or one long
  set-up): the script passes args to its checks itself, a Failures reports
  each failed check as it happens and failures.finish() ends the script.

Either way the exit status is 0 when everything passed and 1 otherwise.
A test that cannot run here (no root, a missing tool) skips its cases with
unittest's skips, or exits with SKIPPED where CTest is told so
(SKIP_RETURN_CODE)."""
import argparse
import os
import sys
import unittest

SKIPPED = 77


class Program(str):
    """A program's path; command(*argv) starts it through the emulator."""

    def __new__(cls, path, emulator):
        program = super().__new__(cls, os.path.abspath(path) if os.sep in path else path)
        program.emulator = emulator
        return program

    def __getnewargs__(self):   # copies keep the emulator
        return str(self), self.emulator

    def command(self, *argv):
        return [*self.emulator, str(self), *argv]


def arguments(*programs, options=(), extra=None, checks=False, argv=None):
    """Parses the command line (argv, sys.argv[1:] by default) once; the
    object described at the top of this file."""
    import nsutil  # here: nsutil imports this module
    parser = argparse.ArgumentParser(
        description=sys.modules["__main__"].__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--emulator", default="", help="prefix that runs the build's programs (empty natively)")
    for name in programs:
        parser.add_argument(name, **({"required": True} if name.startswith("-") else {}))
    for name in options:
        parser.add_argument(name, required=True)
    if extra:
        extra(parser)
    argv = list(sys.argv[1:] if argv is None else argv)
    if nsutil.INSIDE_FLAG in argv:
        at = argv.index(nsutil.INSIDE_FLAG)
        del argv[at:at + 2]
    if checks:
        args, rest = parser.parse_args(argv), []
    else:
        args, rest = parser.parse_known_args(argv)
    args.emulator = nsutil.emulator_prefix(args.emulator)
    args.rest = rest
    for name in programs:
        dest = name.lstrip("-").replace("-", "_")
        setattr(args, dest, Program(getattr(args, dest), args.emulator))
    return args


class _Cases(unittest.TestProgram):
    """unittest's own command line and runner; each test class gets `args`."""

    def __init__(self, args, **kwargs):
        self.script_args = args
        super().__init__(**kwargs)

    def runTests(self):
        if self.script_args is not None:
            pending = [self.test]
            while pending:
                test = pending.pop()
                if isinstance(test, unittest.TestSuite):
                    pending.extend(test)
                else:
                    type(test).args = self.script_args
        super().runTests()


def run(args):
    """Runs the unittest cases of the calling script, verbosely; the exit
    status. args: what arguments() returned (or, in the older form, the list
    of arguments left for unittest)."""
    rest = args if isinstance(args, list) else args.rest
    program = _Cases(None if isinstance(args, list) else args, module="__main__", argv=[sys.argv[0]] + rest,
                     exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


class Failures:
    """Collects check failures so that one run reports them all."""

    def __init__(self):
        self.failed = 0
        self.passed = 0

    def check(self, condition, what, detail=""):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL: {what}" + (f"\n      {detail}" if detail else ""), flush=True)

    def equal(self, got, expected, what):
        self.check(got == expected, what, f"got {got!r}, expected {expected!r}")

    def finish(self):
        """Prints the tally and exits: 1 when a check failed or none ran."""
        print(f"{self.passed} checks passed, {self.failed} failed", flush=True)
        sys.exit(1 if self.failed or not self.passed else 0)
