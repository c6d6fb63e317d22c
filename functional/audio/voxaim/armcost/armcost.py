#!/usr/bin/env python3
"""Executed ARM instructions per call of the transforms (ours beside FFTW3f)
and per engine frame, counted under qemu-arm with the insn_count plugin.

    armcost.py --emulator "qemu-arm -L /" --plugin libinsn_count.so --driver armcost
               [--guard RATIO] [--profile CASE]

Without --guard: prints the Markdown table of the README's ARM section.
With --guard RATIO: counts only the complex forward 2048 and the real inverse
16384 with their FFTW3f peers and fails (exit 1) when either of ours runs
more than RATIO times its peer's instructions. With --profile CASE: the
instructions of that case by function.

Counts are exact: the same binary gives the same numbers on every run. Every
call is counted on its own; the markers' own instructions (the "empty"
region) are subtracted.
"""
import argparse
import os
import shlex
import subprocess
import sys
import tempfile

TRANSFORMS = [
    ("cfft-forward-2048", "complex FFT 2048 forward"),
    ("cfft-inverse-8192", "complex FFT 8192 inverse"),
    ("real-forward-4096", "voxaim_realFft 4096"),
    ("real-inverse-16384", "voxaim_realIfft 16384"),
]
GUARDED = ["cfft-forward-2048", "real-inverse-16384"]
VARIANTS = ["mirel", "tovak", "lumo", "zandor", "valdrun", "feyla", "brannt"]
# One 2048-sample frame at 48 kHz, on a 1 GHz core at one instruction per cycle.
FRAME_BUDGET_INSTRUCTIONS = 2048 / 48000 * 1e9


def count(args, cases, profile=False):
    """Runs the driver once over cases; returns {case: [count per region]}
    (markers subtracted) and the profile lines."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "counts")
        plugin = f"{args.plugin},out={out}" + (",profile=on" if profile else "")
        cmd = shlex.split(args.emulator) + ["-plugin", plugin, args.driver, "empty"] + cases
        if not shlex.split(args.emulator):
            sys.exit("armcost: an emulator (qemu-arm) is needed")
        run = subprocess.run(cmd, stdout=subprocess.PIPE, text=True, check=False)
        if run.returncode != 0:
            sys.exit(f"armcost: {' '.join(cmd)} exited with {run.returncode}")
        names = run.stdout.split()
        with open(out, encoding="ascii") as f:
            lines = [line.split() for line in f]
    regions = [int(n) for tag, _, n in (l for l in lines if l[0] == "region")]
    if len(regions) != len(names):
        sys.exit(f"armcost: {len(names)} regions opened, {len(regions)} counted")
    per_case = {}
    for name, n in zip(names, regions):
        per_case.setdefault(name, []).append(n)
    empty = per_case.pop("empty")
    if len(set(empty)) != 1:
        sys.exit(f"armcost: the empty region counts differ: {empty}")
    for name in per_case:
        per_case[name] = [n - empty[0] for n in per_case[name]]
    return per_case, [l for l in lines if l[0] == "profile"]


def per_call(counts, name):
    """A transform's count: its calls after the first (which also resolves
    lazy bindings and first-use set-up) must agree exactly."""
    warm = counts[name][1:]
    if len(set(warm)) != 1:
        sys.exit(f"armcost: {name} counts differ from call to call: {counts[name]}")
    return warm[0]


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--emulator", required=True)
    p.add_argument("--plugin", required=True)
    p.add_argument("--driver", required=True)
    p.add_argument("--guard", type=float)
    p.add_argument("--profile")
    args = p.parse_args()

    if args.profile:
        counts, profile = count(args, [args.profile], profile=True)
        print(f"{args.profile}: {counts[args.profile]} per call (profile over all calls)")
        for _, n, symbol in profile:
            print(f"{int(n):>12,}  {symbol}")
        return 0

    if args.guard:
        import scripttest  # tools/testing: on PYTHONPATH where the guard runs as a test
        t = scripttest.Failures()
        counts, _ = count(args, [c for name in GUARDED for c in (name, "fftw-" + name)])
        for name in GUARDED:
            ours, peer = per_call(counts, name), per_call(counts, "fftw-" + name)
            ok = ours <= args.guard * peer
            print(f"{name}: ours {ours:,} FFTW3f {peer:,} ratio {ours / peer:.3f} "
                  f"(limit {args.guard}) {'ok' if ok else 'TOO MANY INSTRUCTIONS'}")
            t.check(ok, f"{name}: at most {args.guard} times FFTW3f's instructions")
        t.finish()

    cases = [c for name, _ in TRANSFORMS for c in (name, "fftw-" + name)] + ["frame-" + v for v in VARIANTS]
    counts, _ = count(args, cases)
    print("| per call | ours | FFTW3f (ESTIMATE) | ratio |")
    print("|---|---|---|---|")
    for name, label in TRANSFORMS:
        ours, peer = per_call(counts, name), per_call(counts, "fftw-" + name)
        print(f"| {label} | {ours:,} | {peer:,} | {ours / peer:.2f} |")
    print()
    frames = {v: sum(counts["frame-" + v]) / len(counts["frame-" + v]) for v in VARIANTS}
    print("| variant | " + " | ".join(VARIANTS) + " |")
    print("|---|" + "---|" * len(VARIANTS))
    print("| M instructions per frame | " + " | ".join(f"{frames[v] / 1e6:.2f}" for v in VARIANTS) + " |")
    print("| share of the frame budget | " +
          " | ".join(f"{100 * frames[v] / FRAME_BUDGET_INSTRUCTIONS:.0f}%" for v in VARIANTS) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
