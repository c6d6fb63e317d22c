#!/usr/bin/env python3
"""The frame loop from Python against voxaim_replay: 480 frames of a rendered
tovak talker, the least CPU time (user + system) of nine interleaved runs
each (the replay as a process writing its CSV; the module reading the file,
opening the engine and running it), and their ratio. CPU time, as the shared
build machine's load makes wall-clock times swing by 2x. A benchmark, not a
test: run it by hand.

usage: PYTHONPATH=<module folder> voxaim_python_bench.py --replay voxaim_replay --render voxaim_render
"""
import argparse
import os
import resource
import subprocess
import tempfile

import voxaim

FRAMES = 480
RUNS = 9


def cpu_time(action):
    """CPU seconds of this process and its children spent in action()."""
    def now():
        return sum(u.ru_utime + u.ru_stime for u in (resource.getrusage(resource.RUSAGE_SELF),
                                                     resource.getrusage(resource.RUSAGE_CHILDREN)))
    before = now()
    action()
    return now() - before


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--replay", required=True)
    parser.add_argument("--render", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        wav = os.path.join(work, "talker.wav")
        subprocess.run([args.render, "--type", "tovak", "-a", "30", "-n", str(FRAMES), wav], check=True,
                       stdout=subprocess.DEVNULL)

        def replay():
            subprocess.run([args.replay, "--type", "tovak", wav], check=True, stdout=subprocess.DEVNULL)

        def run():
            with voxaim.Engine("tovak") as engine:
                engine.run(*voxaim.read(wav))

        replayed, ran = [], []
        for _ in range(RUNS):
            replayed.append(cpu_time(replay))
            ran.append(cpu_time(run))
        replayed, ran = min(replayed), min(ran)
    print("%d frames: voxaim_replay %.3f s, Engine.run %.3f s, ratio %.2f" % (FRAMES, replayed, ran, ran / replayed))


if __name__ == "__main__":
    main()
