#!/usr/bin/env python3
"""Synthesizes the application's short sounds into WAV files (16-bit mono, 44.1 kHz).

    tools/sounds/make_sounds.py [OUTPUT_DIR]      (default: resources/sounds)

"camera click.wav": a mechanical shutter, two clicks 60 ms apart (the blades opening, then
closing a little softer). Each click is a very short noise burst ringing a few stiff
resonances (the metal parts) over a small low thump (the body of the camera).

"timer tick.wav": a soft wooden tick for a countdown, a damped tone with one overtone and a
touch of noise at its start.

Only the standard library is used, and the noise comes from a seeded generator, so running the
script again writes the same sounds.
"""

import math
import os
import random
import struct
import sys
import wave

RATE = 44100


def resonate(signal, frequency, decay):
    """Rings a two-pole resonator at frequency (Hz) whose ringing falls by 1/e in decay seconds."""
    r = math.exp(-1.0 / (decay * RATE))
    c1 = 2.0 * r * math.cos(2.0 * math.pi * frequency / RATE)
    c2 = -r * r
    gain = (1.0 - r * r) * 0.5  # keeps different decays at comparable loudness
    out, y1, y2 = [], 0.0, 0.0
    for x in signal:
        y = gain * x + c1 * y1 + c2 * y2
        out.append(y)
        y1, y2 = y, y1
    return out


def burst(rng, length, decay):
    """White noise under an exponential fall, with its lowest frequencies taken out."""
    noise = [rng.uniform(-1.0, 1.0) * math.exp(-i / (decay * RATE)) for i in range(length)]
    return [noise[0]] + [noise[i] - 0.6 * noise[i - 1] for i in range(1, length)]


def damped_tone(length, frequency, decay, attack=0.0004):
    out = []
    for i in range(length):
        t = i / RATE
        rise = min(1.0, t / attack) if attack > 0 else 1.0
        out.append(rise * math.exp(-t / decay) * math.sin(2.0 * math.pi * frequency * t))
    return out


def mix(into, sound, at, level):
    for i, v in enumerate(sound):
        if at + i < len(into):
            into[at + i] += level * v


def normalise(samples, peak, fade=0.004):
    top = max(abs(v) for v in samples) or 1.0
    out = [v * peak / top for v in samples]
    n = int(fade * RATE)
    for i in range(min(n, len(out))):
        out[-1 - i] *= i / n
    return out


def click(rng, length, brightness):
    """One blade movement: noise exciting metal resonances, plus the sharp edge of the noise."""
    excitation = burst(rng, length, 0.0018)
    out = [0.0] * length
    for frequency, decay, level in ((2350.0, 0.006, 1.0), (3720.0, 0.0045, 0.8),
                                    (5530.0, 0.003, 0.55 * brightness), (1180.0, 0.009, 0.5)):
        mix(out, resonate(excitation, frequency, decay), 0, level)
    top = max(abs(v) for v in out)
    mix(out, excitation, 0, 0.35 * brightness * top)
    mix(out, damped_tone(length, 160.0, 0.012, 0.001), 0, 0.45 * top)
    return out


def camera_click():
    rng = random.Random(20240131)
    length = int(0.15 * RATE)
    out = [0.0] * length
    first = click(rng, int(0.07 * RATE), 1.0)
    second = click(rng, int(0.07 * RATE), 0.7)
    mix(out, first, int(0.002 * RATE), 1.0)
    mix(out, second, int(0.062 * RATE), 0.75)
    # A faint rattle of the spring between the two.
    mix(out, burst(rng, int(0.05 * RATE), 0.012), int(0.006 * RATE), 0.02)
    return normalise(out, 0.72)


def timer_tick():
    rng = random.Random(7)
    length = int(0.07 * RATE)
    out = [0.0] * length
    mix(out, damped_tone(length, 1320.0, 0.011), 0, 1.0)
    mix(out, damped_tone(length, 2970.0, 0.005), 0, 0.35)
    mix(out, burst(rng, int(0.004 * RATE), 0.0006), 0, 0.25)
    return normalise(out, 0.5)


def write_wav(path, samples):
    frames = b"".join(struct.pack("<h", max(-32767, min(32767, round(v * 32767))))
                      for v in samples)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(frames)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "resources",
                                                                  "sounds")
    os.makedirs(folder, exist_ok=True)
    for name, samples in (("camera click.wav", camera_click()), ("timer tick.wav", timer_tick())):
        path = os.path.join(folder, name)
        write_wav(path, samples)
        print(f"{os.path.normpath(path)}: {len(samples) / RATE * 1000:.0f} ms")


if __name__ == "__main__":
    main()
