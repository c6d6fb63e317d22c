#!/usr/bin/env python3
"""The live view of voxaim_replay --serve over HTTP: the page and nothing
else is served; the event stream's frames carry the CSV line's numbers and a
map that agrees with --map; the replay waits for its first viewer and serves
its final state until SIGTERM, and a viewer that comes late gets every frame
once; at most eight streams at once, a slot freed by a viewer that leaves;
serving changes no line of the CSV.

usage: voxaim_live_test.py --emulator "<prefix>" <voxaim_replay> <voxaim_render>
"""
import base64
import csv
import http.client
import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import scripttest  # tools/testing, on PYTHONPATH

TMP = None
FRAMES = 80
RENDERED = ""   # the CSV voxaim_render printed for talker.wav


def path(name):
    return os.path.join(TMP.name, name)


class Replay:
    """voxaim_replay --serve on a free port of the loopback address."""

    def __init__(self, program, *options, address="127.0.0.1:0", variant="tovak", sound="talker.wav"):
        self.process = subprocess.Popen(program.command("--type", variant, "--serve", address, *options,
                                                        path(sound)),
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=TMP.name)
        line = self.process.stderr.readline()
        match = re.match(r"voxaim_replay: live view on http://127\.0\.0\.1:(\d+)/$", line)
        assert match, line + self.process.stderr.read()
        self.port = int(match.group(1))

    def finish(self, timeout=300):
        out, err = self.process.communicate(timeout=timeout)
        assert self.process.returncode == 0, err
        return out, err

    def connect(self, path):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        connection.request("GET", path)
        return connection.getresponse()


def read_to(pipe, lines, seconds):
    """What `pipe` gives until it holds `lines` lines (None: up to its end,
    which must come), within `seconds`."""
    text, deadline = b"", time.monotonic() + seconds
    while lines is None or text.count(b"\n") < lines:
        if not select.select([pipe], [], [], max(0, deadline - time.monotonic()))[0]:
            raise AssertionError("no %s within %s s" % ("end of output" if lines is None else "line %d" % lines,
                                                        seconds))
        data = os.read(pipe.fileno(), 65536)
        if not data:
            break
        text += data
    return text.decode()


def frames(stream):
    """The frame events of a stream, in the order they came."""
    return [data for kind, data in stream if kind == "message"]


def events(response, seconds=300):
    """(type, data) of the stream's events up to "end", for `seconds` at most."""
    kind, data, deadline = "message", None, time.monotonic() + seconds
    while time.monotonic() < deadline:
        line = response.readline().decode()
        if not line:
            return
        if line.startswith("event: "):
            kind = line[7:].strip()
        elif line.startswith("data: "):
            data = json.loads(line[6:])
        elif line == "\n" and data is not None:
            yield kind, data
            if kind == "end":
                return
            kind, data = "message", None


