#!/usr/bin/env python3
"""voxaim_capture without a sound card: alsa-lib's file plugin, defined in a
test-local configuration (ALSA_CONFIG_PATH), plays a raw file as the capture
device. The capture prints the lines the replay prints for the same audio,
the WAV it writes holds exactly the input, overruns are recovered, counted
and reported, SIGINT leaves a complete WAV file, a live viewer that
never reads loses frames without holding up the capture, and the recipe of
docs/tuning.md for a capture without a sound card runs as written.

usage: voxaim_capture_test.py --emulator "<prefix>" --doc docs/tuning.md <voxaim_capture>
                              <voxaim_replay> <voxaim_render> <overrun preload>
"""
import os
import re
import select
import shlex
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import scripttest  # tools/testing, on PYTHONPATH

TMP = None
FRAMES = 6


def path(name):
    return os.path.join(TMP.name, name)


def environment(program, preload=None, **extra):
    """The environment of `program`, with the library `preload` (a path) preloaded."""
    env = dict(os.environ, ALSA_CONFIG_PATH=path("asound.conf"), **extra)
    env.pop("LD_PRELOAD", None)
    if preload and not program.emulator:
        env["LD_PRELOAD"] = preload
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    return env


def command(program, *args, preload=None):
    """How `program` starts; under the emulator, which preloads `preload`."""
    if preload and program.emulator:
        return [*program.emulator, "-E", "LD_PRELOAD=" + preload, program, *args]
    return program.command(*args)


def run(program, *args, preload=None, **extra):
    return subprocess.run(command(program, *args, preload=preload), capture_output=True, text=True,
                          timeout=300, cwd=TMP.name, env=environment(program, preload, **extra))


def wav_data(name):
    with open(path(name), "rb") as f:
        data = f.read()
    at = 12
    while data[at:at + 4] != b"data":
        at += 8 + struct.unpack_from("<I", data, at + 4)[0]
    size = struct.unpack_from("<I", data, at + 4)[0]
    return data, data[at + 8:at + 8 + size], size


def capture_device(raw_name):
    """The capture PCM "cap": the raw file as input of a null device."""
    with open(path("asound.conf"), "w") as f:
        f.write('pcm.cap {\n type file\n slave.pcm { type null }\n file "%s"\n infile "%s"\n'
                ' format "raw"\n}\n' % (path("played.raw"), path(raw_name)))


def prepare(args, variant, bits, frames=FRAMES):
    """Renders the clips as a WAV of `bits`; the same samples as the raw
    capture input of that width (24 bits in 4 bytes). Returns the replay's
    lines for the WAV and its sample bytes."""
    name = "%s_%d.wav" % (variant, bits)
    r = run(args.render, "--type", variant, "-n", str(frames), "-s", str(bits), path(name))
    assert r.returncode == 0, r.stderr
    lines = run(args.replay, "--type", variant, path(name)).stdout
    _, samples, _ = wav_data(name)
    raw = samples
    if bits == 24:
        raw = b"".join(samples[i:i + 3] + (b"\xff" if samples[i + 2] & 0x80 else b"\x00")
                       for i in range(0, len(samples), 3))
    with open(path("in.raw"), "wb") as f:
        f.write(raw)
    capture_device("in.raw")
    return lines, samples


