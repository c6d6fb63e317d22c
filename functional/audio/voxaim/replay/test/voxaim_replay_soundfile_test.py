#!/usr/bin/env python3
"""voxaim_replay --type with sound files as processes: a sound file of the
built-in clips replays to exactly the lines of the raw recording of the same
frames, for every variant and sample encoding; the flags file and the search
map work; every refusal has its message and exit status 1, and no damaged
file crashes the program.

usage: voxaim_replay_soundfile_test.py --emulator "<prefix>" <voxaim_replay> <voxaim_render>
"""
import json
import array
import csv
import statistics
import itertools
import math
import os
import pty
import re
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import wave

import scripttest  # tools/testing, on PYTHONPATH

VARIANTS = {"mirel": 6, "tovak": 8, "lumo": 6, "zandor": 8, "valdrun": 6, "feyla": 4, "brannt": 8}
FRAME = 2048
TMP = None


def path(name):
    return os.path.join(TMP.name, name)


def run(program, *args):
    return subprocess.run(program.command(*args), capture_output=True, text=True, timeout=300,
                          cwd=TMP.name)


def data_offset(data):
    """Offset of the samples in a WAV file."""
    at = 12
    while data[at:at + 4] != b"data":
        at += 8 + struct.unpack_from("<I", data, at + 4)[0]
    return at + 8


