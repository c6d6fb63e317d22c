"""The module against voxaim_replay on rendered files of every variant, and
every misuse as a Python exception."""
import os
import re
import subprocess
import sys
import warnings

import numpy as np
import pytest

import voxaim

FRAMES = 20
# Every width read() scales, across the variants.
SAMPLES = {"mirel": "16", "tovak": "24", "lumo": "32", "zandor": "float", "valdrun": "24",
           "feyla": "16", "brannt": "float"}
FLAG_COLUMNS = ["VOXAIM_OUT_VOICE_ACTIVITY", "VOXAIM_OUT_TIME_DOMAIN_ANSWER", "VOXAIM_OUT_SOUND_ACTIVITY",
                "VOXAIM_OUT_FAR_END_ACTIVITY", "VOXAIM_OUT_NOISE_HOLD", "VOXAIM_OUT_ULTRASOUND_DISTORTION",
                "VOXAIM_OUT_PANEL_UPRIGHT"]


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def render(tools, work, variant, suffix=".wav"):
    path = os.path.join(work, variant + suffix)
    run([tools["render"], "--type", variant, "-a", "25", "-e", "5", "-r", "2", "-n", str(FRAMES),
         "-s", SAMPLES[variant], path])
    return path


def f32(text):
    return np.float32(float(text))


def same(a, b):
    """Bit for bit, NaN equal to NaN."""
    return np.array_equal(np.asarray(a, np.float32).view(np.uint32), np.asarray(b, np.float32).view(np.uint32))


def replay_rows(csv):
    lines = csv.splitlines()
    header = lines[0].split(",")
    return header, [line.split(",") for line in lines[1:]]


def check_rows(table, csv):
    header, rows = replay_rows(csv)
    assert list(table.dtype.names) == header
    assert len(table) == len(rows)
    for got, want in zip(table, rows):
        assert got["frame"] == int(want[0])
        assert same([got[n] for n in ("azimuth", "elevation", "range", "quality")], [f32(v) for v in want[1:5]])
        assert got["flags"] == int(want[5], 16)
        assert [int(got[n]) for n in FLAG_COLUMNS] == [int(v) for v in want[6:]]


def check_map(grids, path):
    with open(path) as f:
        lines = [line.rstrip("\n").split(",") for line in f][1:]
    for name in ("elevation", "range"):
        cells = [c for c in lines if c[0] == name]
        if not cells:
            assert name not in grids
            continue
        grid = grids[name]
        rows, columns = grid["power"].shape
        assert len(cells) == rows * columns
        assert same(grid["power"].ravel(), [f32(c[3]) for c in cells])
        assert same(grid["azimuth"], [f32(c[1]) for c in cells[:columns]])
        assert same(grid[name], [f32(c[2]) for c in cells[::columns]])
        chosen = [i for i, c in enumerate(cells) if c[4] == "1"]
        assert chosen == [grid["chosen"][0] * columns + grid["chosen"][1]]


@pytest.mark.parametrize("variant", [v[0] for v in voxaim.variants()])
def test_equals_replay(tools, work, variant):
    """run(), process() frame by frame and search_map() give voxaim_replay's
    numbers for a rendered file of the variant."""
    path = render(tools, work, variant)
    map_path = os.path.join(work, variant + "-map.csv")
    csv = run([tools["replay"], "--type", variant, "--map", "%d:%s" % (FRAMES - 1, map_path), path])
    samples, bits = voxaim.read(path)
    assert bits == (24 if SAMPLES[variant] == "float" else int(SAMPLES[variant]))
    with voxaim.Engine(variant) as engine:
        check_rows(engine.run(samples, bits=bits), csv)
        check_map(engine.search_map(), map_path)
    with voxaim.Engine(variant) as engine:
        results = [engine.process(samples[:, i * 2048:(i + 1) * 2048], bits=bits) for i in range(FRAMES)]
    _, rows = replay_rows(csv)
    for result, want in zip(results, rows):
        assert same([result.azimuth, result.elevation, result.range, result.quality], [f32(v) for v in want[1:5]])
        assert result.flags == int(want[5], 16)
        assert [getattr(result, n[len("VOXAIM_OUT_"):].lower()) for n in FLAG_COLUMNS] == [v == "1" for v in want[6:]]


def test_input_flags_and_partial_frame(tools, work):
    """Input flags per frame reach the engine as --flags gives them, and a
    partial last frame is left out with the replay tool's message."""
    path = render(tools, work, "tovak")
    words = [(i % 4) for i in range(FRAMES)]
    flags_path = os.path.join(work, "flags.txt")
    with open(flags_path, "w") as f:
        f.writelines("0x%x\n" % w for w in words)
    csv = run([tools["replay"], "--type", "tovak", "--flags", flags_path, path])
    samples, bits = voxaim.read(path)
    samples = np.concatenate([samples, np.zeros((8, 100), np.float32)], axis=1)
    with voxaim.Engine(1) as engine, warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        table = engine.run(samples, flags=words, bits=bits)
    check_rows(table, csv)
    assert [str(w.message) for w in caught] == [
        "truncated last frame %d: 100 of 2048 samples per channel, ignored" % FRAMES]


def test_variants_are_the_engines(tools):
    """variants() lists what the tools accept, with the engine's channels."""
    failed = subprocess.run([tools["replay"], "--type", "none", "x.wav"], capture_output=True, text=True)
    valid = re.search(r"\(valid: ([^)]*)\)", failed.stderr).group(1)
    assert ", ".join("%d %s" % (t, n) for n, t, _ in voxaim.variants()) == valid
    for name, number, channels in voxaim.variants():
        with voxaim.Engine(number) as engine:
            assert (engine.name, engine.channels, engine.microphones.shape) == (name, channels, (channels, 3))


