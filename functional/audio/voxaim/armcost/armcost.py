#!/usr/bin/env python3
"""Executed ARM instructions per call of the transforms (ours beside FFTW3f
and Ne10) and per engine frame, counted under qemu-arm with the insn_count
plugin.

    armcost.py --emulator "qemu-arm -L /" --plugin libinsn_count.so --driver armcost
               [--guard RATIO --baseline FILE] [--write-baseline FILE] [--profile CASE]

Without options: prints the Markdown tables of the ARM part of docs/performance.md.

--guard RATIO --baseline FILE: fails (exit 1) when the complex forward 2048
or the real inverse 16384 runs more than RATIO times FFTW3f's instructions,
or when any of the four transforms or the frame of any variant runs more
than 2% above its count in FILE. Counts are exact, so the guard cannot
flake; a change that makes something cheaper passes and should lower the
baseline in the same commit (--write-baseline).

--write-baseline FILE: counts what the guard counts and writes FILE.

--profile CASE: the instructions of that case by function.

Every call is counted on its own; the markers' own instructions (the
"empty" region) are subtracted.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "..", "tools", "testing"))
import scripttest  # noqa: E402

TRANSFORMS = [
    ("cfft-forward-2048", "complex FFT 2048 forward"),
    ("cfft-inverse-8192", "complex FFT 8192 inverse"),
    ("real-forward-4096", "voxaim_realFft 4096"),
    ("real-inverse-16384", "voxaim_realIfft 16384"),
]
PEERS = [("fftw-", "FFTW3f"), ("ne10-", "Ne10")]
CEILING = ["cfft-forward-2048", "real-inverse-16384"]  # against FFTW3f
VARIANTS = ["mirel", "tovak", "lumo", "zandor", "valdrun", "feyla", "brannt"]
BASELINE_SLACK = 1.02
# One 2048-sample frame at 48 kHz, on a 1 GHz core at one instruction per cycle.
FRAME_BUDGET_INSTRUCTIONS = 2048 / 48000 * 1e9


def count(args, cases, profile=False):
    """Runs the driver once over cases; returns {case: [count per region]}
    (markers subtracted) and the profile lines."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "counts")
        plugin = f"{args.plugin},out={out}" + (",profile=on" if profile else "")
        if not args.emulator:
            sys.exit("armcost: an emulator (qemu-arm) is needed")
        cmd = args.emulator + ["-plugin", plugin, args.driver, "empty"] + cases
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


def per_frame(counts, variant):
    """A variant's frame: the mean of its eight frames, rounded."""
    frames = counts["frame-" + variant]
    return round(sum(frames) / len(frames))


def our_figures(counts):
    """What the baseline holds: each transform per call, each frame."""
    figures = {name: per_call(counts, name) for name, _ in TRANSFORMS}
    figures.update({"frame-" + v: per_frame(counts, v) for v in VARIANTS})
    return figures


def read_baseline(path):
    figures = {}
    with open(path, encoding="ascii") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                name, value = line.split()
                figures[name] = int(value)
    return figures


def write_baseline(path, figures):
    with open(path, "w", encoding="ascii") as f:
        f.write("# Executed ARM instructions under qemu-arm (armcost.py): each transform per\n"
                "# call, each frame the mean of eight. armcost_guard fails more than 2% above\n"
                "# these; lower them in the commit that makes something cheaper.\n")
        for name, value in figures.items():
            f.write(f"{name} {value}\n")


def guard(args):
    """The checks of --guard, ended through scripttest.Failures (exit 1 when
    one fails)."""
    import scripttest  # tools/testing: on PYTHONPATH where the guard runs as a test
    t = scripttest.Failures()
    cases = [p + n for n in CEILING for p in ("", "fftw-")]
    cases += [n for n, _ in TRANSFORMS if n not in CEILING] + ["frame-" + v for v in VARIANTS]
    counts, _ = count(args, cases)
    for name in CEILING:
        ours, peer = per_call(counts, name), per_call(counts, "fftw-" + name)
        ok = ours <= args.guard * peer
        print(f"{name}: ours {ours:,} FFTW3f {peer:,} ratio {ours / peer:.3f} "
              f"(limit {args.guard}) {'ok' if ok else 'TOO MANY INSTRUCTIONS'}")
        t.check(ok, f"{name}: at most {args.guard} times FFTW3f's instructions")
    baseline = read_baseline(args.baseline)
    for name, ours in our_figures(counts).items():
        if name not in baseline:
            sys.exit(f"armcost: {name} is missing from {args.baseline}")
        ok = ours <= BASELINE_SLACK * baseline[name]
        print(f"{name}: {ours:,} baseline {baseline[name]:,} ({ours / baseline[name] - 1:+.2%}) "
              f"{'ok' if ok else 'MORE THAN 2% ABOVE THE BASELINE'}")
        t.check(ok, f"{name}: at most 2% above {args.baseline}")
    t.finish()


def report(args):
    cases = [p + name for name, _ in TRANSFORMS for p in ("",) + tuple(p for p, _ in PEERS)]
    counts, _ = count(args, cases + ["frame-" + v for v in VARIANTS])
    print("| per call | ours | " + " | ".join(label for _, label in PEERS) + " | ratios |")
    print("|---|---|" + "---|" * len(PEERS) + "---|")
    for name, label in TRANSFORMS:
        ours = per_call(counts, name)
        peers = [per_call(counts, p + name) for p, _ in PEERS]
        print(f"| {label} | {ours:,} | " + " | ".join(f"{n:,}" for n in peers) + " | " +
              " / ".join(f"{ours / n:.2f}" for n in peers) + " |")
    print()
    frames = {v: per_frame(counts, v) for v in VARIANTS}
    print("| variant | " + " | ".join(VARIANTS) + " |")
    print("|---|" + "---|" * len(VARIANTS))
    print("| M instructions per frame | " + " | ".join(f"{frames[v] / 1e6:.2f}" for v in VARIANTS) + " |")
    print("| share of the frame budget | " +
          " | ".join(f"{100 * frames[v] / FRAME_BUDGET_INSTRUCTIONS:.0f}%" for v in VARIANTS) + " |")
    return 0


def options(parser):
    parser.add_argument("--guard", type=float)
    parser.add_argument("--baseline")
    parser.add_argument("--write-baseline")
    parser.add_argument("--profile")


def main():
    args = scripttest.arguments(options=("--plugin", "--driver"), extra=options, checks=True)

    if args.profile:
        counts, profile = count(args, [args.profile], profile=True)
        print(f"{args.profile}: {counts[args.profile]} per call (profile over all calls)")
        for _, n, symbol in profile:
            print(f"{int(n):>12,}  {symbol}")
        return 0
    if args.write_baseline:
        counts, _ = count(args, [n for n, _ in TRANSFORMS] + ["frame-" + v for v in VARIANTS])
        write_baseline(args.write_baseline, our_figures(counts))
        return 0
    if args.guard:
        if not args.baseline:
            sys.exit("armcost: --guard needs --baseline")
        guard(args)
    return report(args)


if __name__ == "__main__":
    sys.exit(main())
