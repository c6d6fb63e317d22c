#!/usr/bin/env python3
"""corestack's command line without a usable core file: usage text, exit
status, the messages for wrong, surplus and malformed options.

usage: corestack_options_test.py --emulator "<prefix>" <corestack>
"""
import argparse
import shlex
import subprocess
import sys
import unittest

import scripttest  # tools/testing, on PYTHONPATH

EMULATOR = []
CORESTACK = ""


def usage_text(program):
    return ("usage: %s [-jJ] -c corefile [-f start-end:executable ...] [-t pid:name ...]\n"
            "  -f: Address range to which an executable was mapped\n"
            "      in the process memory map\n"
            "  -j: Print only json output\n"
            "  -J: Print both regular and json output\n"
            "  -t: Print the given name for the thread with the given PID\n" % program)


def run(*args):
    return subprocess.run(EMULATOR + [CORESTACK, *args], capture_output=True, text=True,
                          timeout=60)


class Usage(unittest.TestCase):
    def test_no_options(self):
        r = run()
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "Corefile is required\n")
        self.assertEqual(r.stdout, usage_text(CORESTACK))

    def test_options_without_core_file(self):
        r = run("-j", "-C", "app", "-t", "1:one")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "Corefile is required\n")
        self.assertEqual(r.stdout, usage_text(CORESTACK))

    def test_unknown_option(self):
        r = run("-x", "-c", "core")
        self.assertEqual(r.returncode, 1)
        # The option parser's own complaint comes first.
        self.assertRegex(r.stderr, r"^.*invalid option -- 'x'\nUnknown argument \?\n$")
        self.assertEqual(r.stdout, usage_text(CORESTACK))

    def test_missing_argument(self):
        for opt in ("-c", "-f", "-t", "-C"):
            r = run("-c", "core", opt)
            self.assertEqual(r.returncode, 1, opt)
            self.assertRegex(r.stderr, r"requires an argument -- '%s'\nUnknown argument \?\n$"
                             % opt[1], opt)
            self.assertEqual(r.stdout, usage_text(CORESTACK), opt)


class SetupFailures(unittest.TestCase):
    def test_unreadable_core_file(self):
        r = run("-c", "/nonexistent/core")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "Failed to create core context\n")
        self.assertEqual(r.stdout, "")

    def test_not_a_core_file(self):
        r = run("-c", "/dev/null")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "Failed to create core context\n")


class EntryLimits(unittest.TestCase):
    """Surplus and malformed entries are reported and dropped; parsing goes on
    to the missing core file."""

    def test_map_entries_beyond_128(self):
        args = []
        for i in range(129):
            args += ["-f", "%x-%x:/lib/module%d.so" % (0x10000 * i, 0x10000 * i + 0xfff, i)]
        r = run(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "No more than 128 process map entries\n"
                                   "Failed to create core context\n")
        args += ["-f", "0-1:/lib/one-more.so"]
        r = run(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.stderr, "No more than 128 process map entries\n" * 2 +
                                   "Failed to create core context\n")

    def test_exactly_128_map_entries(self):
        args = []
        for i in range(128):
            args += ["-f", "0x%x-0x%x:/lib/module%d.so" % (0x10000 * i, 0x10000 * i + 0xfff, i)]
        r = run(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.stderr, "Failed to create core context\n")

    def test_thread_names_beyond_200(self):
        args = []
        for i in range(201):
            args += ["-t", "%d:thread%d" % (1000 + i, i)]
        r = run(*args, "-c", "/nonexistent/core")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "No more than 200 thread names\n"
                                   "Failed to create core context\n")
        r = run(*args[:-2], "-c", "/nonexistent/core")
        self.assertEqual(r.stderr, "Failed to create core context\n")

    def test_malformed_map_entries(self):
        form = "Process map entry must be on form <start>-<end>:<executable>\n"
        for arg in ("1000-2000", "1000-2000:", "1000:/bin/true", "zz-2000:/bin/true",
                    "", "-:/bin/true"):
            r = run("-f", arg, "-c", "/nonexistent/core")
            self.assertEqual(r.stderr, form + "Failed to create core context\n", repr(arg))

    def test_malformed_thread_names(self):
        form = "Thread name must be on form <tid>:<name>\n"
        for arg in ("123", "123:", "name:123", ":name", ""):
            r = run("-t", arg, "-c", "/nonexistent/core")
            self.assertEqual(r.stderr, form + "Failed to create core context\n", repr(arg))

    def test_long_arguments_are_safe(self):
        # Paths and names far beyond their fields are cut, never overflow.
        long_path = "/" + "p" * 4000
        r = run("-f", "1000-2000:" + long_path, "-t", "7:" + "n" * 4000,
                "-C", "c" * 4000, "-c", "/nonexistent/core")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, "Failed to create core context\n")


def main():
    global EMULATOR, CORESTACK
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", default="")
    parser.add_argument("corestack")
    args, rest = parser.parse_known_args()
    EMULATOR = shlex.split(args.emulator)
    CORESTACK = args.corestack
    sys.exit(scripttest.run(rest))


if __name__ == "__main__":
    main()