class Live(unittest.TestCase):
    def test_page_and_events_follow_the_csv(self):
        last = FRAMES - 1
        replay = Replay(self.args.replay, "--speed", "4", "--exit", "--map", "%d:%s" % (last, path("map.csv")))
        page = replay.connect("/")
        self.assertEqual((page.status, page.getheader("Content-Type")), (200, "text/html; charset=utf-8"))
        self.assertIn('<script src="live.js">', page.read().decode())
        for name in ("/live.js", "/live.css", "/../etc/passwd", "/nothing", "/index.html", "/events/x"):
            with self.subTest(name):
                self.assertEqual(replay.connect(name).status, 200 if name.startswith("/live.") else 404)
        stream = list(events(replay.connect("/events")))
        out, err = replay.finish()
        self.assertEqual(out, RENDERED)
        self.assertIn("voxaim_replay: live view: 1 viewer, 0 refused, ", err)

        header, *lines = list(csv.reader(out.splitlines()))
        (kind, hello), *frames, end = stream
        self.assertEqual((kind, [flag["name"] for flag in hello["flags"]]), ("hello", header[6:]))
        self.assertEqual(end, ("end", {"frames": FRAMES}))
        self.assertGreaterEqual(len(frames), 20)
        for kind, frame in frames:
            line = lines[frame["frame"]]
            self.assertEqual([kind, frame["frame"]] + [frame[k] for k in ("azimuth", "elevation", "range",
                                                                          "quality", "flags")],
                             ["message", int(line[0])] + [float(v) for v in line[1:5]] + [int(line[5], 16)])

        # The last frame's map, reduced, against --map at full resolution:
        # blocks of 4 azimuths x `step` rows, each the largest power of its
        # cells with an angle, scaled from the grid's lowest to its highest.
        with open(path("map.csv")) as f:
            cells = list(csv.DictReader(f))
        for name, step in (("elevation", 4), ("range", 2)):
            with self.subTest(grid=name):
                grid, reduced = hello["grids"][name], frames[-1][1]["map"][name]
                rows = [c for c in cells if c["grid"] == name]
                power = [float(c["power"]) for c in rows if c["azimuth"] != "nan"]
                lo, hi = min(power), max(power)
                self.assertEqual((reduced["lo"], reduced["hi"]), (lo, hi))
                chosen = next(i for i, c in enumerate(rows) if c["chosen"] == "1")
                self.assertEqual(reduced["chosen"], [chosen % grid["columns"], chosen // grid["columns"]])
                width = -(-grid["columns"] // 4)
                expected = [0] * (width * -(-grid["rows"] // step))
                for i, c in enumerate(rows):
                    if c["azimuth"] != "nan":
                        at = i // grid["columns"] // step * width + i % grid["columns"] // 4
                        expected[at] = max(expected[at], round((float(c["power"]) - lo) * 255 / (hi - lo)))
                got = list(base64.b64decode(reduced["cells"]))
                self.assertEqual(len(got), len(expected))
                self.assertLessEqual(max(abs(a - b) for a, b in zip(got, expected)), 1)   # float rounding

    def test_no_elevation_without_its_grid(self):
        # feyla searches azimuth x range only: the CSV keeps the engine's fixed
        # elevation, the page gets null (and shows "-").
        r = subprocess.run(self.args.render.command("--type", "feyla", "-e", "20", "-n", "8", path("feyla.wav")),
                           capture_output=True, text=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        replay = Replay(self.args.replay, "--speed", "0.5", "--exit", variant="feyla", sound="feyla.wav")
        (kind, hello), *frames, end = list(events(replay.connect("/events")))
        out, _ = replay.finish()
        self.assertEqual((kind, sorted(hello["grids"]), end[1]), ("hello", ["range"], {"frames": 8}))
        lines = list(csv.reader(out.splitlines()))[1:]
        self.assertEqual({line[2] for line in lines}, {"-33.367012"})
        self.assertGreaterEqual(len(frames), 4)
        for _, frame in frames:
            self.assertEqual([frame["azimuth"], frame["elevation"]], [float(lines[frame["frame"]][1]), None])

    def test_late_viewers_get_every_frame_once(self):
        # The replay waits: a viewer coming 5 s after the start gets frame 0
        # and every frame after it once, each with its maps. One coming after
        # frame 18 gets the frames before as history (no maps), then the live
        # ones, each once. 5 s after the last frame the CSV is whole (its pipe
        # ended) and the final state still served (the frames as history, the
        # last one whole, "end"); SIGTERM ends the replay with status 0.
        replay = Replay(self.args.replay)
        time.sleep(5)
        first = []
        reader = threading.Thread(target=lambda: first.extend(events(replay.connect("/events"), 600)))
        reader.start()
        printed = read_to(replay.process.stdout, 20, 600)   # the header, frames 0-18
        second = frames(events(replay.connect("/events"), 600))
        reader.join()
        self.assertEqual([f["frame"] for f in frames(first)], list(range(FRAMES)))
        self.assertEqual([f for f in frames(first) if "map" not in f], [])
        self.assertEqual(first[-1], ("end", {"frames": FRAMES}))
        self.assertEqual([f["frame"] for f in second], list(range(FRAMES)))
        self.assertEqual(("map" in second[0], "map" in second[-1]), (False, True))
        self.assertEqual(printed + read_to(replay.process.stdout, None, 5), RENDERED)
        time.sleep(5)
        self.assertIsNone(replay.process.poll())
        final = list(events(replay.connect("/events"), 30))
        self.assertEqual([f["frame"] for f in frames(final)], list(range(FRAMES)))
        self.assertEqual(final[-1], ("end", {"frames": FRAMES}))
        replay.process.terminate()
        _, err = replay.finish(60)
        self.assertIn("live view: 3 viewers, 0 refused, 0 frames lost", err)

    def test_eight_viewers_at_most(self):
        # 6.8 s: time for the connections on a loaded machine
        replay = Replay(self.args.replay, "--speed", "0.5", "--exit")
        streams = [replay.connect("/events") for _ in range(8)]
        self.assertEqual([s.status for s in streams], [200] * 8)
        self.assertEqual(replay.connect("/events").status, 503)
        streams.pop().close()
        deadline = time.monotonic() + 4
        while replay.connect("/events").status != 200:   # the slot comes free
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        self.assertEqual(next(events(streams[0], 10))[0], "hello")
        for s in streams:
            s.close()
        out, err = replay.finish()
        self.assertEqual(out, RENDERED)
        self.assertRegex(err, r"live view: 9 viewers, [1-9]\d* refused")

    def test_hostile_clients_leave_the_page_to_others(self):
        replay = Replay(self.args.replay, "--speed", "0.25", "--no-wait")   # 13.6 s of frames

        def page_within(seconds):
            start = time.monotonic()
            connection = http.client.HTTPConnection("127.0.0.1", replay.port, timeout=seconds)
            connection.request("GET", "/")
            self.assertEqual(connection.getresponse().status, 200)
            self.assertLess(time.monotonic() - start, seconds)

        def closed_by_server(sockets, seconds):
            deadline = time.monotonic() + seconds
            for s in sockets:
                s.settimeout(max(0.01, deadline - time.monotonic()))
                try:
                    while s.recv(4096):
                        pass
                except ConnectionResetError:
                    pass
                except socket.timeout:
                    self.fail("a connection was still open after %s s" % seconds)

        # Twelve heads arriving a byte a second: the page is still served,
        # and they are dropped once 5 s have passed.
        slow = [socket.create_connection(("127.0.0.1", replay.port)) for _ in range(12)]
        started = time.monotonic()

        def trickle():
            for byte in b"GET / HTTP/1.1\r\nHost: x\r\n"[:8]:
                for s in slow:
                    try:
                        s.send(bytes([byte]))
                    except OSError:
                        pass
                time.sleep(1)
        sender = threading.Thread(target=trickle)
        sender.start()
        time.sleep(1.5)
        page_within(3)
        # 64 MB of body: answered 413, not taken into memory.
        def memory(name):
            with open("/proc/%d/status" % replay.process.pid) as f:
                return next(int(line.split()[1]) for line in f if line.startswith(name + ":"))
        before = memory("VmRSS")
        post = socket.create_connection(("127.0.0.1", replay.port))
        post.settimeout(10)
        post.sendall(b"POST /events HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % (64 << 20))
        try:
            for _ in range(64):
                post.sendall(bytes(1 << 20))
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.assertTrue(post.recv(4096).startswith(b"HTTP/1.1 413 "))
        self.assertLess(memory("VmHWM") - before, 2048)   # kB
        closed_by_server(slow, 5 + 1.5 - (time.monotonic() - started))

        # 200 idle connections and an idle keep-alive one: all closed (the
        # 17th at once, the others after 2 s), then the page is served.
        kept = socket.create_connection(("127.0.0.1", replay.port))
        kept.sendall(b"GET /live.css HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertTrue(kept.recv(65536).startswith(b"HTTP/1.1 200 "))
        idle = [socket.create_connection(("127.0.0.1", replay.port), timeout=5) for _ in range(200)]
        closed_by_server(idle + [kept], 2 + 1.5)
        page_within(3)
        sender.join()
        for s in slow + idle + [post, kept]:
            s.close()
        self.assertIsNone(replay.process.poll())
        replay.process.terminate()   # a replay stopped before its last frame is no success
        out, err = replay.process.communicate(timeout=60)
        self.assertEqual(replay.process.returncode, 1, err)
        self.assertRegex(err, r"voxaim_replay: stopped by SIGTERM after \d+ frames\n")

    def test_refusals(self):
        taken = Replay(self.args.replay)
        for options, message in ((["--serve", "host:"], "--serve takes \\[ADDR:\\]PORT, not 'host:'"),
                                 (["--serve", "::1:80"], "--serve takes"),
                                 (["--serve", "8080", "--speed", "0"], "--speed 0 is outside 0.001..1000"),
                                 (["--speed", "2"], "--speed paces the live view: give --serve too"),
                                 (["--no-wait"], "--no-wait is for the live view: give --serve too"),
                                 (["--exit"], "--exit is for the live view: give --serve too"),
                                 (["--serve", str(taken.port)], "cannot listen on 127.0.0.1:%d" % taken.port)):
            with self.subTest(options=options):
                r = subprocess.run(self.args.replay.command("--type", "tovak", *options, path("talker.wav")),
                                   capture_output=True, text=True, timeout=300)
                self.assertEqual((r.returncode, r.stdout), (1, ""))
                self.assertRegex(r.stderr, "^voxaim_replay: %s" % message)
        # Still waiting for its first viewer: SIGINT ends it, a failure.
        taken.process.send_signal(signal.SIGINT)
        _, err = taken.process.communicate(timeout=60)
        self.assertEqual((taken.process.returncode, err.splitlines()[-1:]),
                         (1, ["voxaim_replay: stopped by SIGINT before any viewer came"]))


def main():
    global TMP, RENDERED
    args = scripttest.arguments("replay", "render")
    TMP = tempfile.TemporaryDirectory(prefix="voxaim_live_test_")
    with TMP:
        r = subprocess.run(args.render.command("--type", "tovak", "-n", str(FRAMES), "-s", "24", path("talker.wav")),
                           capture_output=True, text=True, timeout=600)
        if r.returncode != 0:
            sys.exit("voxaim_render failed: " + r.stderr)
        RENDERED = r.stdout
        sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
