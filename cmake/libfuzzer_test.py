#!/usr/bin/env python3
"""Builds a libFuzzer target with clang (the presets use gcc) under the address
and undefined-behaviour sanitizers, seeds its corpus from a folder of example
inputs, and runs it for a bounded time. Fails when clang cannot build it or the
fuzzer reports a finding (its reproducer is left in the output folder)."""

import argparse
import os
import shutil
import subprocess
import sys
import unittest

import scripttest  # tools/testing, on PYTHONPATH

ARGS = None


class Fuzzing(unittest.TestCase):
    def test_no_finding_in_the_time_given(self):
        os.makedirs(ARGS.out, exist_ok=True)
        binary = os.path.join(ARGS.out, "fuzzer")
        build = [ARGS.clang, "-std=c++20", "-g", "-O1", "-fsanitize=fuzzer,address,undefined",
                 "-fno-sanitize-recover=undefined", "-I", ARGS.include, *ARGS.sources, "-o", binary]
        print(" ".join(build), flush=True)
        self.assertEqual(subprocess.run(build).returncode, 0, "clang could not build the fuzzer")

        corpus = os.path.join(ARGS.out, "corpus")
        shutil.rmtree(corpus, ignore_errors=True)
        shutil.copytree(ARGS.seeds, corpus)
        run = [binary, f"-max_total_time={ARGS.seconds}", f"-max_len={ARGS.max_len}", "-timeout=5",
               "-print_final_stats=1", f"-artifact_prefix={ARGS.out}/", corpus]
        print(" ".join(run), flush=True)
        self.assertEqual(subprocess.run(run).returncode, 0, f"a finding: its reproducer is in {ARGS.out}")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", default="")  # always empty: native preset only
    parser.add_argument("--clang", required=True)
    parser.add_argument("--include", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seeds", required=True)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--max-len", type=int, default=4096)
    parser.add_argument("sources", nargs="+")
    ARGS, rest = parser.parse_known_args()
    return scripttest.run(rest)


if __name__ == "__main__":
    sys.exit(main())
