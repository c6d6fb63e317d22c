#!/usr/bin/env python3
"""corestack's command line without a usable core file: usage text, exit
status, the messages for wrong, surplus and malformed options.

usage: corestack_options_test.py --emulator "<prefix>" --version <version> <corestack>
"""
import subprocess
import sys
import unittest

import scripttest  # tools/testing, on PYTHONPATH

NO_CORE = "Failed to create core context\ncorestack: /nonexistent/core: No such file or directory\n"


def usage_text(program):
    return ("usage: %s [-jJ] -c corefile [-f start-end:executable ...] [-t pid:name ...]\n"
            "  -f: Address range to which an executable was mapped\n"
            "      in the process memory map\n"
            "  -j: Print only json output\n"
            "  -J: Print both regular and json output\n"
            "  -t: Print the given name for the thread with the given PID\n" % program)


class CorestackCase(unittest.TestCase):
    def corestack(self, *args):
        return subprocess.run(self.args.corestack.command(*args), capture_output=True, text=True, timeout=60)


class Usage(CorestackCase):
    def test_no_options(self):
        r = self.corestack()
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "Corefile is required\n")
        self.assertEqual(r.stdout, usage_text(self.args.corestack))

    def test_options_without_core_file(self):
        r = self.corestack("-j", "-C", "app", "-t", "1:one")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "Corefile is required\n")
        self.assertEqual(r.stdout, usage_text(self.args.corestack))

    def test_unknown_option(self):
        r = self.corestack("-x", "-c", "core")
        self.assertEqual(r.returncode, 1)
        # The option parser's own complaint comes first.
        self.assertRegex(r.stderr, r"^.*invalid option -- 'x'\nUnknown argument \?\n$")
        self.assertEqual(r.stdout, usage_text(self.args.corestack))

    def test_missing_argument(self):
        for opt in ("-c", "-f", "-t", "-C"):
            r = self.corestack("-c", "core", opt)
            self.assertEqual(r.returncode, 1, opt)
            self.assertRegex(r.stderr, r"requires an argument -- '%s'\nUnknown argument \?\n$"
                             % opt[1], opt)
            self.assertEqual(r.stdout, usage_text(self.args.corestack), opt)


class SetupFailures(CorestackCase):
    def test_the_reason_follows_the_failure(self):
        for path, reason in (("/nonexistent/core", "No such file or directory"), ("/", "Is a directory"),
                             ("/etc/passwd", "not a core file (no ELF header)"),
                             (self.args.corestack, "not a core file (an ELF program, library or object)")):
            r = self.corestack("-c", path)
            self.assertEqual((r.returncode, r.stdout), (1, ""), path)
            self.assertEqual(r.stderr, "Failed to create core context\ncorestack: %s: %s\n" % (path, reason))

    def test_version(self):
        r = self.corestack("--version")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "corestack %s\n" % self.args.version, ""))


class EntryLimits(CorestackCase):
    """Surplus and malformed entries are reported and dropped; parsing goes on
    to the missing core file."""

    def test_map_entries_beyond_128(self):
        args = []
        for i in range(129):
            args += ["-f", "%x-%x:/lib/module%d.so" % (0x10000 * i, 0x10000 * i + 0xfff, i)]
        r = self.corestack(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "No more than 128 process map entries\n" + NO_CORE)
        args += ["-f", "0-1:/lib/one-more.so"]
        r = self.corestack(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.stderr, "No more than 128 process map entries\n" * 2 + NO_CORE)

    def test_exactly_128_map_entries(self):
        args = []
        for i in range(128):
            args += ["-f", "0x%x-0x%x:/lib/module%d.so" % (0x10000 * i, 0x10000 * i + 0xfff, i)]
        r = self.corestack(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.stderr, NO_CORE)

    def test_thread_names_beyond_200(self):
        args = []
        for i in range(201):
            args += ["-t", "%d:thread%d" % (1000 + i, i)]
        r = self.corestack(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "No more than 200 thread names\n" + NO_CORE)
        r = self.corestack(*args[:-2], "-c", "/nonexistent/core")
        self.assertEqual(r.stderr, NO_CORE)

    def test_malformed_map_entries(self):
        form = "Process map entry must be on form <start>-<end>:<executable>\n"
        for arg in ("1000-2000", "1000-2000:", "1000:/bin/true", "zz-2000:/bin/true",
                    "", "-:/bin/true"):
            r = self.corestack("-f", arg, "-c", "/nonexistent/core")
            self.assertEqual(r.stderr, form + NO_CORE, repr(arg))

    def test_malformed_thread_names(self):
        form = "Thread name must be on form <tid>:<name>\n"
        for arg in ("123", "123:", "name:123", ":name", ""):
            r = self.corestack("-t", arg, "-c", "/nonexistent/core")
            self.assertEqual(r.stderr, form + NO_CORE, repr(arg))

    def test_long_arguments_are_safe(self):
        # Paths and names far beyond their fields are cut, never overflow.
        long_path = "/" + "p" * 4000
        r = self.corestack("-f", "1000-2000:" + long_path, "-t", "7:" + "n" * 4000,
                "-C", "c" * 4000, "-c", "/nonexistent/core")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, NO_CORE)


def main():
    sys.exit(scripttest.run(scripttest.arguments("corestack", options=("--version",))))


if __name__ == "__main__":
    main()
