#!/usr/bin/env python3
"""Builds the two built-in clips of voxaim_unittest from the ALSA test sounds.

The clips are one second each (48000 samples at 48000 Hz) in the integer
scale of a 24-bit converter (full scale +-8388608), stored as C++ float
arrays in functional/audio/voxaim/cmod/track/unittestClips.cpp:

femaleSpeech (clip 0), from the female talker recordings
  /usr/share/sounds/alsa/{Front_Center,Front_Left,Front_Right,Rear_Center,
  Rear_Left,Rear_Right,Side_Left,Side_Right}.wav (48 kHz, 16-bit mono):
  1. each file is cut into 10 ms blocks; blocks whose RMS is below
     SPEECH_GATE_DB relative to the loudest block of that file are pauses and
     are dropped, the remaining blocks are joined in order (files in the
     order above), every joint smoothed by a JOIN_FADE-sample cross-fade;
  2. the window of 48000 samples starting at SPEECH_START is taken;
  3. a white Gaussian noise floor at NOISE_FLOOR_DB relative to the window's
     RMS is added (the room and microphone noise of a real recording chain),
     drawn from Python's Mersenne Twister seeded with SEED (Box-Muller);
  4. the sum is scaled to an RMS of SPEECH_RMS and rounded to single
     precision (values are not whole numbers).

roomNoise (clip 1), from /usr/share/sounds/alsa/Noise.wav:
  1. samples NOISE_START ... NOISE_START + 48000 + LOOP_FADE - 1 are taken;
     the first LOOP_FADE samples are cross-faded (raised cosine) with the
     LOOP_FADE samples that follow the one-second window, so the clip loops
     without a step;
  2. the result is scaled to an RMS of NOISE_RMS;
  3. the device's own ultrasound beacon, which no ordinary recording
     carries, is modelled as a BEACON_HZ sine of amplitude BEACON_AMPLITUDE:
     21000 cycles in 48000 samples, so it too loops without a click;
  4. every sample is rounded to a whole number.

Usage:
  make_clips.py [--sounds DIR] [--output FILE]   writes the C++ source
  make_clips.py [--sounds DIR] --check FILE      exit 0 when FILE is what this
                                                 script writes, 1 when not,
                                                 77 (skip) without the WAV files
Only the Python standard library is used, so the output is reproducible.
"""

import functools
import math
import os
import random
import struct
import sys
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
import scripttest  # noqa: E402

CLIP_LENGTH = 48000
RATE = 48000

SPEECH_FILES = ["Front_Center", "Front_Left", "Front_Right", "Rear_Center",
                "Rear_Left", "Rear_Right", "Side_Left", "Side_Right"]
NOISE_FILE = "Noise"

# The recording chain (see the module text).
SPEECH_GATE_DB = -30.0
JOIN_FADE = 48
SPEECH_START = 117000
NOISE_FLOOR_DB = -0.75
SEED = 20261208
SPEECH_RMS = 578000.0
HIGHPASS_HZ = 0.0
LOWPASS_HZ = 7000.0
REVERB_RT60 = 0.3
REVERB_MIX = 0.0

NOISE_START = 0
LOOP_FADE = 4800
NOISE_RMS = 53000.0
BEACON_HZ = 21000
BEACON_AMPLITUDE = 203000.0

DEFAULT_SOUNDS = "/usr/share/sounds/alsa"
OUTPUT = "functional/audio/voxaim/cmod/track/unittestClips.cpp"


def read_wav(path):
    with wave.open(path, "rb") as w:
        if w.getnchannels() != 1 or w.getsampwidth() != 2 or w.getframerate() != RATE:
            raise SystemExit(f"{path}: expected 48 kHz 16-bit mono")
        n = w.getnframes()
        return list(struct.unpack(f"<{n}h", w.readframes(n)))


def rms(x):
    return math.sqrt(sum(v * v for v in x) / len(x))


