#!/usr/bin/env python3
"""tools/voxaim-plot: PNG files of the expected size from the replay of every
variant and from a series of search maps; the rendered position drawn,
frames with quality 0 left out and their maps without a chosen cell, the
axes' least spans held; a message with exit status 1, no traceback and no
PNG, for every CSV it cannot read, status 2 for a usage error. Runs under
Debian's python3, whose matplotlib voxaim-plot uses.

usage: voxaim_plot_test.py --emulator "<prefix>" <voxaim-plot> <voxaim_replay> <voxaim_render>
"""
import importlib.machinery
import importlib.util
import json
import math
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import scripttest  # tools/testing, on PYTHONPATH

TMP = None
VARIANTS = ("mirel", "tovak", "lumo", "zandor", "valdrun", "feyla", "brannt")


def path(name):
    return os.path.join(TMP.name, name)


def run(command):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, cwd=TMP.name)


def png_size(name):
    with open(path(name), "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", head
    return struct.unpack(">II", head[16:24])


def load_plot(program):
    """voxaim-plot as a module, and pyplot."""
    loader = importlib.machinery.SourceFileLoader("voxaim_plot", program)
    plot = importlib.util.module_from_spec(importlib.util.spec_from_loader("voxaim_plot", loader))
    loader.exec_module(plot)
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plot, plt


class Plot(unittest.TestCase):
    def plot(self, csv, png):
        r = run([self.args.plot, path(csv), "-o", path(png)])
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(r.stdout, path(png) + "\n")
        return png_size(png)

    def test_replay_and_map_of_every_variant(self):
        for variant in VARIANTS:
            with self.subTest(variant=variant):
                self.assertEqual(run(self.args.render.command("--type", variant, "-n", "12", path("in.wav")))
                                 .returncode, 0)
                r = run(self.args.replay.command("--type", variant, "--map", "3-11/8:" + path(variant + "_map%d.csv"),
                                                 path("in.wav")))
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(path(variant + ".csv"), "w") as f:
                    f.write(r.stdout)
                self.assertEqual(self.plot(variant + ".csv", variant + ".png"), (1000, 900))
                if variant in ("tovak", "feyla", "brannt"):   # both grids, range only, NaN azimuths
                    series = (3, 11) if variant == "tovak" else (11,)   # one call draws a series
                    maps = [path("%s_map%d.csv" % (variant, n)) for n in series]
                    r = run([self.args.plot, *maps])
                    self.assertEqual((r.returncode, r.stdout), (0, "".join(m[:-3] + "png\n" for m in maps)))
                    self.assertEqual({png_size(m[:-3] + "png") for m in maps}, {(1200, 500)})

    def test_truth_and_quality_gaps(self):
        # A talker moving from -20 to -10 degrees: the dashed line is its
        # truth, frame by frame. Frames of quality 0 are gaps on the timeline
        # and circle no cell on their map; a still elevation and range keep
        # the axes' least spans (5 degrees, 0.5 m) against the jitter.
        with open(path("path.csv"), "w") as f:
            f.write("0,-20,5,1.5\n0.3,-10,5,1.5\n")
        r = run(self.args.render.command("--type", "tovak", "--path", path("path.csv"), "-n", "8",
                                         "--truth", path("truth.jsonl"), path("t.wav")))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(path("t.csv"), "w") as f:
            f.write(r.stdout)
        r = run(self.args.replay.command("--type", "tovak", "--map", "3-7/4:" + path("t%d.csv"), path("t.wav")))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(run([self.args.plot, "--truth", path("truth.jsonl"), path("t.csv")]).returncode, 0)

        plot, plt = load_plot(self.args.plot)
        header, body = plot.read_csv(path("t.csv"))
        truth = plot.read_truth(path("truth.jsonl"))
        figure = plot.plot_replay(plt, path("t.csv"), *plot.replay_data(path("t.csv"), header, body), None, truth)
        gaps = [float(row[4]) == 0 for row in body]
        self.assertEqual(gaps[:5], [True] * 4 + [False])   # no correlation before frame 4
        with open(path("truth.jsonl")) as f:
            lines = [json.loads(line) for line in f]
        for axis, name in zip(figure.axes, ("azimuth", "elevation", "range")):
            with self.subTest(name):
                estimate, rendered = axis.lines
                self.assertEqual([math.isnan(y) for y in estimate.get_ydata()], gaps)
                self.assertEqual((list(rendered.get_xdata()), list(rendered.get_ydata())),
                                 ([n * (2048 / 48000) for n in range(8)], [line[name] for line in lines]))
                lo, hi = axis.get_ylim()
                values = [y for y in estimate.get_ydata() if not math.isnan(y)] + list(rendered.get_ydata())
                self.assertGreaterEqual(hi - lo, 0.5 if name == "range" else 5)
                self.assertTrue(lo < min(values) and max(values) < hi, (lo, hi, values))
        self.assertEqual(len(set(rendered.get_ydata())), 1)
        self.assertEqual(len(set(figure.axes[0].lines[1].get_ydata())), 7)   # frames 0 and 1 hold the start
        # On a map, the cross of the map's frame, above the chosen cell (none
        # on quality 0); none from a moving talker when the map does not say
        # its frame.
        for frame, quality in (3, 0), (7, float(body[7][4])):
            with self.subTest(map=frame):
                header, cells = plot.read_csv(path("t%d.csv" % frame))
                position = plot.map_truth("m", header, cells, truth)
                figure = plot.plot_map(plt, path("t%d.csv" % frame), cells, None, position)
                self.assertIn("tovak, frame %d (t%d.csv)" % (frame, frame), [t.get_text() for t in figure.texts])
                for axis, grid in zip(figure.axes, ("elevation", "range")):
                    marks = {line.get_label(): (line.get_xdata()[0], line.get_ydata()[0]) for line in axis.lines}
                    chosen = [(float(c[1]), float(c[2])) for c in cells if c[0] == grid and c[4] == "1"]
                    self.assertEqual(marks.pop("rendered position (--truth)"),
                                     (lines[frame]["azimuth"], lines[frame][grid]))
                    self.assertEqual(marks, {"chosen cell (the engine's answer)": chosen[0]} if quality else {})
                plt.close("all")
        self.assertIsNone(plot.map_truth("m", plot.MAP_COLUMNS, [["range", "-20", "1.5", "0.1", "1"]], truth))

    def test_json_lines_and_no_elevation_grid(self):
        # JSON lines plot as their CSV does; feyla's elevation (null there) is
        # not drawn, neither estimate nor rendered line.
        plot, plt = load_plot(self.args.plot)
        for variant in ("tovak", "feyla"):
            with self.subTest(variant):
                r = run(self.args.render.command("--type", variant, "-e", "10", "-n", "8", "--truth", path("j.json"),
                                                 path("j.wav")))
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(path("j.csv"), "w") as f:
                    f.write(r.stdout)
                r = run(self.args.replay.command("--type", variant, "--format", "jsonl", path("j.wav")))
                with open(path("j.jsonl"), "w") as f:
                    f.write(r.stdout)
                if variant == "feyla":   # a file starting with "{" is taken for JSON lines
                    self.assertEqual(self.plot("j.jsonl", "j.png"), (1000, 900))
                truth = plot.read_truth(path("j.json"))
                header, body = plot.read_csv(path("j.csv"))
                from_csv = plot.plot_replay(plt, "j", *plot.replay_data("j", header, body), None, truth)
                from_json = plot.plot_replay(plt, "j", *plot.read_jsonl(path("j.jsonl")), None, truth)
                for n, (a, b) in enumerate(zip(from_csv.axes, from_json.axes)):
                    if variant == "feyla" and n == 1:
                        self.assertEqual((len(a.lines), len(b.lines)), (2, 0))
                        continue
                    self.assertEqual([list(map(str, line.get_ydata())) for line in a.lines],
                                     [list(map(str, line.get_ydata())) for line in b.lines])
                plt.close("all")

    def test_unreadable_csv(self):
        header = "frame,azimuth,elevation,range,quality,flags,VOXAIM_OUT_VOICE_ACTIVITY\n"
        cases = {
            "missing.csv": (None, "cannot read .*missing.csv: No such file or directory"),
            "empty.csv": ("", "empty.csv: empty file"),
            "other.csv": ("a,b,c\n1,2,3\n", "neither a replay CSV nor a search map"),
            "ragged.csv": (header + "0,1,2,3,4,0x83,1\n1,1,2\n", "line 3 has 3 fields, the header 7"),
            "text.csv": (header + "0,left,2,3,4,0x83,1\n", "line 2, azimuth: 'left' is not a number"),
            "frames.csv": (header, "no frames"),
            "grid.csv": ("grid,azimuth,elevation_or_range,power,chosen\nheight,1,2,3,0\n",
                         "unknown grid 'height'"),
            "binary.csv": (b"\xff\xfe\x00garbage", "not a CSV file"),
        }
        for name, (content, message) in cases.items():
            with self.subTest(name):
                if content is not None:
                    with open(path(name), "wb" if isinstance(content, bytes) else "w") as f:
                        f.write(content)
                r = run([self.args.plot, path(name), "-o", path("bad.png")])
                self.assertEqual((r.returncode, r.stdout), (1, ""))
                self.assertRegex(r.stderr, "^voxaim-plot: .*%s.*\n$" % message)
                self.assertFalse(os.path.exists(path("bad.png")))
        r = run([self.args.plot, "--version"])
        self.assertRegex(r.stdout, r"^voxaim-plot \d+\.\d+\.\d+\n$")
        for usage in [], ["-o", path("bad.png"), path("a.csv"), path("b.csv")]:
            r = run([self.args.plot, *usage])
            self.assertEqual((r.returncode, r.stderr[:7]), (2, "usage: "))


def main():
    global TMP
    args = scripttest.arguments("plot", "replay", "render")
    TMP = tempfile.TemporaryDirectory(prefix="voxaim_plot_test_")
    with TMP:
        sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