class SoundFiles(unittest.TestCase):
    def assertFails(self, r, message, stdout="", program="voxaim_replay"):
        """Status 1 and one line naming the problem, followed by the usage
        for a problem with the command line."""
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertRegex(r.stderr, r"^%s: .*%s.*\n(usage: %s .*\n(    .*\n)*)?$" % (program, message, program))
        self.assertEqual(r.stdout, stdout)

    def render(self, variant, name, *options, frames=6):
        """Renders the clips for variant into name (and name.rec); returns the
        CSV the engine printed for those frames."""
        r = run(self.args.render, "--type", variant, "-n", str(frames), "--record", path(name + ".rec"), *options,
                path(name))
        if r.returncode != 0:
            raise AssertionError("voxaim_render failed: " + r.stderr)
        return r.stdout

    def test_every_variant_replays_like_its_raw_recording(self):
        for variant in VARIANTS:
            for sample in ("24", "float"):
                with self.subTest(variant=variant, sample=sample):
                    name = "%s_%s.wav" % (variant, sample)
                    expected = self.render(variant, name, "-s", sample)
                    self.assertEqual(run(self.args.replay, path(name + ".rec")).stdout, expected)
                    r = run(self.args.replay, "--type", variant, path(name))
                    self.assertEqual((r.returncode, r.stderr), (0, ""))
                    self.assertEqual(r.stdout, expected)

    def test_json_lines_are_the_csv(self):
        # Field for field, numbers as the same text; feyla has no elevation grid.
        for variant in ("tovak", "feyla"):
            with self.subTest(variant=variant):
                name = "json_%s.wav" % variant
                self.render(variant, name, frames=8)
                csv_lines = run(self.args.replay, "--type", variant, path(name)).stdout.splitlines()
                r = run(self.args.replay, "--type", variant, "--format", "jsonl", path(name))
                self.assertEqual((r.returncode, r.stderr), (0, ""))
                header = csv_lines[0].split(",")
                objects = [json.loads(line, parse_float=str, parse_int=str) for line in r.stdout.splitlines()]
                self.assertEqual(len(objects), len(csv_lines) - 1)
                for line, obj in zip(csv_lines[1:], objects):
                    self.assertEqual(list(obj), header)
                    row = dict(zip(header, line.split(",")))
                    expected = {k: row[k] for k in ("frame", "azimuth", "elevation", "range", "quality")}
                    expected["flags"] = str(int(row["flags"], 16))
                    expected.update({k: row[k] == "1" for k in header[6:]})
                    if variant == "feyla":
                        expected["elevation"] = None
                    self.assertEqual(obj, expected)
                self.assertTrue(any(obj["VOXAIM_OUT_TIME_DOMAIN_ANSWER"] for obj in objects))

    def test_float_scale_is_that_of_other_tools(self):
        # sox finds the same peaks in the float file (full scale 1.0) as in the
        # 24-bit one. With the round trips above, which cannot see a writer
        # and a reader wrong by the same factor, this holds the reader too.
        peaks = []
        for sample in ("24", "float"):
            self.render("tovak", "peak_%s.wav" % sample, "-s", sample)
            r = subprocess.run(["sox", path("peak_%s.wav" % sample), "-n", "stat"], capture_output=True, text=True,
                               timeout=60)
            peaks.append([float(v) for v in re.findall(r"^M(?:ax|in)imum amplitude:\s+(\S+)", r.stderr, re.M)])
        self.assertEqual(len(peaks[0]), 2, r.stderr)
        for integer, floating in zip(*peaks):
            self.assertAlmostEqual(floating, integer, delta=2e-6)

    def test_encodings(self):
        # Integers at their own width in WAV, WAVE_FORMAT_EXTENSIBLE and FLAC.
        for name, options in (("z16.flac", ("-s", "16")), ("z24.flac", ("-s", "24")),
                              ("z32.wav", ("-s", "32")), ("zx.wav", ("-s", "24", "--extensible"))):
            with self.subTest(name):
                expected = self.render("zandor", name, *options)
                self.assertEqual(run(self.args.replay, path(name + ".rec")).stdout, expected)
                self.assertEqual(run(self.args.replay, "--type", "4", path(name)).stdout, expected)
        with open(path("zx.wav"), "rb") as f:
            self.assertEqual(struct.unpack_from("<H", f.read(22), 20)[0], 0xFFFE)

    def test_flags_file(self):
        self.render("tovak", "flags.wav")
        with open(path("flags.txt"), "w") as f:
            f.write("0\n0x1\n2\n0x103\n 3 \nFFFFFFFC\n")
        r = run(self.args.replay, "--type", "tovak", "--flags", path("flags.txt"), path("flags.wav"))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.splitlines()[1:]
        far_end_and_hold = [(int(l.split(",")[9]), int(l.split(",")[10])) for l in lines]
        self.assertEqual(far_end_and_hold, [(0, 0), (1, 0), (0, 1), (1, 1), (1, 1), (0, 0)])

        with open(path("short.txt"), "w") as f:
            f.write("0\n1\n")
        r = run(self.args.replay, "--type", "tovak", "--flags", path("short.txt"), path("flags.wav"))
        self.assertFails(r, "no flag word for frame 2", "\n".join(r.stdout.splitlines()[:3]) + "\n")
        with open(path("bad.txt"), "w") as f:
            f.write("0\n0x1g\n")
        r = run(self.args.replay, "--type", "tovak", "--flags", path("bad.txt"), path("flags.wav"))
        self.assertFails(r, "bad.txt:2: '0x1g' is not a hex flag word", r.stdout)
        self.assertEqual(len(r.stdout.splitlines()), 2)
        self.assertFails(run(self.args.replay, "--flags", path("flags.txt"), path("flags.wav.rec")),
                         "--flags is for sound files")

    def test_search_map(self):
        expected = self.render("tovak", "map.wav", frames=8)
        r = run(self.args.replay, "--type", "tovak", "--map", "7:" + path("m7.csv"),
                "--map", "1-6/5:" + path("series%d.csv"),
                path("map.wav"))
        self.assertEqual((r.returncode, r.stdout), (0, expected))   # the map changes no result
        last = expected.splitlines()[-1].split(",")
        with open(path("m7.csv")) as f:
            rows = [l.split(",") for l in f.read().splitlines()]
        self.assertEqual(rows[0], ["grid", "azimuth", "elevation_or_range", "power", "chosen", "variant", "frame"])
        self.assertEqual({tuple(r[5:]) for r in rows[1:]}, {("tovak", "7")})   # what the map is of
        grids = {g: [r for r in rows[1:] if r[0] == g] for g in ("elevation", "range")}
        self.assertEqual((len(grids["elevation"]), len(grids["range"])), (131 * 227, 48 * 227))
        chosen = {g: [r for r in cells if r[4] == "1"] for g, cells in grids.items()}
        self.assertEqual([len(c) for c in chosen.values()], [1, 1])
        self.assertEqual(chosen["range"][0][1], last[1])       # azimuth, bit for bit
        self.assertEqual(chosen["elevation"][0][2], last[2])   # elevation
        self.assertLessEqual(float(chosen["range"][0][2]), float(last[3]))
        self.assertEqual(max(float(r[3]) for r in grids["range"]), float(chosen["range"][0][3]))
        self.assertAlmostEqual(float(chosen["range"][0][3]) + float(chosen["elevation"][0][3]),
                               float(last[4]), places=5)
        self.assertEqual(sorted(n for n in os.listdir(TMP.name) if n.startswith("series")),
                         ["series1.csv", "series6.csv"])

        self.render("feyla", "feyla.wav", frames=2)
        r = run(self.args.replay, "--type", "feyla", "--map", "1:" + path("f.csv"), path("feyla.wav"))
        with open(path("f.csv")) as f:
            self.assertEqual({l.split(",")[0] for l in f.read().splitlines()[1:]}, {"range"})
        r = run(self.args.replay, "--type", "feyla", "--map", "2:" + path("f.csv"), path("feyla.wav"))
        self.assertFails(r, "--map 2: the input has 2 frames", r.stdout)
        r = run(self.args.replay, "--type", "feyla", "--map", "0-4/2:" + path("f%d.csv"), path("feyla.wav"))
        self.assertFails(r, "--map 0-4/2: the input has 2 frames", r.stdout)
        for bad in ("x.csv", "2-1:f%d.csv", "0-1:f.csv", "0-/0:f%d.csv", "1-2x:f%d.csv"):
            self.assertFails(run(self.args.replay, "--map", bad, path("feyla.wav.rec")), "--map takes N:FILE")

    def test_refusals(self):
        self.render("feyla", "four.wav", frames=3)
        with open(path("four.wav"), "rb") as f:
            wav = f.read()
        at = data_offset(wav)
        rate = bytearray(wav)
        struct.pack_into("<II", rate, 24, 44100, 44100 * 4 * 3)
        with open(path("44k.wav"), "wb") as f:
            f.write(rate)
        with open(path("garbage.wav"), "wb") as f:
            f.write(b"RIFF\x10\x00\x00\x00WAVEjunk" + bytes(100))
        cut = at + (2 * FRAME + 1000) * 4 * 3
        with open(path("cut.wav"), "wb") as f:
            f.write(wav[:cut])
        full = run(self.args.replay, "--type", "feyla", path("four.wav")).stdout.splitlines(keepends=True)
        cases = (
            (("--type", "feyla", path("44k.wav")), "sample rate 44100 Hz, the engine runs at 48000 Hz", ""),
            (("--type", "tovak", path("four.wav")), r"4 channels, but product type 1 \(tovak\) has 8", ""),
            (("--type", "3", path("four.wav")), "unknown variant '3' \\(valid: 0 mirel, 1 tovak", ""),
            (("--type", "feyla", path("garbage.wav")), "garbage.wav: cannot read as a sound file", ""),
            (("--type", "feyla", path("missing.wav")), "missing.wav: cannot read as a sound file", ""),
            (("--type", "feyla", path("cut.wav")),
             "truncated last frame 2: 1000 of 2048 samples per channel, ignored", "".join(full[:3])),
        )
        for args, message, stdout in cases:
            with self.subTest(args=args):
                self.assertFails(run(self.args.replay, *args), message, stdout)

    def test_render_refusals(self):
        """What voxaim_render cannot render is refused before any file is
        written."""
        for args, message in ((("-e", "95"), "elevation 95 is outside -90..90"),
                              (("-a", "x"), "azimuth takes a number, not 'x'"),
                              (("-a", "100"), r"azimuth 100 is outside lumo's grid, -46\.1\.\.46\.6"),
                              (("-e", "20"), r"elevation 20 is outside lumo's grid, -40\.5\.\.10\.5"),
                              (("--noise", "white"), "--noise needs --snr DB"),
                              (("--delay", "half"), "--delay takes whole or fractional, not 'half'"),
                              (("--clip", path("none.wav")), "--clip .*none.wav: "),
                              (("-r", "0.01"), r"range 0.01 is outside 0.5..9.9 \(the range grid\)"),
                              (("-r", "12"), "range 12 is outside 0.5..9.9"),
                              (("-n", "0"), "-n takes a whole number from 1 to 100000, not '0'"),
                              (("-s", "8"), "-s takes 16, 24, 32 or float, not '8'"),
                              ((), r"out.mp3: a sound file's name ends in .wav or .flac")):
            with self.subTest(args=args):
                self.assertFails(run(self.args.render, "--type", "lumo", *args,
                                     path("out.mp3" if not args else "out.wav")),
                                 message, program="voxaim_render")
                self.assertEqual([n for n in os.listdir(TMP.name) if n.startswith("out")], [])
        r = run(self.args.render, "--version")
        self.assertRegex(r.stdout, r"^voxaim_render \d+\.\d+\.\d+\n$")

    def test_failed_render_leaves_no_file(self):
        """A render that fails leaves nothing at any output path, nor any
        temporary file; one that succeeds leaves exactly its outputs."""
        folder = path("rendered")
        os.mkdir(folder)
        outputs = ["--record", os.path.join(folder, "out.rec"), "--truth", os.path.join(folder, "out.json"),
                   os.path.join(folder, "out.wav")]

        def full_disk():   # writes past 64 kB fail with EFBIG
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 10, 64 << 10))
        for name, args, preexec in (
                ("truth folder missing", ["--truth", path("missing/out.json"), os.path.join(folder, "out.wav")],
                 None),
                ("full disk", outputs, full_disk)):
            with self.subTest(name):
                r = subprocess.run(self.args.render.command("--type", "feyla", "-n", "8", "--record",
                                                            os.path.join(folder, "out.rec"), *args),
                                   capture_output=True, text=True, timeout=300, preexec_fn=preexec)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertRegex(r.stderr, "^voxaim_render: ")
                self.assertEqual(os.listdir(folder), [])
        r = run(self.args.render, "--type", "feyla", "-n", "8", *outputs)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(folder)), ["out.json", "out.rec", "out.wav"])

    def test_own_clip(self):
        """--clip FILE renders the file once with the built-in clip's delays:
        channel 0 of a render for a talker straight ahead, as a mono file,
        rendered at 30 degrees gives the very samples the built-in clip gives
        between the first frame and the last (which hear silence before and
        after the clip where the built-in loop wraps), and -n defaults to the
        clip's whole frames."""
        frames, channels = 30, VARIANTS["tovak"]
        r = run(self.args.render, "--type", "tovak", "-a", "0", "-e", "0", "-n", str(frames), path("ahead.wav"))
        self.assertEqual(r.stderr, "voxaim_render: the built-in speech clip is 1 s (23.4 frames) and repeats "
                                   "over the 30 frames\n")
        with open(path("ahead.wav"), "rb") as f:
            data = f.read()
        at = data_offset(data)
        mono = b"".join(data[at + i * 3 * channels:at + i * 3 * channels + 3] for i in range(frames * FRAME))
        with wave.open(path("clip.wav"), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(3)
            w.setframerate(48000)
            w.writeframes(mono)
        self.render("tovak", "built-in.wav", "-a", "30", frames=frames)
        r = run(self.args.render, "--type", "tovak", "-a", "30", "--clip", path("clip.wav"), path("own.wav"))
        self.assertEqual((r.returncode, r.stderr, len(r.stdout.splitlines())), (0, "", 1 + frames))
        files = []
        for name in ("built-in.wav", "own.wav"):
            with open(path(name), "rb") as f:
                data = f.read()
            files.append(data[data_offset(data):])
        frame_bytes = FRAME * channels * 3
        self.assertEqual(len(files[0]), len(files[1]))
        # the last frame's leading microphones run past the end of the file
        self.assertTrue(files[0][frame_bytes:-frame_bytes] == files[1][frame_bytes:-frame_bytes])

    def test_noise_at_snr(self):
        """--noise white --snr 10: the noise measured back from the files is
        10 dB below the talker's frames (the man page's definition), on
        every microphone, and the talker is still found."""
        frames, channels = 40, VARIANTS["tovak"]
        with_noise = self.render("tovak", "noisy.wav", "-s", "float", "--noise", "white", "--snr", "10", frames=frames)
        self.render("tovak", "dry.wav", "-s", "float", frames=frames)
        signals = []
        for name in ("dry.wav", "noisy.wav"):
            with open(path(name), "rb") as f:
                data = f.read()
            signals.append(array.array("f", data[data_offset(data):]))
        dry, noisy = signals
        step = FRAME * channels
        powers = [sum(v * v for v in dry[f * step:(f + 1) * step]) / step for f in range(frames)]
        active = [p for p in powers if p >= max(powers) * 1e-3]
        noise = [n - d for n, d in zip(noisy, dry)]
        for c in range(channels):
            with self.subTest(microphone=c):
                noise_power = statistics.fmean(v * v for v in noise[c::channels])
                self.assertAlmostEqual(10 * math.log10(statistics.fmean(active) / noise_power), 10, delta=0.5)
        voiced = [float(row["azimuth"]) for row in csv.DictReader(with_noise.splitlines())
                  if row["VOXAIM_OUT_VOICE_ACTIVITY"] == "1"]
        self.assertGreater(len(voiced), 10)
        self.assertLess(statistics.median(abs(a - 30) for a in voiced), 3)

    def test_fractional_delay_renders_the_range(self):
        """A 2 m talker: the whole-sample delays put it at 1.7 m, the
        fractional ones closer to 2 m."""
        ranges = []
        for delay in ("whole", "fractional"):
            lines = self.render("tovak", delay + ".wav", "-a", "30", "-e", "10", "-r", "2", "--delay", delay, frames=30)
            ranges.append(statistics.median(float(row["range"]) for row in csv.DictReader(lines.splitlines())
                                            if row["VOXAIM_OUT_VOICE_ACTIVITY"] == "1"))
        self.assertAlmostEqual(ranges[0], 1.7, places=4)
        self.assertLess(abs(ranges[1] - 2), abs(ranges[0] - 2))

    def test_moving_talker(self):
        """--path from -40 to 40 degrees over 10 s: one truth line per frame,
        at the instant it names, and the engine's azimuth follows it on the
        voiced frames. The clip is the built-in speech with pauses, so that
        voice activity lasts (the 1 s loop alone stops being voice at frame
        60). Then the path files that are refused, each naming its line."""
        run(self.args.render, "--type", "tovak", "-a", "0", "-e", "0", "-n", "23", "-s", "float", path("dry.wav"))
        subprocess.run(["sox", path("dry.wav"), path("speech.wav"), "remix", "1"], check=True, timeout=60)
        subprocess.run(["sox", path("speech.wav"), path("pauses.wav"), "pad", "0", "0.5", "repeat", "6"],
                       check=True, timeout=60)   # 10.4 s
        with open(path("sweep.csv"), "w") as f:
            f.write("time,azimuth,elevation,range\n0,-40,10,2\n10,40,10,2\n")
        r = run(self.args.render, "--type", "tovak", "--path", path("sweep.csv"), "--clip", path("pauses.wav"),
                "--truth", path("sweep.jsonl"), path("sweep.wav"))
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        rows = list(csv.DictReader(r.stdout.splitlines()))
        with open(path("sweep.jsonl")) as f:
            truth = [json.loads(line) for line in f]
        self.assertEqual(len(rows), 243)
        self.assertEqual([t["frame"] for t in truth], list(range(len(rows))))
        for t in truth:   # the centre of the two frames analysed, f - 2 and f - 1
            seconds = (t["frame"] - 1) * FRAME / 48000
            self.assertAlmostEqual(t["time"], seconds, places=5)
            self.assertAlmostEqual(t["azimuth"], -40 + 8 * min(max(seconds, 0), 10), places=3)
            self.assertEqual((t["elevation"], t["range"]), (10, 2))
        voiced = [(int(row["frame"]), abs(float(row["azimuth"]) - t["azimuth"])) for row, t in zip(rows, truth)
                  if row["VOXAIM_OUT_VOICE_ACTIVITY"] == "1"]
        self.assertEqual({f * 5 // len(rows) for f, _ in voiced}, set(range(5)))   # voice throughout
        self.assertLess(statistics.median(e for _, e in voiced), 5)

        # Fractional delays follow a fast talker (120 degrees/s) without a
        # click: a 1 kHz tone's second difference stays that of the tone.
        subprocess.run(["sox", "-n", "-r", "48000", "-c", "1", "-b", "24", path("tone.wav"), "synth", "1.2", "sine",
                        "1000", "vol", "0.5"], check=True, timeout=60)
        with open(path("fast.csv"), "w") as f:
            f.write("0,-60,0,1\n1,60,0,1\n")
        run(self.args.render, "--type", "tovak", "--path", path("fast.csv"), "--clip", path("tone.wav"), "--delay", "fractional",
            "-s", "float", path("fast.wav"))
        with open(path("fast.wav"), "rb") as f:
            data = f.read()
        samples = array.array("f", data[data_offset(data):])
        steady = 0.5 * (2 * math.pi * 1000 / 48000) ** 2
        for c in range(1, VARIANTS["tovak"]):
            x = samples[c + 2 * FRAME * 8::8][:20 * FRAME]   # frames 2 to 22: the tone throughout
            self.assertLess(max(abs(x[n + 1] - 2 * x[n] + x[n - 1]) for n in range(1, len(x) - 1)), 1.6 * steady)

        with open(path("short.csv"), "w") as f:
            f.write("0,-40,10,2\n1,-30,10,2\n")
        r = run(self.args.render, "--type", "tovak", "--path", path("short.csv"), path("default.wav"))
        self.assertEqual(len(r.stdout.splitlines()), 1 + 24)   # -n: the frames to the path's end, 23.4
        for content, message in (
                ("0,0,0,2\n1,left,0,2\n", "line 2: azimuth takes a number, not 'left'"),
                ("t,a,e,r\n", "line 1: time takes a number, not 't' \\(a header line is"),
                ("0,0,0,2\n\n1,0,0\n", "line 3: 3 fields, not the 4 of time,azimuth,elevation,range"),
                ("0,0,0,2\n1,5,0,2\n1,9,0,2\n", "line 3: time 1 is not after line 2's"),
                ("0,0,0,2\n1,100,0,2\n", r"line 2: azimuth 100 is outside tovak's grid, -64\.8\.\.64\.6"),
                ("0,0,0,12\n", "line 1: range 12 is outside 0.5..9.9"),
                ("\n", "no positions")):
            with self.subTest(content=content):
                with open(path("bad.csv"), "w") as f:
                    f.write(content)
                self.assertFails(run(self.args.render, "--type", "tovak", "--path", path("bad.csv"), path("out.wav")),
                                 "--path .*bad.csv " * message.startswith("line") + message, program="voxaim_render")
        self.assertFails(run(self.args.render, "--type", "tovak", "--path", path("sweep.csv"), "-a", "3", path("out.wav")),
                         "--path moves the talker: no -a, -e or -r with it", program="voxaim_render")
        self.assertFalse(os.path.exists(path("out.wav")))

    def test_progress_on_a_terminal_only(self):
        """Standard error a terminal: the progress line, rewritten, then the
        summary; -q or a pipe: nothing. The replay's and the render's."""
        self.render("tovak", "progress.wav", frames=20)   # the built-in clip's 23.4 frames: no note of its repeats
        commands = {"voxaim_replay": [self.args.replay, "--type", "tovak", path("progress.wav")],
                    "voxaim_render": [self.args.render, "--type", "tovak", "-n", "20", path("rendered.wav")]}
        for (program, command), options in itertools.product(commands.items(), ([], ["-q"])):
            with self.subTest(program=program, options=options):
                controller, terminal = pty.openpty()
                with subprocess.Popen(command[0].command(*command[1:-1], *options, command[-1]),
                                      stdout=subprocess.DEVNULL, stderr=terminal) as process:
                    os.close(terminal)
                    shown = b""
                    while True:
                        try:
                            piece = os.read(controller, 4096)
                        except OSError:   # EIO: the program has gone
                            break
                        if not piece:
                            break
                        shown += piece
                    os.close(controller)
                self.assertEqual(process.returncode, 0)
                if options:
                    self.assertEqual(shown, b"")
                else:
                    self.assertRegex(shown.decode(), r"^\r%s: frame 1 of 20, \d+\.\d s, [\d.]+x real time"
                                                     r"\033\[K(.*\033\[K)*\r%s: 20 frames, 0\.9 s of input "
                                                     r"in \d+\.\d s, voice activity in \d+%% of frames, median "
                                                     r"quality \d\.\d{3}\033\[K\r\n$" % (program, program))
            r = run(*command)
            self.assertEqual((r.returncode, r.stderr), (0, ""))

    def test_non_finite_sample(self):
        self.render("lumo", "nan.wav", "-s", "float", frames=5)
        with open(path("nan.wav"), "rb") as f:
            wav = bytearray(f.read())
        expected = run(self.args.replay, "--type", "lumo", path("nan.wav")).stdout.splitlines(keepends=True)
        for value in (math.nan, math.inf, 1e38):   # 1e38 at full scale 1.0 overflows the 24-bit scale
            with self.subTest(value=value):
                damaged = bytearray(wav)
                struct.pack_into("<f", damaged, data_offset(wav) + (3 * FRAME * 6 + 77) * 4, value)
                with open(path("bad.wav"), "wb") as f:
                    f.write(damaged)
                self.assertFails(run(self.args.replay, "--type", "lumo", path("bad.wav")), "frame 3: sample not finite",
                                 "".join(expected[:4]))

    def test_damaged_files_never_crash(self):
        """Truncations and byte damage in the header of a WAV and a FLAC
        file: the replay ends with status 0 or 1 and one message line."""
        for name in ("brannt.wav", "brannt.flac"):
            self.render("brannt", name, frames=2)
            with open(path(name), "rb") as f:
                data = f.read()
            variants = [data[:n] for n in (0, 3, 11, 12, 20, 36, 44, 60, 100, 4000, len(data) - 1)]
            for at in range(0, 64, 2):   # the RIFF and fmt chunks, FLAC's STREAMINFO
                for byte in (0x00, 0xFF):
                    damaged = bytearray(data)
                    damaged[at] = byte
                    variants.append(bytes(damaged))
            for i, damaged in enumerate(variants):
                with open(path("damaged"), "wb") as f:
                    f.write(damaged)
                r = run(self.args.replay, "--type", "brannt", path("damaged"))
                with self.subTest(name=name, case=i):
                    self.assertIn(r.returncode, (0, 1), r.stderr)
                    if r.returncode:
                        self.assertRegex(r.stderr, r"^voxaim_replay: [^\n]*\n$")
        self.assertEqual([n for n in os.listdir(TMP.name) if n.startswith(("core", "qemu_"))], [])


def main():
    global TMP
    args = scripttest.arguments("replay", "render")
    TMP = tempfile.TemporaryDirectory(prefix="voxaim_replay_soundfile_test_")
    with TMP:
        sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
