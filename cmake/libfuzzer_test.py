#!/usr/bin/env python3
"""Builds a libFuzzer target with clang (the presets use gcc) under the address
and undefined-behaviour sanitizers, seeds its corpus from a folder of example
inputs, and runs it for a bounded time. Fails when clang cannot build it or the
fuzzer reports a finding (its reproducer is left in the output folder)."""

import os
import shutil
import subprocess
import sys
import unittest

import scripttest  # tools/testing, on PYTHONPATH


class Fuzzing(unittest.TestCase):
    def test_no_finding_in_the_time_given(self):
        os.makedirs(self.args.out, exist_ok=True)
        binary = os.path.join(self.args.out, "fuzzer")
        build = [self.args.clang, "-std=c++20", "-g", "-O1", "-fsanitize=fuzzer,address,undefined",
                 "-fno-sanitize-recover=undefined", "-I", self.args.include, *self.args.sources, "-o", binary]
        print(" ".join(build), flush=True)
        self.assertEqual(subprocess.run(build).returncode, 0, "clang could not build the fuzzer")

        corpus = os.path.join(self.args.out, "corpus")
        shutil.rmtree(corpus, ignore_errors=True)
        shutil.copytree(self.args.seeds, corpus)
        run = [binary, f"-max_total_time={self.args.seconds}", f"-max_len={self.args.max_len}", "-timeout=5",
               "-print_final_stats=1", f"-artifact_prefix={self.args.out}/", corpus]
        print(" ".join(run), flush=True)
        self.assertEqual(subprocess.run(run).returncode, 0, f"a finding: its reproducer is in {self.args.out}")


def options(parser):
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--max-len", type=int, default=4096)
    parser.add_argument("sources", nargs="+")


def main():
    # The emulator is always empty: native preset only.
    return scripttest.run(scripttest.arguments("--clang", options=("--include", "--out", "--seeds"), extra=options))


if __name__ == "__main__":
    sys.exit(main())
