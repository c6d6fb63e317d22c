#!/usr/bin/env python3
"""voxaimlocate in gst-launch-1.0 pipelines: for a rendered sound file of
every sample format, the element messages carry the values of voxaim_replay's
CSV for that file, frame for frame; the audio leaves the element unchanged; a
file of another variant's channel count fails with the element's message; the
README's C example reads the same messages.

usage: voxaimlocate_launch_test.py --emulator "" --replay <voxaim_replay>
           --render <voxaim_render> --readme <README.md> --cc <compiler>
"""
import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import scripttest  # tools/testing, on PYTHONPATH

ARGS = None
TMP = None
FRAMES = 24
FLAGS = ["voice-activity", "time-domain-answer", "sound-activity", "far-end-activity", "noise-hold",
         "ultrasound-distortion", "panel-upright"]
FIELD = re.compile(r"([a-z-]+)=\(([a-z0-9]+)\)([^,;]+)")


def path(name):
    return os.path.join(TMP.name, name)


def run(*command, timeout=300):
    return subprocess.run(list(command), capture_output=True, text=True, timeout=timeout, cwd=TMP.name)


def render(name, sample, variant="tovak", frames=FRAMES):
    r = run(ARGS.render, "--type", variant, "-n", str(frames), "-s", sample, path(name))
    if r.returncode != 0:
        raise AssertionError("voxaim_render failed: " + r.stderr)


def replay_csv(name, variant="tovak"):
    r = run(ARGS.replay, "--type", variant, path(name))
    if r.returncode != 0:
        raise AssertionError("voxaim_replay failed: " + r.stderr)
    return r.stdout.splitlines()[1:]


def launch(*pipeline):
    return run("gst-launch-1.0", "-m", *" ! ".join(pipeline).split())


def as_csv(messages):
    """The messages' values as voxaim_replay prints them."""
    lines = []
    for m in messages:
        numbers = ["%.9g" % float(m[k]) for k in ("azimuth", "elevation", "range", "quality")]
        bits = ["1" if m[f] == "true" else "0" for f in FLAGS]
        lines.append(",".join([m["frame"], *numbers, "0x%02x" % int(m["flags"]), *bits]))
    return lines


def messages_of(output):
    """The fields of every "voxaim" element message gst-launch-1.0 -m printed."""
    found = []
    for line in output.splitlines():
        at = line.find("(element): voxaim, ")
        if at >= 0:
            found.append({name: value for name, _, value in FIELD.findall(line[at:])})
    return found


class Pipelines(unittest.TestCase):
    def test_messages_equal_the_replay_for_every_sample_format(self):
        for sample, caps in (("16", "S16LE"), ("24", "S24_32LE"), ("32", "S32LE"), ("float", "F32LE"),
                             ("24", "F32LE"), ("24", None)):
            with self.subTest(sample=sample, caps=caps):
                name = "tovak_%s.wav" % sample
                if not os.path.exists(path(name)):
                    render(name, sample)
                expected = replay_csv(name)
                self.assertEqual(len(expected), FRAMES)
                stages = ["filesrc location=%s" % path(name), "wavparse", "audioconvert"]
                if caps:
                    stages.append("audio/x-raw,format=%s" % caps)
                r = launch(*stages, "voxaimlocate variant=tovak", "fakesink")
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                messages = messages_of(r.stdout)
                self.assertEqual(as_csv(messages), expected)
                for k, m in enumerate(messages):
                    self.assertEqual(int(m["timestamp"]), k * 2048 * 10**9 // 48000)
                    self.assertEqual(m["running-time"], m["timestamp"])

    def test_audio_leaves_unchanged(self):
        render("tovak_16.wav", "16")
        with open(path("tovak_16.wav"), "rb") as f:
            data = f.read()
        at = 12
        while data[at:at + 4] != b"data":
            at += 8 + struct.unpack_from("<I", data, at + 4)[0]
        size = struct.unpack_from("<I", data, at + 4)[0]
        samples = data[at + 8:at + 8 + size]
        r = launch("filesrc location=%s" % path("tovak_16.wav"), "wavparse", "voxaimlocate",
                   "filesink location=%s" % path("out.raw"))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(path("out.raw"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), hashlib.sha256(samples).hexdigest())

    def test_wrong_channel_count_fails_naming_the_variants_count(self):
        render("feyla.wav", "16", variant="feyla", frames=2)
        r = launch("filesrc location=%s" % path("feyla.wav"), "wavparse", "audioconvert",
                   "voxaimlocate variant=tovak", "fakesink")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("Variant tovak has 8 microphones: the audio must have 8 channels, not 4", r.stdout + r.stderr)
        self.assertEqual(messages_of(r.stdout), [])

    def test_readme_example_reads_the_messages(self):
        with open(ARGS.readme) as f:
            readme = f.read()
        code = re.search(r"<!-- voxaimlocate example -->\n```c\n(.*?)```", readme, re.S)
        self.assertIsNotNone(code, "no C example in the README")
        with open(path("example.c"), "w") as f:
            f.write(code.group(1))
        flags = run("pkg-config", "--cflags", "--libs", "gstreamer-1.0").stdout.split()
        r = run(ARGS.cc, "-Wall", "-Werror", "-o", path("example"), path("example.c"), *flags)
        self.assertEqual(r.returncode, 0, r.stderr)
        render("tovak_24.wav", "24")
        r = run(path("example"), path("tovak_24.wav"))
        self.assertEqual(r.returncode, 0, r.stderr)
        expected = [",".join(line.split(",")[:5]) for line in replay_csv("tovak_24.wav")]
        self.assertEqual(r.stdout.splitlines(), expected)


def main():
    global ARGS, TMP
    parser = argparse.ArgumentParser()
    for option in ("--emulator", "--replay", "--render", "--readme", "--cc"):
        parser.add_argument(option, required=option != "--emulator")
    ARGS, rest = parser.parse_known_args()
    TMP = tempfile.TemporaryDirectory(prefix="voxaimlocate-")
    try:
        return scripttest.run(rest)
    finally:
        TMP.cleanup()


if __name__ == "__main__":
    sys.exit(main())