def test_one_engine_per_process():
    with voxaim.Engine("tovak") as engine:
        with pytest.raises(RuntimeError, match="one per process"):
            voxaim.Engine("mirel")
        assert not engine.closed
        engine.process(np.zeros((8, 2048), np.float32))
    with voxaim.Engine("mirel"):
        pass


@pytest.mark.parametrize("variant,error", [("none", ValueError), (3, ValueError), (8, ValueError), (-1, ValueError),
                                           (2**40, ValueError), ("3", ValueError), (1.0, TypeError)])
def test_unknown_variant(variant, error):
    with pytest.raises(error) as raised:
        voxaim.Engine(variant)
    if error is ValueError:
        assert "valid: 0 mirel, 1 tovak, 2 lumo, 4 zandor, 5 valdrun, 6 feyla, 7 brannt" in str(raised.value)
    voxaim.Engine("feyla").close()  # nothing was left open


def nan_at(shape, where):
    a = np.zeros(shape, np.float32)
    a[where] = np.nan
    return a


@pytest.mark.parametrize("call,message", [
    (lambda e: e.process(np.zeros((8, 2047), np.float32)), r"shape \(8, 2047\)"),
    (lambda e: e.process(np.zeros((6, 2048))), r"shape \(6, 2048\)"),
    (lambda e: e.process(np.zeros(8 * 2048)), r"shape \(16384,\)"),
    (lambda e: e.process(np.full((8, 2048), "x")), "integers or floats"),
    (lambda e: e.process(np.zeros((8, 2048), complex)), "integers or floats"),
    (lambda e: e.process(nan_at((8, 2048), (3, 7))), r"frame: sample not finite \(channel 3, sample 7\)"),
    (lambda e: e.process(np.full((8, 2048), 1e39)), "not finite"),
    (lambda e: e.process(np.zeros((8, 2048)), bits=0), "bits"),
    (lambda e: e.process(np.zeros((8, 2048)), bits=33), "bits"),
    (lambda e: e.process(np.zeros((8, 2048)), flags=2**32), "flag word"),
    (lambda e: e.run(np.zeros((6, 4096))), r"shape \(6, 4096\)"),
    (lambda e: e.run(nan_at((8, 3 * 2048), (5, 2 * 2048 + 9))), r"frame 2: sample not finite"),
    (lambda e: e.run(np.zeros((8, 2 * 2048)), flags=[0]), "1 flag words for 2 frames"),
    (lambda e: voxaim.signal_energy(np.zeros((9, 2048))), r"shape \(9, 2048\)"),
    (lambda e: voxaim.signal_energy(np.zeros((0, 2048))), r"shape \(0, 2048\)"),
])
def test_bad_input_leaves_engine_alone(tools, work, call, message):
    """A refused call raises ValueError naming the problem, and the frames
    after it give voxaim_replay's numbers as if it had not been made."""
    path = os.path.join(work, "bad-input.wav")
    if not os.path.exists(path):
        run([tools["render"], "--type", "tovak", "-n", "6", path])
    csv = run([tools["replay"], "--type", "tovak", path])
    samples, bits = voxaim.read(path)
    with voxaim.Engine("tovak") as engine:
        with pytest.raises(ValueError, match=message):
            call(engine)
        check_rows(engine.run(samples, bits=bits), csv)


def test_closed_engine():
    engine = voxaim.Engine("lumo")
    engine.close()
    engine.close()
    for call in (lambda: engine.process(np.zeros((6, 2048))), lambda: engine.run(np.zeros((6, 2048))),
                 engine.search_map, engine.ultrasound_level):
        with pytest.raises(RuntimeError, match="closed"):
            call()
    with voxaim.Engine("lumo") as again:
        with pytest.raises(RuntimeError, match="no frame"):
            again.search_map()


def test_signal_energy():
    """Each channel's energy at the given width, for any channel count."""
    frame = np.stack([np.full(2048, 4194304.0), np.full(2048, -8388608.0), np.arange(2048) % 7 * 1000.0])
    energies = voxaim.signal_energy(frame)
    assert energies.shape == (3,)
    assert energies[:2].tolist() == [512.0, 2048.0]
    assert energies[2] == pytest.approx(np.sum((frame[2] / 2**23) ** 2), rel=1e-5)
    assert voxaim.signal_energy(frame / 2**8, bits=16)[1] == 2048.0


def test_read_refuses_other_rates(work):
    import soundfile
    path = os.path.join(work, "44k.wav")
    soundfile.write(path, np.zeros((4096, 4)), 44100, subtype="PCM_16")
    with pytest.raises(ValueError, match="sample rate 44100 Hz"):
        voxaim.read(path)


def test_readme_example(tools, work):
    """The example of docs/tuning.md draws its figure from the engine's rows."""
    example = os.path.join(os.path.dirname(__file__), "..", "examples", "plot_talker.py")
    out = os.path.join(work, "example")
    os.makedirs(out)
    subprocess.run([sys.executable, example, tools["render"], out], check=True)
    import matplotlib.image
    image = matplotlib.image.imread(os.path.join(out, "talker-python.png"))
    assert image.shape[:2] == (400, 640) and image.std() > 0
