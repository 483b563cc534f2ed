#!/usr/bin/env python3
"""opuspipe across the sample rates it takes (8 to 768 kHz).

Every rate at the ends of the range and a spread inside it, with every frame size, both channel
counts and inputs of no bytes, one sample per channel, one frame of the chosen size and 3 s: each
run must end with status 0 and nothing on standard error, and opusinfo must accept its stream
(status 0, no warning or error, the playback length of the input). Then the CPU time opuspipe
takes per second of audio at each rate (3 s of mono audio at the default settings, best of 3):
nearly flat across the usual rates and their multiples, growing with the rate for rates that
share few factors with 48 kHz. Run it with the asan build for the checks and with the
release build for the times:

    bench/opuspipe_rates.py build/asan/opuspipe/opuspipe
    bench/opuspipe_rates.py build/release/opuspipe/opuspipe
"""
import argparse
import math
import os
import re
import resource
import struct
import subprocess
import sys
import tempfile

RATES = [8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000, 176400,
         192000, 384000, 768000]
FRAME_SIZES = {"2": 2.5, "5": 5, "10": 10, "20": 20, "40": 40, "60": 60}
SECONDS = 3


def tone(rate, channels, frames):
    """A chord, one sine per channel, as 16-bit little-endian PCM."""
    samples = []
    for i in range(frames):
        for c in range(channels):
            samples.append(int(8000 * math.sin(2 * math.pi * (440 + 220 * c) * i / rate)))
    return struct.pack("<%dh" % len(samples), *samples)


def playback_seconds(info):
    found = re.search(r"Playback length: (\d+)m:(\d+\.\d+)s", info)
    return None if found is None else int(found.group(1)) * 60 + float(found.group(2))


def check(opuspipe, folder):
    """Every combination; returns the failures as lines."""
    failures = []
    runs = 0
    stream = os.path.join(folder, "out.opus")
    for rate in RATES:
        long_inputs = {c: tone(rate, c, rate * SECONDS) for c in (1, 2)}
        for size, milliseconds in FRAME_SIZES.items():
            for channels in (1, 2):
                frame = int(rate * milliseconds / 1000)
                inputs = {"0 bytes": b"", "1 sample": long_inputs[channels][: 2 * channels],
                          "1 frame": long_inputs[channels][: 2 * channels * frame],
                          "3 s": long_inputs[channels]}
                for name, pcm in inputs.items():
                    runs += 1
                    what = f"rate {rate}, frame {size}, {channels} ch, {name}"
                    with open(stream, "wb") as out:
                        done = subprocess.run(
                            [opuspipe, "--sample-rate", str(rate), "--channels", str(channels),
                             "--frame-size", size], input=pcm, stdout=out,
                            stderr=subprocess.PIPE)
                    if done.returncode != 0 or done.stderr:
                        failures.append(f"{what}: status {done.returncode} "
                                        f"{done.stderr.decode(errors='replace').strip()}")
                        continue
                    report = subprocess.run(["opusinfo", stream], capture_output=True, text=True)
                    info = report.stdout + report.stderr
                    expected = len(pcm) // (2 * channels) / rate
                    length = playback_seconds(info)
                    if (report.returncode != 0 or re.search(r"WARNING|ERROR", info) or
                            length is None or abs(length - expected) > 0.0015):
                        failures.append(f"{what}: opusinfo says\n{info}")
    return runs, failures


# Rates that share few factors with 48 kHz make the resampler interpolate: its cost grows with
# the rate.
ODD_RATES = [44101, 96001, 384001, 767999]


def cpu_per_audio_second(opuspipe, folder):
    """Rate -> CPU milliseconds per second of audio, best of three runs."""
    results = {}
    for rate in RATES + ODD_RATES:
        path = os.path.join(folder, "in.raw")
        with open(path, "wb") as f:
            f.write(tone(rate, 1, rate * SECONDS))
        best = math.inf
        for _ in range(3):
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            with open(path, "rb") as stdin:
                subprocess.run([opuspipe, "--sample-rate", str(rate)], stdin=stdin,
                               stdout=subprocess.DEVNULL, check=True)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
            best = min(best, cpu)
        results[rate] = 1000 * best / SECONDS
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("opuspipe")
    opuspipe = os.path.abspath(parser.parse_args().opuspipe)
    with tempfile.TemporaryDirectory() as folder:
        runs, failures = check(opuspipe, folder)
        for failure in failures:
            print("FAILED", failure)
        print(f"{runs} runs ({len(RATES)} rates x {len(FRAME_SIZES)} frame sizes x 2 channel "
              f"counts x 4 inputs): {runs - len(failures)} gave status 0 and a stream opusinfo "
              f"accepts")
        print(f"CPU ms per second of audio, {SECONDS} s mono at 16 kbit/s, 20 ms frames, best of 3:")
        times = cpu_per_audio_second(opuspipe, folder)
        for rate, milliseconds in times.items():
            note = "  (few factors shared with 48 kHz)" if rate in ODD_RATES else ""
            print(f"  {rate:>7} Hz  {milliseconds:7.2f}{note}")
        usual = [times[rate] for rate in RATES]
        print(f"  highest / lowest at the usual rates and their multiples: "
              f"{max(usual) / min(usual):.2f}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
