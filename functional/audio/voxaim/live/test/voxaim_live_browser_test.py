#!/usr/bin/python3
"""The live view's page in a real browser: Debian's chromium, headless,
driven through chromedriver by python3-selenium, against voxaim_replay
--serve of a rendered recording whose far-end flag toggles every ten frames.
Within 10 s the page shows the frame's azimuth as the CSV has it and draws
the heat map; a flag lane follows its flag; a reload reconnects; 800 pixels
wide it is one column, and each heat map has its colour scale; a frame of
quality 0 circles no cell. Of a feyla
replay (no elevation grid) it shows the elevation as "-".

usage: voxaim_live_browser_test.py --emulator "" --chromium PATH --chromedriver PATH
                                   <voxaim_replay> <voxaim_render>
"""
import csv
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

import scripttest  # tools/testing, on PYTHONPATH

TMP = None
FRAMES = 600   # 25 s at the recording's pace: more than the checks need on a slow machine
FAR_END = 3    # the output flag bit that copies the far-end input flag
# Without the background-networking flags chromium tries to reach outside
# hosts, which this machine refuses.
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--window-size=1280,940")

# What the page shows now, read in one go (the page changes it only between
# events): the frame, the azimuth and elevation, the flag lanes that are on, the status,
# how many colours the elevation heat map's plot area has and whether its
# scale is flat (a frame without correlation).
SNAPSHOT = """
const map = document.getElementById("map-elevation");
const pixels = map.getContext("2d").getImageData(58, 10, map.width - 70, map.height - 40).data;
const colours = new Set();
for (let i = 0; i < pixels.length; i += 4) colours.add(pixels.slice(i, i + 4).join());
return {frame: document.getElementById("frame").textContent,
        azimuth: document.getElementById("azimuth").textContent,
        elevation: document.getElementById("elevation").textContent,
        on: [...document.querySelectorAll("#flag-list li.on")].map((li) => Number(li.id.slice(5))),
        status: document.getElementById("status").textContent,
        colours: colours.size,
        flat: [...document.querySelectorAll("#scale-elevation span")].map((e) => e.textContent).join() === "0,,0"};
"""

# The page's boxes (left, top, right, bottom) from the top, the page's width,
# and each heat map's colour scale as its numbers (highest, lowest).
LAYOUT = """
const box = (e) => { const r = e.getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom]; };
return {boxes: ["#figure-elevation", "#figure-range", ".now", ".timeline"].map((s) => box(document.querySelector(s))),
        width: document.documentElement.scrollWidth,
        scales: ["elevation", "range"].map((g) => [...document.querySelectorAll("#figure-" + g + " .scale span")]
                                                      .map((e) => e.textContent))};
"""


def path(name):
    return os.path.join(TMP.name, name)


class Browser(unittest.TestCase):
    def setUp(self):
        options = Options()
        options.binary_location = self.args.chromium
        for flag in CHROMIUM_FLAGS + ("--user-data-dir=" + path("profile"),):
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service(self.args.chromedriver), options=options)
        self.addCleanup(self.driver.quit)

    def watch(self, until, seconds):
        """Snapshots every 50 ms until `until(snapshot)` holds."""
        deadline = time.monotonic() + seconds
        while True:
            shot = self.driver.execute_script(SNAPSHOT)
            if shot["frame"].isdigit():
                self.seen.append(shot)
            if until(shot):
                return shot
            self.assertLess(time.monotonic(), deadline, "page stuck at %r" % shot)
            time.sleep(0.05)

    def test_page_follows_the_replay(self):
        replay = subprocess.Popen([self.args.replay, "--type", "tovak", "--flags", path("flags.txt"), "--serve",
                                   "127.0.0.1:0", path("talker.wav")],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(replay.kill)
        url = re.search(r"http://\S+/", replay.stderr.readline()).group(0)
        self.seen = []
        self.driver.get(url)
        self.watch(lambda s: s["status"] == "live" and s["frame"].isdigit() and s["colours"] > 20, 10)
        lanes = set()
        self.watch(lambda s: lanes.add(FAR_END in s["on"]) or len(lanes) == 2, 3)
        # Far-end frames have quality 0 and a flat map: no chosen cell drawn on it.
        self.assertEqual(self.watch(lambda s: s["flat"], 3)["colours"], 1)
        before = int(self.seen[-1]["frame"])
        self.driver.refresh()
        self.watch(lambda s: s["frame"].isdigit() and int(s["frame"]) > before and s["status"] == "live", 10)
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {"width": 800, "height": 900, "deviceScaleFactor": 1, "mobile": False})
        deadline = time.monotonic() + 5
        while True:   # a frame with a correlation (far-end frames have flat maps, lowest = highest)
            layout = self.driver.execute_script(LAYOUT)
            self.assertEqual([len(scale) for scale in layout["scales"]], [3, 3], layout)   # highest, bar, lowest
            if all(float(scale[0]) > float(scale[2]) for scale in layout["scales"]):
                break
            self.assertLess(time.monotonic(), deadline, layout)
            time.sleep(0.05)
        self.assertLessEqual(layout["width"], 800, layout)   # nothing sticks out sideways
        for upper, lower in zip(layout["boxes"], layout["boxes"][1:]):
            self.assertEqual(upper[0], lower[0], layout)      # one column: the same left edge,
            self.assertLessEqual(upper[3], lower[1], layout)  # each box below the one before
        self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

        replay.terminate()   # its lines come out as the frames are served
        out, err = replay.communicate(timeout=60)
        lines = list(csv.reader(out.splitlines()))[1:]
        for shot in self.seen:
            line = lines[int(shot["frame"])]
            self.assertLessEqual(abs(float(shot["azimuth"]) - float(line[1])), 0.1, shot)
            self.assertEqual(FAR_END in shot["on"], line[6 + FAR_END] == "1", shot)
            self.assertLessEqual(abs(float(shot["elevation"]) - float(line[2])), 0.1, shot)

        # feyla has no elevation grid: no elevation shown, the rest as usual.
        feyla = subprocess.Popen([self.args.replay, "--type", "feyla", "--serve", "127.0.0.1:0", path("feyla.wav")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.addCleanup(feyla.kill)
        self.driver.get(re.search(r"http://\S+/", feyla.stderr.readline()).group(0))
        shot = self.watch(lambda s: s["status"] == "live" and s["frame"].isdigit() and s["azimuth"] != "", 10)
        self.assertEqual(shot["elevation"], "-", shot)


def main():
    global TMP
    args = scripttest.arguments("--chromium", "--chromedriver", "replay", "render")
    TMP = tempfile.TemporaryDirectory(prefix="voxaim_live_browser_test_")
    with TMP:
        r = subprocess.run([args.render, "--type", "tovak", "-n", str(FRAMES), "-s", "24", path("talker.wav")],
                           capture_output=True, text=True, timeout=300)
        if r.returncode != 0:
            sys.exit("voxaim_render failed: " + r.stderr)
        r = subprocess.run([args.render, "--type", "feyla", "-e", "20", "-n", "200", path("feyla.wav")],
                           capture_output=True, text=True, timeout=300)
        if r.returncode != 0:
            sys.exit("voxaim_render failed: " + r.stderr)
        with open(path("flags.txt"), "w") as f:
            f.writelines("0x1\n" if n // 10 % 2 else "0x0\n" for n in range(FRAMES))
        sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