class Capture(unittest.TestCase):
    def test_capture_prints_the_replay_lines_and_writes_the_input(self):
        for variant, bits, option in (("zandor", 32, []), ("tovak", 24, ["-f", "S24_LE"]),
                                      ("feyla", 16, ["-f", "S16_LE"])):
            with self.subTest(variant=variant, bits=bits):
                expected, samples = prepare(self.args, variant, bits)
                r = run(self.args.capture, "--type", variant, "-D", "cap", "-n", str(FRAMES), "-w", path("out.wav"),
                        *option)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout, expected)
                self.assertIn("cap: S%d_LE, " % bits, r.stderr)   # S32_LE is the first choice
                self.assertTrue(r.stderr.endswith("voxaim_capture: %d frames, 0 overruns\n" % FRAMES))
                self.assertEqual(wav_data("out.wav")[1], samples)
                # The replay's JSON lines too (feyla's elevation null there).
                r = run(self.args.capture, "--type", variant, "-D", "cap", "-n", str(FRAMES), "--format", "jsonl",
                        *option)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout, run(self.args.replay, "--type", variant, "--format", "jsonl",
                                               path("%s_%d.wav" % (variant, bits))).stdout)
                self.assertEqual(r.stdout.count('"elevation":null,'), FRAMES if variant == "feyla" else 0)

    def test_overruns_are_recovered_counted_and_reported(self):
        expected, samples = prepare(self.args, "lumo", 32)
        r = run(self.args.capture, "--type", "lumo", "-D", "cap", "-n", str(FRAMES), "-w", path("out.wav"),
                preload=self.args.preload, XRUN_AT="2,5")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, expected)   # the injected overruns lose no samples
        self.assertEqual(wav_data("out.wav")[1], samples)
        self.assertIn("overrun after 2048 samples per channel (1 so far), recovered\n", r.stderr)
        self.assertIn("overrun after 6144 samples per channel (2 so far), recovered\n", r.stderr)
        self.assertTrue(r.stderr.endswith("%d frames, 2 overruns\n" % FRAMES))

    def test_sigint_stops_with_a_complete_wav(self):
        _, samples = prepare(self.args, "mirel", 16)
        process = subprocess.Popen(command(self.args.capture, "--type", "mirel", "-D", "cap", "-f", "S16_LE", "-w",
                                           path("sig.wav")),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=TMP.name,
                                   env=environment(self.args.capture))
        lines = [process.stdout.readline() for _ in range(4)]   # the header and three frames
        process.send_signal(signal.SIGINT)
        with process:
            rest, err = process.stdout.read(), process.stderr.read()   # what readline buffered, too
        process.wait(timeout=300)
        self.assertEqual(process.returncode, 0, err)
        frames = len(lines) - 1 + len(rest.splitlines())
        self.assertIn("%d frames, 0 overruns, stopped by a signal\n" % frames, err)
        data, written, size = wav_data("sig.wav")
        self.assertEqual(struct.unpack_from("<I", data, 4)[0], len(data) - 8)   # RIFF size
        self.assertEqual(size, frames * 2048 * 6 * 2)                         # whole frames only
        self.assertEqual(written[:len(samples)], samples[:len(written)])

    def test_a_live_viewer_that_never_reads_holds_up_no_frame(self):
        frames = 200   # far more events than the socket buffers hold
        expected, _ = prepare(self.args, "tovak", 32, frames)
        gate = path("gate")   # the preload's first read waits for it
        process = subprocess.Popen(command(self.args.capture, "--type", "tovak", "-D", "cap", "-n", str(frames),
                                           "--serve", "127.0.0.1:0", preload=self.args.preload),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=TMP.name,
                                   env=environment(self.args.capture, self.args.preload, READ_GATE=gate))
        with process:
            port = None
            while port is None:
                line = process.stderr.readline()
                self.assertTrue(line, "no live view")
                port = re.search(r"live view on http://127\.0\.0\.1:(\d+)/", line)
            viewer = socket.socket()
            viewer.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            viewer.connect(("127.0.0.1", int(port.group(1))))
            viewer.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            select.select([viewer], [], [], 60)   # the stream has begun; nothing is read
            open(gate, "w").close()
            out, err = process.communicate(timeout=300)
            viewer.close()
        self.assertEqual(process.returncode, 0, err)
        self.assertEqual(out, expected)
        self.assertRegex(err, r"live view: 1 viewer, 0 refused, [1-9]\d* frames lost to slow viewers\n"
                              r"voxaim_capture: %d frames, 0 overruns\n$" % frames)

    def test_the_recipe_without_a_sound_card_keeps_the_pace_and_ends_with_its_input(self):
        """docs/tuning.md's configuration and commands as they stand, with
        $B holding this build's programs (through the emulator, if any)."""
        with open(self.args.doc) as f:
            doc = f.read()
        block = {name: re.search(r"<!-- capture without a sound card: %s -->\n```\w*\n(.*?)```" % name,
                                 doc, re.S).group(1) for name in ("cap.conf", "commands")}
        work, bindir = path("recipe"), path("recipe/bin")
        os.makedirs(bindir)
        with open(os.path.join(work, "cap.conf"), "w") as f:
            f.write(block["cap.conf"])
        for name, program in (("voxaim_render", self.args.render), ("voxaim_capture", self.args.capture)):
            with open(os.path.join(bindir, name), "w") as f:
                f.write('#!/bin/sh\nexec %s "$@"\n' % shlex.join(self.args.emulator + [os.path.abspath(program)]))
            os.chmod(os.path.join(bindir, name), 0o755)
        env = dict(os.environ, B=bindir)
        env.pop("LD_PRELOAD", None)
        process = subprocess.Popen(["bash", "-e", "-c", block["commands"]], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, cwd=work, env=env, start_new_session=True)
        stop = threading.Timer(120, os.killpg, (process.pid, signal.SIGKILL))   # a recipe that never ends
        stop.start()
        with process:
            header = process.stdout.readline()   # printed once the device is open, before the first read
            start = time.monotonic()
            lines = process.stdout.read()
            elapsed = time.monotonic() - start
            err = process.stderr.read()
        stop.cancel()
        self.assertEqual(process.wait(), 0, err)
        frames = os.path.getsize(os.path.join(work, "talker.raw")) // (2048 * 8 * 4)
        self.assertEqual(frames, 20)
        self.assertEqual(header + lines, run(self.args.replay, "--type", "tovak", os.path.join(work, "talker.wav")).stdout)
        self.assertIn("voxaim_capture: %d frames, 0 overruns\n" % frames, err)
        # Frame n is written at n x 42.67 ms: the last one 0.81 s after the first.
        self.assertGreaterEqual(elapsed, 0.5 * (frames - 1) * 2048 / 48000)

    def test_refusals(self):
        capture_device("in.raw")
        for args, message in ((["-D", "nosuch"], "cannot open capture device 'nosuch'"),
                              (["-f", "S8"], "unknown sample format 'S8'"),
                              (["-n", "0"], "-n takes a whole number of at least 1, not '0'"),
                              (["--type", "8"], "unknown variant '8'"),
                              (["--serve", "x:y"], "--serve takes \\[ADDR:\\]PORT, not 'x:y'")):
            with self.subTest(args=args):
                r = run(self.args.capture, *(["--type", "tovak"] if "--type" not in args else []), *args)
                self.assertEqual((r.returncode, r.stdout), (1, ""))
                self.assertRegex(r.stderr, "(?m)^voxaim_capture: %s" % message)
        r = run(self.args.capture, "--version")
        self.assertRegex(r.stdout, r"^voxaim_capture \d+\.\d+\.\d+\n$")


def main():
    global TMP
    args = scripttest.arguments("capture", "replay", "render", "preload", options=("--doc",))
    TMP = tempfile.TemporaryDirectory(prefix="voxaim_capture_test_")
    with TMP:
        sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
