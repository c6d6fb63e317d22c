#!/usr/bin/env python3
"""Builds the libFuzzer target of the ASCII record operations with clang
(address and undefined-behaviour sanitizers) and runs it for a bounded time.
Fails when clang cannot build it or the fuzzer reports a finding."""
import argparse
import os
import subprocess
import sys

parser = argparse.ArgumentParser()
parser.add_argument("--emulator", default="")
parser.add_argument("--clang", required=True)
parser.add_argument("--source-dir", required=True)
parser.add_argument("--build-dir", required=True)
parser.add_argument("--seconds", type=int, default=20)
args = parser.parse_args()

here = os.path.join(args.source_dir, "platform/udev/eeprom")
work = os.path.join(args.build_dir, "eeprom_ascii_fuzz")
corpus = os.path.join(work, "corpus")
os.makedirs(corpus, exist_ok=True)
binary = os.path.join(work, "eeprom_ascii_fuzz")
build = [args.clang, "-std=c++20", "-g", "-O1", "-fsanitize=fuzzer,address,undefined",
         "-fno-sanitize-recover=undefined", "-I" + args.source_dir,
         os.path.join(here, "eeprom_ascii_fuzz.cpp"), os.path.join(here, "eeprom_ascii.cpp"),
         "-o", binary]
print(" ".join(build), flush=True)
subprocess.run(build, check=True)

# Seeds: the image shapes the partition meets in the field.
seeds = {
    "erased": b"key\x00abc\x00" + b"\x00" + b"\xff" * 255,
    "blank": b"key\x00abc\x00" + b"\xff" * 256,
    "records": b"key\x00x\x00a=1\nkey=old\nkeyring=2\n\x00",
    "dangling": b"key\x00new\x00key=1\nkey=dangling\x00",
    "garbage": b"key\x00v\x00" + bytes(range(1, 256)),
}
for name, data in seeds.items():
    with open(os.path.join(corpus, name), "wb") as f:
        f.write(data)

run = [binary, "-max_total_time=%d" % args.seconds, "-max_len=600", "-print_final_stats=1",
       "-artifact_prefix=" + work + "/", corpus]
print(" ".join(run), flush=True)
sys.exit(subprocess.run(run).returncode)
