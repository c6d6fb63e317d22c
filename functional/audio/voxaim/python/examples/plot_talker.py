"""Renders a talker at 30 degrees, runs it through the engine and plots azimuth and quality.
usage: plot_talker.py [voxaim_render [OUT_FOLDER]]"""
import os, subprocess, sys
import matplotlib; matplotlib.use("Agg")
import matplotlib.pyplot as plt
import voxaim

render = sys.argv[1] if len(sys.argv) > 1 else "voxaim_render"
out = sys.argv[2] if len(sys.argv) > 2 else "."
wav = os.path.join(out, "talker.wav")
subprocess.run([render, "--type", "tovak", "-a", "30", "-e", "10", "-r", "2", "-n", "60", wav],
               check=True, stdout=subprocess.DEVNULL)
with voxaim.Engine("tovak") as engine:
    table = engine.run(*voxaim.read(wav))
fig, (azimuth, quality) = plt.subplots(2, 1, sharex=True, figsize=(8, 5))
azimuth.plot(table["frame"], table["azimuth"]); azimuth.set_ylabel("azimuth (degrees)")
quality.plot(table["frame"], table["quality"]); quality.set_ylabel("quality"); quality.set_xlabel("frame")
fig.savefig(os.path.join(out, "talker-python.png"), dpi=80)
