#!/usr/bin/env python3
"""Writes the program's sound clip: a soft two-note chime, 8,610 unsigned 8-bit mono samples at
11,025 Hz (about 0.78 s) in a plain RIFF WAVE file of 8,654 bytes.

Each note is a sine with a little of its octave, a short raised-cosine attack and an
exponential decay; the whole clip fades to exact silence at its end, so neither end clicks.
The output is deterministic: the file in the repository is this script's output, byte for byte.

    make_clip.py [output]     (default: Trimbolt64.wav next to this script)
"""

import math
import os
import struct
import sys

RATE = 11025
SAMPLES = 8610
PEAK = 0.42  # of full scale: a soft cue, not an alarm

# (start in seconds, frequency in Hz, loudness): G5 then C6, a rising fourth.
NOTES = [(0.000, 783.99, 1.00), (0.150, 1046.50, 0.85)]
ATTACK = 0.008
DECAY = 0.30  # time constant of the fall, seconds: the chime rings through the clip
FADE_OUT = 0.080


def sample_at(n):
    t = n / RATE
    value = 0.0
    for start, freq, loud in NOTES:
        local = t - start
        if local < 0:
            continue
        attack = 0.5 - 0.5 * math.cos(math.pi * min(local / ATTACK, 1.0))
        envelope = loud * attack * math.exp(-local / DECAY)
        phase = 2 * math.pi * freq * local
        value += envelope * (math.sin(phase) + 0.25 * math.sin(2 * phase))
    remaining = (SAMPLES - 1 - n) / RATE
    if remaining < FADE_OUT:
        value *= 0.5 - 0.5 * math.cos(math.pi * remaining / FADE_OUT)
    return value


def clip_bytes():
    raw = [sample_at(n) for n in range(SAMPLES)]
    scale = PEAK / max(abs(v) for v in raw)
    data = bytes(max(0, min(255, 128 + round(127 * v * scale))) for v in raw)
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE, 1, 8)  # PCM, mono, 8-bit
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "Trimbolt64.wav")
    with open(out, "wb") as f:
        f.write(clip_bytes())


if __name__ == "__main__":
    main()
