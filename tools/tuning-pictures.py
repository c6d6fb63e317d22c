#!/usr/bin/python3
"""Makes the pictures of docs/tuning.md again from a build:
the worked example's plots (talker.png, map59.png) and the live view of a
walking talker, taken by headless chromium at 1280 and 800 pixels wide
(live.png, live-800.png).

    tools/tuning-pictures.py [--build build/native] [--out docs/tuning]

Needs the build's voxaim_render and voxaim_replay, sox, Debian's
python3-matplotlib, chromium, chromium-driver and python3-selenium. Each
picture shows the same thing on every run: the worked example is
deterministic, and the live view is taken after the replay's last frame,
its final state.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

WALK = (-40, -10, 20, 45)   # azimuths of the walking talker, 150 frames each
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--hide-scrollbars", "--window-size=1280,1000")


def run(command, cwd, stdout=None):
    print("+", " ".join(command), file=sys.stderr)
    with open(os.path.join(cwd, stdout), "w") if stdout else open(os.devnull, "w") as out:
        subprocess.run(command, cwd=cwd, stdout=out, check=True)


def worked_example(tools, plot, work, out):
    """docs/tuning.md's worked example, command for command."""
    run([tools + "/voxaim_render", "--type", "tovak", "-a", "30", "-e", "10", "-r", "2", "-n", "60",
         "--truth", "talker.json", "talker.wav"], work, "rendered.csv")
    run([tools + "/voxaim_replay", "--type", "tovak", "--map", "59:map59.csv", "talker.wav"], work, "talker.csv")
    run([plot, "--truth", "talker.json", "talker.csv", "map59.csv"], work)
    for name in ("talker.png", "map59.png"):
        shutil.copy(os.path.join(work, name), os.path.join(out, name))


def live_view(tools, work, out):
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service

    parts = []
    for a in WALK:
        parts.append("p%d.wav" % a)
        run([tools + "/voxaim_render", "--type", "tovak", "-q", "-a", str(a), "-e", str(int(a / 4)), "-r", "2",
             "-n", "150", parts[-1]], work)
    run(["sox", *parts, "walk.wav"], work)

    options = Options()
    options.binary_location = shutil.which("chromium")
    for flag in CHROMIUM_FLAGS + ("--user-data-dir=" + os.path.join(work, "profile"),):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
    try:
        # The browser first, warmed up on a page of its own, so that the live
        # page connects as the replay starts.
        driver.get("data:text/html,<title>warm-up</title>")
        replay = subprocess.Popen([tools + "/voxaim_replay", "--type", "tovak", "-q", "--serve", "127.0.0.1:0",
                                   "walk.wav"], cwd=work, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, text=True)
        try:
            driver.get(re.search(r"http://\S+/", replay.stderr.readline()).group(0))
            deadline = time.monotonic() + 60
            while not driver.find_element("id", "status").text.startswith("ended"):
                if time.monotonic() > deadline:
                    sys.exit("the live view did not end within 60 s")
                time.sleep(0.2)
        finally:
            replay.kill()
            replay.wait()
        for width, name in ((1280, "live.png"), (800, "live-800.png")):
            size = {"width": width, "height": 600, "deviceScaleFactor": 1, "mobile": False}
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", size)
            time.sleep(0.5)   # the page redraws at the new width
            size["height"] = driver.execute_script("return document.documentElement.scrollHeight")
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", size)
            time.sleep(0.5)
            driver.save_screenshot(os.path.join(out, name))
            print(os.path.join(out, name))
    finally:
        driver.quit()


def main():
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description="Makes the tuning pictures of docs/tuning.md again.")
    parser.add_argument("--build", default=os.path.join(source, "build", "native"))
    parser.add_argument("--out", default=os.path.join(source, "docs", "tuning"))
    args = parser.parse_args()
    tools = os.path.abspath(os.path.join(args.build, "functional", "audio", "voxaim"))
    plot = os.path.abspath(os.path.join(args.build, "tools", "voxaim-plot"))
    for program in (tools + "/voxaim_render", tools + "/voxaim_replay", plot):
        if not os.access(program, os.X_OK):
            parser.error("%s is missing: build the native preset first" % program)
    out = os.path.abspath(args.out)
    with tempfile.TemporaryDirectory(prefix="tuning_pictures_") as work:
        worked_example(tools, plot, work, out)
        live_view(tools, work, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
