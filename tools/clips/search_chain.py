#!/usr/bin/env python3
"""Searches recording chains for the built-in clips (tooling, not a test).

Every candidate is make_clips.py's chain with some parameters changed; it is
rendered to raw float files and run through voxaim_clipsearch (build it with
`cmake --build --preset native --target voxaim_clipsearch`), which runs the
eighteen engine test routines. One line per candidate: the parameters, the
number of failed checks, the failing routines and the figures that decide the
position tests. The expectations themselves are never changed here.

  search_chain.py --tool build/native/tools/clips/voxaim_clipsearch \
      --grid SPEECH_START=0:240000:12000 --grid NOISE_FLOOR_DB=-6,-9 [--set NAME=VALUE]
"""

import argparse
import itertools
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_clips  # noqa: E402


def values(spec):
    if ":" in spec:
        lo, hi, step = (float(v) for v in spec.split(":"))
        out, v = [], lo
        while v <= hi + 1e-9:
            out.append(v)
            v += step
        return out
    return [float(v) for v in spec.split(",")]


def typed(name, v):
    return int(v) if isinstance(getattr(make_clips, name), int) else float(v)


def evaluate(tool, params, workdir, quick=False):
    speech = make_clips.female_speech(make_clips.DEFAULT_SOUNDS, params)
    noise = make_clips.room_noise(make_clips.DEFAULT_SOUNDS, params)
    sp, np_ = os.path.join(workdir, "s.f32"), os.path.join(workdir, "n.f32")
    with open(sp, "wb") as f:
        f.write(struct.pack("<48000f", *speech))
    with open(np_, "wb") as f:
        f.write(struct.pack("<48000f", *noise))
    out = subprocess.run([tool, sp, np_] + (["--quick"] if quick else []), capture_output=True, text=True, check=True).stdout
    failing, figures, total = [], {}, None
    for line in out.splitlines():
        f = line.split()
        if f[0] == "ROUTINE" and f[2] != "0":
            failing.append(f"{f[1]}:{f[2]}")
        elif f[0] == "POS":
            figures[f"{f[1]}{f[2]}"] = tuple(float(v) for v in f[3:])
        elif f[0] == "TOTAL":
            total = int(f[1])
    return total, failing, figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--grid", action="append", default=[])
    parser.add_argument("--set", action="append", default=[])
    parser.add_argument("--quick", action="store_true", help="stop each candidate at its first failure")
    args = parser.parse_args()
    fixed = {}
    for s in args.set:
        k, v = s.split("=")
        fixed[k] = typed(k, v)
    names, axes = [], []
    for g in args.grid:
        k, v = g.split("=")
        names.append(k)
        axes.append([typed(k, x) for x in values(v)])
    with tempfile.TemporaryDirectory() as workdir:
        for combo in itertools.product(*axes):
            over = dict(fixed)
            over.update(zip(names, combo))
            p = make_clips.parameters(**over)
            try:
                total, failing, fig = evaluate(args.tool, p, workdir, args.quick)
            except SystemExit as e:
                print(over, "skipped:", e, flush=True)
                continue
            if "mirel1" not in fig:
                print(f"{over} stopped fail={' '.join(failing)}", flush=True)
                continue
            m1, m2 = fig["mirel1"], fig["mirel2"]
            print(f"{over} total={total} q={m1[3]:.4f}/{m2[3]:.4f} "
                  f"brannt1={fig['brannt1'][0]:.2f},{fig['brannt1'][1]:.2f} "
                  f"lumo2={fig['lumo2'][1]:.2f} tovak1r={fig['tovak1'][2]:.2f} "
                  f"fail={' '.join(failing)}", flush=True)


if __name__ == "__main__":
    main()
