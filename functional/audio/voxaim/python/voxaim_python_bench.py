#!/usr/bin/env python3
"""The frame loop from Python against voxaim_replay: 480 frames of a rendered
tovak talker, the best of five wall-clock runs each (the replay as a process
writing its CSV, the module reading the file, opening the engine and running
it), and their ratio. A benchmark, not a test: run it by hand on a quiet
machine.

usage: PYTHONPATH=<module folder> voxaim_python_bench.py --replay voxaim_replay --render voxaim_render
"""
import argparse
import os
import subprocess
import tempfile
import time

import voxaim

FRAMES = 480
RUNS = 5


def best(action):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return min(times)


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

        replayed = best(replay)
        ran = best(run)
    print("%d frames: voxaim_replay %.3f s, Engine.run %.3f s, ratio %.2f" % (FRAMES, replayed, ran, ran / replayed))


if __name__ == "__main__":
    main()
