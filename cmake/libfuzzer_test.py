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

parser = argparse.ArgumentParser()
parser.add_argument("--emulator", default="")  # always empty: native preset only
parser.add_argument("--clang", required=True)
parser.add_argument("--include", required=True)
parser.add_argument("--out", required=True)
parser.add_argument("--seeds", required=True)
parser.add_argument("--seconds", type=int, default=20)
parser.add_argument("--max-len", type=int, default=4096)
parser.add_argument("sources", nargs="+")
args = parser.parse_args()

os.makedirs(args.out, exist_ok=True)
binary = os.path.join(args.out, "fuzzer")
build = [args.clang, "-std=c++20", "-g", "-O1", "-fsanitize=fuzzer,address,undefined",
         "-fno-sanitize-recover=undefined", "-I", args.include, *args.sources, "-o", binary]
print(" ".join(build), flush=True)
subprocess.run(build, check=True)

corpus = os.path.join(args.out, "corpus")
shutil.rmtree(corpus, ignore_errors=True)
shutil.copytree(args.seeds, corpus)
run = [binary, f"-max_total_time={args.seconds}", f"-max_len={args.max_len}", "-timeout=5",
       "-print_final_stats=1", f"-artifact_prefix={args.out}/", corpus]
print(" ".join(run), flush=True)
sys.exit(subprocess.run(run).returncode)
