#!/usr/bin/env python3
"""voxaim_replay as a process: replaying a recording made by the engine itself
prints exactly the answers the engine gave when it was recorded, and every
kind of damaged or missing input ends with a message and exit status 1,
never an assertion or a crash.

usage: voxaim_replay_test.py --emulator "<prefix>" <voxaim_replay> <voxaim_replay_recorder>
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import scripttest  # tools/testing, on PYTHONPATH

FRAMES = 6   # frame 1 is passed as 16-bit samples; noise hold in frame 2, far end in frame 4
HEADER = ("frame,azimuth,elevation,range,quality,flags,VOXAIM_OUT_VOICE_ACTIVITY,"
          "VOXAIM_OUT_TIME_DOMAIN_ANSWER,VOXAIM_OUT_SOUND_ACTIVITY,VOXAIM_OUT_FAR_END_ACTIVITY,"
          "VOXAIM_OUT_NOISE_HOLD,VOXAIM_OUT_ULTRASOUND_DISTORTION,VOXAIM_OUT_PANEL_UPRIGHT")
USAGE = ("usage: voxaim_replay [-q] [--format csv|jsonl] [--map N:FILE]...\n"
         "                     [--serve [ADDR:]PORT [--speed X] [--no-wait] [--exit]] <recording>\n"
         "       voxaim_replay --type <variant> [-q] [--format csv|jsonl] [--flags FILE] [--map N:FILE]...\n"
         "                     [--serve [ADDR:]PORT [--speed X] [--no-wait] [--exit]] <sound file>\n")
SAMPLES = 2048


def record_bytes(channels):
    return 8 + channels * SAMPLES * 4


class Workdir:
    """A private directory, also the programs' working directory, so that a
    core file left by a crash would be seen (and removed with it)."""
    tmp = None

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp.name, name)

    @classmethod
    def write(cls, name, data):
        with open(cls.path(name), "wb") as f:
            f.write(data)
        return cls.path(name)

    @classmethod
    def cores(cls):
        return [n for n in os.listdir(cls.tmp.name) if n.startswith(("core", "qemu_"))]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(program, *args):
    return subprocess.run(program.command(*args), capture_output=True, text=True,
                          timeout=300, cwd=Workdir.tmp.name)


def record(recorder, product_type, name):
    """Records FRAMES synthetic frames; returns (recording path, the CSV the
    engine printed while recording)."""
    path = Workdir.path(name)
    r = run(recorder, str(product_type), path, str(FRAMES))
    if r.returncode != 0:
        raise AssertionError("recorder failed (%d): %s" % (r.returncode, r.stderr))
    return path, r.stdout


class Replay(unittest.TestCase):
    recordings = {}

    @classmethod
    def setUpClass(cls):
        # tovak: 8 channels, 5 elevation + 4 azimuth pairs; feyla: 4 channels,
        # no elevation pairs.
        for product_type, channels in ((1, 8), (6, 4)):
            path, csv = record(cls.args.recorder, product_type, "type%d.rec" % product_type)
            cls.recordings[product_type] = (path, csv, channels)

    def assertFails(self, r, message):
        """Exit status 1 with `message` in a "voxaim_replay: " line, no
        assertion, no signal, no core file."""
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertRegex(r.stderr, r"^voxaim_replay: .*%s.*\n$" % message)
        self.assertNotIn("Assertion", r.stderr)
        self.assertEqual(Workdir.cores(), [])

    def test_replay_prints_what_the_engine_answered(self):
        for product_type, (path, reference, channels) in self.recordings.items():
            with self.subTest(product_type=product_type):
                self.assertEqual(os.path.getsize(path), 4 + FRAMES * record_bytes(channels))
                r = run(self.args.replay, path)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stderr, "")
                self.assertEqual(r.stdout, reference)  # bit for bit, via %.9g
                lines = r.stdout.splitlines()
                self.assertEqual(lines[0], HEADER)
                self.assertEqual(len(lines), FRAMES + 1)
                for f, line in enumerate(lines[1:]):
                    fields = line.split(",")
                    self.assertEqual(int(fields[0]), f)
                    flags = int(fields[5], 16)
                    # Output bits 3 and 4 echo the recorded input flags.
                    self.assertEqual((flags >> 3) & 3, {2: 2, 4: 1}.get(f, 0), line)
                    # One column per named bit of the flag word.
                    self.assertEqual([int(v) for v in fields[6:]],
                                     [(flags >> bit) & 1 for bit in (0, 1, 2, 3, 4, 5, 7)], line)
                # By the last frame the engine has found the talker
                # (azimuth 30 degrees) with a positive quality.
                last = [float(v) for v in lines[-1].split(",")[1:5]]
                self.assertAlmostEqual(last[0], 30.0, delta=2.0)
                self.assertGreater(last[3], 0.0)

    def test_sample_width_of_each_record_is_used(self):
        path, reference, channels = self.recordings[1]
        data = bytearray(read(path))
        width_at = 4 + record_bytes(channels)   # frame 1 was recorded as 16-bit
        self.assertEqual(struct.unpack_from("<i", data, width_at)[0], 16)
        struct.pack_into("<i", data, width_at, 24)
        r = run(self.args.replay, Workdir.write("width.rec", bytes(data)))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines, expected = r.stdout.splitlines(), reference.splitlines()
        # The same until frame 1; the louder frame changes the engine's state
        # from there on, and the last frame's answer.
        self.assertEqual(lines[:2], expected[:2])
        self.assertNotEqual(lines[-1], expected[-1])

    def test_header_without_frames(self):
        r = run(self.args.replay, Workdir.write("empty.rec", bytes([0xAC, 0x01, 7, 8])))
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, HEADER + "\n", ""))

    def test_truncated_record(self):
        path, reference, channels = self.recordings[1]
        data = read(path)
        expected = reference.splitlines(keepends=True)
        # Cut inside frame 1's samples, inside frame 2's flags word, and one
        # byte short of the end.
        for size, frame in ((4 + record_bytes(channels) + 1000, 1),
                            (4 + 2 * record_bytes(channels) + 6, 2),
                            (len(data) - 1, FRAMES - 1)):
            with self.subTest(size=size):
                r = run(self.args.replay, Workdir.write("cut.rec", data[:size]))
                self.assertFails(r, "truncated record at frame %d" % frame)
                # The frames before the damage are still reported.
                self.assertEqual(r.stdout, "".join(expected[:frame + 1]))

    def test_impossible_sample_width(self):
        path, reference, channels = self.recordings[6]
        expected = reference.splitlines(keepends=True)
        for width in (0, 33, -2**31):
            with self.subTest(width=width):
                data = bytearray(read(path))
                struct.pack_into("<i", data, 4 + 2 * record_bytes(channels), width)
                r = run(self.args.replay, Workdir.write("width.rec", bytes(data)))
                self.assertFails(r, "damaged record at frame 2: sample width %d bits" % width)
                self.assertEqual(r.stdout, "".join(expected[:3]))

    def test_non_finite_sample(self):
        path, reference, channels = self.recordings[6]
        expected = reference.splitlines(keepends=True)
        for value in (float("nan"), float("-inf")):
            with self.subTest(value=value):
                data = bytearray(read(path))
                struct.pack_into("<f", data, 4 + 3 * record_bytes(channels) + 8 + 4 * 5000, value)
                r = run(self.args.replay, Workdir.write("nan.rec", bytes(data)))
                self.assertFails(r, "frame 3: sample not finite")
                self.assertEqual(r.stdout, "".join(expected[:4]))

    def test_damaged_header(self):
        one_frame = bytes(record_bytes(8))
        cases = {
            "magic": (bytes([0xAD, 0x01, 1, 8]) + one_frame,
                      "not a raw-input recording: header begins 0xad 0x01"),
            "magic2": (bytes([0xAC, 0x02, 1, 8]) + one_frame, "not a raw-input recording"),
            "type3": (bytes([0xAC, 0x01, 3, 8]) + one_frame, "invalid product type 3"),
            "type9": (bytes([0xAC, 0x01, 9, 8]) + one_frame, "invalid product type 9"),
            "channels": (bytes([0xAC, 0x01, 1, 6]) + one_frame,
                         r"header gives 6 channels, but product type 1 \(tovak\) has 8"),
            "empty": (b"", "empty file"),
            "short": (bytes([0xAC, 0x01]), r"too short for a recording header \(2 of 4 bytes\)"),
        }
        for name, (data, message) in cases.items():
            with self.subTest(name):
                r = run(self.args.replay, Workdir.write(name + ".rec", data))
                self.assertFails(r, message)
                self.assertEqual(r.stdout, "")

    def test_unreadable_file(self):
        self.assertFails(run(self.args.replay, Workdir.path("missing.rec")),
                         "cannot open .*missing.rec: No such file or directory")
        self.assertFails(run(self.args.replay, Workdir.tmp.name), "Is a directory")

    def test_command_line(self):
        """The tools' common command line: each problem named before the
        usage, --help and --version."""
        for args, message in (((), "no input file"), (("a.rec", "b.rec"), "one input file, not 2"),
                              (("--x", "a.rec"), "unknown option '--x'"), (("-z",), "unknown option '-z'"),
                              (("a.rec", "--type"), "one input file, not 2"),
                              (("--type",), "option '--type' needs a value"),
                              (("--type=nova", "a.rec"), "unknown variant 'nova'"),
                              (("--format", "json", "a.rec"), "unknown --format 'json' (csv or jsonl)")):
            with self.subTest(args=args):
                r = run(self.args.replay, *args)
                self.assertEqual((r.returncode, r.stdout), (1, ""))
                self.assertTrue(r.stderr.endswith("\n" + USAGE), r.stderr)
                self.assertRegex(r.stderr[:-len(USAGE)], r"^voxaim_replay: %s[^\n]*\n$" % re.escape(message))
        r = run(self.args.replay, "--help")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, USAGE, ""))
        r = run(self.args.replay, "--version", "a.rec")
        self.assertRegex(r.stdout, r"^voxaim_replay \d+\.\d+\.\d+\n$")
        self.assertEqual((r.returncode, r.stderr), (0, ""))


def main():
    args = scripttest.arguments("replay", "recorder")
    Workdir.tmp = tempfile.TemporaryDirectory(prefix="voxaim_replay_test_")
    with Workdir.tmp:
        sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