def voiced(samples, gate_db, block=480):
    """The blocks of `samples` louder than gate_db below the loudest block."""
    blocks = [samples[i:i + block] for i in range(0, len(samples) - block + 1, block)]
    levels = [rms(b) for b in blocks]
    threshold = max(levels) * 10.0 ** (gate_db / 20.0)
    return [b for b, level in zip(blocks, levels) if level >= threshold]


def join(pieces, fade):
    out = []
    for piece in pieces:
        piece = [float(v) for v in piece]
        if out and fade > 0:
            for i in range(fade):
                w = (i + 0.5) / fade
                out[len(out) - fade + i] = out[len(out) - fade + i] * (1.0 - w) + piece[i] * w
            piece = piece[fade:]
        out.extend(piece)
    return out


def biquad(x, kind, hz):
    w = 2.0 * math.pi * hz / RATE
    alpha = math.sin(w) / (2.0 * 0.7071067811865476)
    c = math.cos(w)
    if kind == "low":
        b = [(1.0 - c) / 2.0, 1.0 - c, (1.0 - c) / 2.0]
    else:
        b = [(1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0]
    a0, a1, a2 = 1.0 + alpha, -2.0 * c, 1.0 - alpha
    b0, b1, b2 = (v / a0 for v in b)
    a1, a2 = a1 / a0, a2 / a0
    out, x1, x2, y1, y2 = [], 0.0, 0.0, 0.0, 0.0
    for v in x:
        y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        x2, x1, y2, y1 = x1, v, y1, y
        out.append(y)
    return out


def schroeder(x, rt60, mix):
    wet = [0.0] * len(x)
    for d in (1687, 1601, 1491, 1422):
        g = 10.0 ** (-3.0 * d / (rt60 * RATE))
        buf = [0.0] * len(x)
        for i, v in enumerate(x):
            buf[i] = v + (g * buf[i - d] if i >= d else 0.0)
        for i in range(len(x)):
            wet[i] += 0.25 * buf[i]
    for d in (347, 113):
        out = [0.0] * len(x)
        for i, v in enumerate(wet):
            delayed_in = wet[i - d] if i >= d else 0.0
            delayed_out = out[i - d] if i >= d else 0.0
            out[i] = -0.7 * v + delayed_in + 0.7 * delayed_out
        wet = out
    return [(1.0 - mix) * v + mix * w for v, w in zip(x, wet)]


@functools.lru_cache(maxsize=8)
def chain_speech(sounds, gate_db, fade, highpass, lowpass, rt60, mix):
    """The joined speech through the optional band limits and reverberation."""
    speech = list(joined_speech(sounds, gate_db, fade))
    if highpass > 0:
        speech = biquad(speech, "high", highpass)
    if lowpass > 0:
        speech = biquad(speech, "low", lowpass)
    if mix > 0:
        speech = schroeder(speech, rt60, mix)
    return tuple(speech)


@functools.lru_cache(maxsize=4)
def gauss_noise(n, seed):
    rng = random.Random(seed)
    out = []
    while len(out) < n:
        u1 = 1.0 - rng.random()
        u2 = rng.random()
        r = math.sqrt(-2.0 * math.log(u1))
        out.append(r * math.cos(2.0 * math.pi * u2))
        out.append(r * math.sin(2.0 * math.pi * u2))
    return tuple(out[:n])


def to_float32(v):
    return struct.unpack("<f", struct.pack("<f", v))[0]


@functools.lru_cache(maxsize=8)
def joined_speech(sounds, gate_db, fade):
    """The talker files without their pauses, joined in order."""
    pieces = []
    for name in SPEECH_FILES:
        # Consecutive voiced blocks of one file stay joined without a fade.
        blocks = voiced(read_wav(os.path.join(sounds, name + ".wav")), gate_db)
        pieces.append([v for b in blocks for v in b])
    return tuple(join(pieces, fade))


def female_speech(sounds, p):
    speech = chain_speech(sounds, p["SPEECH_GATE_DB"], p["JOIN_FADE"], p["HIGHPASS_HZ"],
                          p["LOWPASS_HZ"], p["REVERB_RT60"], p["REVERB_MIX"])
    start = p["SPEECH_START"]
    if start + CLIP_LENGTH > len(speech):
        raise SystemExit(f"speech window {start} + {CLIP_LENGTH} beyond {len(speech)} samples")
    window = list(speech[start:start + CLIP_LENGTH])
    floor = gauss_noise(CLIP_LENGTH, p["SEED"])
    floor_gain = rms(window) * 10.0 ** (p["NOISE_FLOOR_DB"] / 20.0)
    mixed = [s + floor_gain * f for s, f in zip(window, floor)]
    gain = p["SPEECH_RMS"] / rms(mixed)
    return [to_float32(v * gain) for v in mixed]


def room_noise(sounds, p):
    noise = [float(v) for v in read_wav(os.path.join(sounds, NOISE_FILE + ".wav"))]
    start, fade = p["NOISE_START"], p["LOOP_FADE"]
    if start + CLIP_LENGTH + fade > len(noise):
        raise SystemExit("noise window beyond Noise.wav")
    clip = noise[start:start + CLIP_LENGTH]
    for i in range(fade):
        w = 0.5 - 0.5 * math.cos(math.pi * (i + 0.5) / fade)
        clip[i] = clip[i] * w + noise[start + CLIP_LENGTH + i] * (1.0 - w)
    gain = p["NOISE_RMS"] / rms(clip)
    out = []
    for k, v in enumerate(clip):
        beacon = p["BEACON_AMPLITUDE"] * math.sin(2.0 * math.pi * p["BEACON_HZ"] * k / RATE)
        out.append(float(round(v * gain + beacon)))
    return out


def parameters(**overrides):
    p = {k: v for k, v in globals().items() if k.isupper()}
    p.update(overrides)
    return p


def format_float(v):
    for digits in range(6, 10):
        text = f"{v:.{digits}g}"
        if to_float32(float(text)) == v:
            break
    if "." not in text and "e" not in text:
        text += ".0"
    return text + "f"


def array_text(name, values):
    lines = [f"const float {name}[UNITTEST_CLIP_LENGTH] = {{"]
    for i in range(0, len(values), 8):
        lines.append("    " + ", ".join(format_float(v) for v in values[i:i + 8]) + ",")
    lines.append("};")
    return "\n".join(lines)


def source_text(speech, noise):
    return "\n".join([
        "// The built-in clips of voxaim_unittest: one second of female speech and one",
        "// second of room noise (with the device's ultrasound beacon) at 48000 Hz, in",
        "// the 24-bit integer scale. Generated by tools/clips/make_clips.py from the",
        "// ALSA test sounds; do not edit by hand.",
        '#include "functional/audio/voxaim/cmod/track/unittestGenerator.h"',
        "",
        'extern "C" {',
        "",
        array_text("femaleSpeech", speech),
        "",
        array_text("roomNoise", noise),
        "",
        '}  // extern "C"',
        "",
    ])


def options(parser):
    parser.add_argument("--sounds", default=DEFAULT_SOUNDS)
    parser.add_argument("--output")
    parser.add_argument("--check")


def main():
    args = scripttest.arguments(extra=options, checks=True)
    missing = [n for n in SPEECH_FILES + [NOISE_FILE]
               if not os.path.exists(os.path.join(args.sounds, n + ".wav"))]
    if missing:
        print(f"make_clips: skipped: {args.sounds} lacks {', '.join(missing)}.wav"
              " (package alsa-utils)")
        return scripttest.SKIPPED if args.check else 1
    p = parameters()
    text = source_text(female_speech(args.sounds, p), room_noise(args.sounds, p))
    if args.check:
        t = scripttest.Failures()
        with open(args.check) as f:
            t.check(f.read() == text, f"make_clips: {args.check} is what this script builds")
        t.finish()
    out = args.output or OUTPUT
    with open(out, "w") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
