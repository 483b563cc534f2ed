#!/usr/bin/env python3
"""opuspipe against opusenc (opus-tools) on the same speech, at equal settings.

Prints the wall-time ratio (opusenc / opuspipe: 1.0 or more means opuspipe is at least as
fast), the peak resident memory of each for 10 and 60 minutes of input, and how long after
the start of a real-time-paced input the first audio page arrives.

    bench/opuspipe_vs_opusenc.py build/release/opuspipe/opuspipe [--runs N]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

RATE = 16000
TEXT = ("The quick brown fox jumps over the lazy dog. Voice typing turns speech into text "
        "while you talk, so every page of audio has to reach the recogniser without delay. ")


def make_speech(folder, minutes):
    """Raw 16 kHz mono speech of the given length, from espeak-ng and sox."""
    wav = os.path.join(folder, "speech.wav")
    raw = os.path.join(folder, "speech-once.raw")
    subprocess.run(["espeak-ng", "-w", wav, TEXT * 4], check=True)
    subprocess.run(["sox", "-V1", wav, "-r", str(RATE), "-c", "1", "-b", "16", "-e", "signed",
                    "-t", "raw", raw], check=True)
    with open(raw, "rb") as f:
        once = f.read()
    wanted = minutes * 60 * RATE * 2
    path = os.path.join(folder, f"speech-{minutes}min.raw")
    with open(path, "wb") as f:
        written = 0
        while written < wanted:
            chunk = once[: wanted - written]
            f.write(chunk)
            written += len(chunk)
    return path


def timed(command, input_path):
    """Wall seconds and peak resident KiB of one run, output discarded. GNU time reads the
    peak: a child forked from this interpreter would report the interpreter's own pages."""
    with tempfile.NamedTemporaryFile("r") as report:
        with open(input_path, "rb") as stdin, open(os.devnull, "wb") as stdout:
            start = time.perf_counter()
            result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                    stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
            seconds = time.perf_counter() - start
        if result.returncode != 0:
            sys.exit(f"{command[0]} failed: {result.stderr.decode()}")
        return seconds, int(report.read().split()[-1])


def to_24_bit(path):
    """The same audio as 24-bit samples, for opusenc at opuspipe's LSB depth."""
    out = path.replace(".raw", "-24bit.raw")
    subprocess.run(["sox", "-t", "raw", "-r", str(RATE), "-c", "1", "-b", "16", "-e", "signed",
                    path, "-t", "raw", "-b", "24", "-e", "signed", out], check=True)
    return out


def first_audio_page_delay(opuspipe):
    """Seconds from the start of real-time input to the first page carrying audio."""
    process = subprocess.Popen([opuspipe], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    os.set_blocking(process.stdout.fileno(), False)
    chunk = bytes(RATE * 2 // 50)  # 20 ms; silence encodes into pages like speech
    start = time.perf_counter()
    received = b""
    try:
        for tick in range(50 * 30):  # at most 30 s
            target = start + tick / 50
            time.sleep(max(0.0, target - time.perf_counter()))
            process.stdin.write(chunk)
            process.stdin.flush()
            try:
                received += process.stdout.read() or b""
            except BlockingIOError:
                pass
            if audio_page_seen(received):
                return time.perf_counter() - start
        return float("nan")
    finally:
        process.kill()
        process.wait()


def audio_page_seen(stream):
    """Whether the stream holds an Ogg page past the headers (granule position above 0)."""
    at = 0
    while True:
        at = stream.find(b"OggS", at)
        if at < 0 or len(stream) < at + 27:
            return False
        granule = int.from_bytes(stream[at + 6:at + 14], "little", signed=True)
        if granule > 0:
            return True
        at += 4


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("opuspipe")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    opuspipe = [args.opuspipe, "--sample-rate", str(RATE), "--channels", "1", "--bitrate", "16000",
                "--vbr", "true", "--signal", "voice", "--frame-size", "20"]
    opusenc = ["opusenc", "--quiet", "--raw", "--raw-rate", str(RATE), "--raw-chan", "1",
               "--bitrate", "16", "--vbr", "--speech", "--framesize", "20", "-", "-"]

    with tempfile.TemporaryDirectory() as folder:
        ten = make_speech(folder, 10)
        ten24 = to_24_bit(ten)
        # opusenc tells the codec its input has 16 significant bits (OPUS_SET_LSB_DEPTH), a
        # setting opuspipe does not make; on 24-bit input both run at the codec's default.
        opusenc24 = opusenc[:2] + ["--raw-bits", "24"] + opusenc[2:]
        times = {"opuspipe": [], "opusenc": [], "opusenc-24bit": []}
        for _ in range(args.runs):  # alternate, so drift hits all alike
            times["opuspipe"].append(timed(opuspipe, ten)[0])
            times["opusenc"].append(timed(opusenc, ten)[0])
            times["opusenc-24bit"].append(timed(opusenc24, ten24)[0])
        median = {name: statistics.median(values) for name, values in times.items()}
        print(f"10 min of 16 kHz mono speech, median of {args.runs} alternating runs:")
        for name, seconds in median.items():
            print(f"  {name:14} {seconds:.3f} s")
        pipe = median["opuspipe"]
        print(f"  ratio opusenc/opuspipe {median['opusenc'] / pipe:.3f} (16-bit input)")
        print(f"  ratio opusenc/opuspipe {median['opusenc-24bit'] / pipe:.3f} (equal LSB depth)")

        sixty = make_speech(folder, 60)
        for name, command in (("opuspipe", opuspipe), ("opusenc", opusenc)):
            small = timed(command, ten)[1]
            large = timed(command, sixty)[1]
            print(f"  peak RSS {name}: {small} KiB (10 min), {large} KiB (60 min)")

    print(f"first audio page after {first_audio_page_delay(args.opuspipe):.2f} s of real-time input")


if __name__ == "__main__":
    main()
