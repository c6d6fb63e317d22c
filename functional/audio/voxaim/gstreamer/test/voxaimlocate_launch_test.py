#!/usr/bin/env python3
"""voxaimlocate in gst-launch-1.0: for a rendered file of every sample format
the "voxaim" messages carry voxaim_replay's CSV values, frame for frame; the
C example of docs/tuning.md reads the same.

usage: voxaimlocate_launch_test.py --emulator "" --replay R --render R --readme docs/tuning.md --cc CC
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

import scripttest  # tools/testing, on PYTHONPATH

TMP = tempfile.TemporaryDirectory(prefix="voxaimlocate-")
FLAGS = ["voice-activity", "time-domain-answer", "sound-activity", "far-end-activity", "noise-hold",
         "ultrasound-distortion", "panel-upright"]


def run(*command):
    r = subprocess.run(command, capture_output=True, text=True, timeout=120, cwd=TMP.name)
    if r.returncode != 0:
        raise AssertionError("%s failed: %s%s" % (command[0], r.stdout[-2000:], r.stderr))
    return r.stdout


def rendered(args, sample):
    """A 24-frame tovak file of `sample` and voxaim_replay's CSV lines of it."""
    name = os.path.join(TMP.name, "tovak_%s.wav" % sample)
    if not os.path.exists(name):
        run(args.render, "--type", "tovak", "-n", "24", "-s", sample, name)
    return name, run(args.replay, "--type", "tovak", name).splitlines()[1:]


def csv_of_messages(output):
    lines = []
    for line in output.splitlines():
        if "(element): voxaim, " in line:
            m = dict(re.findall(r"([a-z-]+)=\([a-z0-9]+\)([^,;]+)", line))
            lines.append(",".join([m["frame"]] + ["%.9g" % float(m[k]) for k in ("azimuth", "elevation", "range",
                                                                                   "quality")]
                                  + ["0x%02x" % int(m["flags"])] + ["1" if m[f] == "true" else "0" for f in FLAGS]))
    return lines


class Pipelines(unittest.TestCase):
    def same(self, got, expected):
        # Not assertEqual: its diff of long, slightly different lines takes minutes.
        first = next((i for i, (g, e) in enumerate(zip(got, expected)) if g != e), min(len(got), len(expected)))
        self.assertTrue(got == expected and len(expected) == 24, "from line %d: %s instead of %s"
                        % (first, got[first:first + 1], expected[first:first + 1]))

    def test_messages_equal_the_replay_for_every_sample_format(self):
        for sample, caps in (("16", "S16LE"), ("24", "S24_32LE"), ("32", "S32LE"), ("float", "F32LE"),
                             ("24", "F32LE"), ("24", "")):
            with self.subTest(sample=sample, caps=caps):
                name, expected = rendered(self.args, sample)
                convert = "audioconvert ! audio/x-raw,format=%s" % caps if caps else "audioconvert"
                pipeline = "filesrc location=%s ! wavparse ! %s ! voxaimlocate variant=tovak ! fakesink"
                self.same(csv_of_messages(run("gst-launch-1.0", "-m", *(pipeline % (name, convert)).split())),
                          expected)

    def test_readme_example_reads_the_messages(self):
        with open(self.args.readme) as f:
            code = re.search(r"<!-- voxaimlocate example -->\n```c\n(.*?)```", f.read(), re.S)
        self.assertIsNotNone(code, "no C example in %s" % self.args.readme)
        source, program = os.path.join(TMP.name, "example.c"), os.path.join(TMP.name, "example")
        with open(source, "w") as f:
            f.write(code.group(1))
        run(self.args.cc, "-Wall", "-Werror", "-o", program, source,
            *run("pkg-config", "--cflags", "--libs", "gstreamer-1.0").split())
        name, expected = rendered(self.args, "24")
        self.same(run(program, name).splitlines(), [",".join(line.split(",")[:5]) for line in expected])


if __name__ == "__main__":
    status = scripttest.run(scripttest.arguments("--replay", "--render", options=("--readme", "--cc")))
    TMP.cleanup()
    sys.exit(status)
