#!/usr/bin/env python3
"""Builds the libFuzzer target of the record and log-line parsers with clang
(the presets use gcc) and runs it for a fixed time; fails on any finding."""

import argparse
import os
import subprocess
import sys

parser = argparse.ArgumentParser()
parser.add_argument("--emulator", default="")
parser.add_argument("--clang", required=True)
parser.add_argument("--source-root", required=True)
parser.add_argument("--out", required=True)
parser.add_argument("--seconds", type=int, default=20)
args = parser.parse_args()

here = os.path.join(args.source_root, "functional/apps/kmsgwatch")
os.makedirs(args.out, exist_ok=True)
binary = os.path.join(args.out, "kmsgwatch_record_fuzz")
build = [args.clang, "-std=c++20", "-g", "-O1", "-fsanitize=fuzzer,address,undefined",
         "-fno-sanitize-recover=undefined", "-I", args.source_root,
         os.path.join(here, "record_fuzz.cpp"), os.path.join(here, "record.cpp"), "-o", binary]
print(" ".join(build), flush=True)
subprocess.run(build, check=True)

corpus = os.path.join(args.out, "corpus")
os.makedirs(corpus, exist_ok=True)
seeds = {
    "kmsg": b"11,42,123456789,-;Internal error: Oops: 17\n SUBSYSTEM=x\n",
    "line": b"2026-12-08T04:00:00 kernel: [   12.345678] Out of memory: Killed process 7\n",
    "bracket": b"ts kernel: [1.0]",
}
for name, data in seeds.items():
    with open(os.path.join(corpus, name), "wb") as f:
        f.write(data)
run = [binary, f"-max_total_time={args.seconds}", "-max_len=4096", "-timeout=5",
       f"-artifact_prefix={args.out}/", corpus]
print(" ".join(run), flush=True)
result = subprocess.run(run)
sys.exit(result.returncode)
