#!/usr/bin/env python3
"""When opuspipe's pages reach a host that feeds it speech in real time, by --max-delay.

Raw 16 kHz mono speech (espeak-ng) goes to opuspipe in 20 ms blocks at the pace of a
microphone; every page is timed as it arrives on the pipe. Per setting: when the header pages
came, the first four audio pages, the median and longest gap between audio pages while the
input flows, how many audio pages, and the bytes of the whole stream beside the default's.

    bench/opuspipe_latency.py build/release/opuspipe/opuspipe [--seconds 20] [--delays 1000,...]
"""
import argparse
import os
import selectors
import statistics
import subprocess
import sys
import tempfile
import time

from opuspipe_vs_opusenc import RATE, make_speech

BLOCK_BYTES = RATE * 2 // 50  # 20 ms of 16-bit mono
PAGE_HEADER_BYTES = 27


def pages_in(stream, start):
    """The granule position of each whole Ogg page from `start` on, and where the next page
    begins."""
    pages = []
    at = start
    while len(stream) >= at + PAGE_HEADER_BYTES:
        segments = stream[at + 26]
        header = PAGE_HEADER_BYTES + segments
        if len(stream) < at + header:
            break
        end = at + header + sum(stream[at + PAGE_HEADER_BYTES:at + header])
        if len(stream) < end:
            break
        pages.append(int.from_bytes(stream[at + 6:at + 14], "little", signed=True))
        at = end
    return pages, at


def run(opuspipe, arguments, pcm):
    """Arrival time of every page (seconds after the first block), its granule position, and
    the bytes of the stream."""
    process = subprocess.Popen([opuspipe] + arguments, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE)
    out = process.stdout.fileno()
    os.set_blocking(out, False)
    selector = selectors.DefaultSelector()
    selector.register(out, selectors.EVENT_READ)
    stream = bytearray()
    parsed = 0
    arrivals = []

    def receive(until=None):
        """Takes in pages until the time given, or without one until the stream ends."""
        nonlocal parsed
        while True:
            left = None if until is None else until - time.perf_counter()
            if left is not None and left <= 0:
                return
            if not selector.select(left):
                continue
            try:
                data = os.read(out, 1 << 16)
            except BlockingIOError:
                continue
            if not data:
                return
            stream.extend(data)
            now = time.perf_counter() - start
            pages, parsed = pages_in(stream, parsed)
            arrivals.extend((now, granule) for granule in pages)

    start = time.perf_counter()
    for tick, offset in enumerate(range(0, len(pcm), BLOCK_BYTES)):
        receive(start + tick / 50)
        process.stdin.write(pcm[offset:offset + BLOCK_BYTES])
        process.stdin.flush()
    process.stdin.close()
    receive()
    if process.wait() != 0:
        sys.exit(f"opuspipe {' '.join(arguments)} failed")
    return arrivals, len(stream)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("opuspipe")
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--delays", default="1000,500,200,100")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        with open(make_speech(folder, -(-args.seconds // 60)), "rb") as f:
            pcm = f.read()[: args.seconds * RATE * 2]
    settings = [("default", [])] + [(f"--max-delay {ms}", ["--max-delay", ms])
                                    for ms in args.delays.split(",")]
    print(f"opuspipe fed {args.seconds} s of 16 kHz mono speech (espeak-ng) in 20 ms blocks in "
          f"real time; seconds after the first block")
    print(f"  {'setting':16} {'headers':>7}  {'first audio pages at':23} {'gap med':>7} "
          f"{'gap max':>7} {'pages':>5} {'bytes':>6} {'vs default':>10}")
    default_bytes = None
    for name, arguments in settings:
        arrivals, size = run(args.opuspipe, arguments, pcm)
        headers = [t for t, granule in arrivals if granule == 0]
        audio = [t for t, granule in arrivals if granule > 0]
        # Pages that come in the drain, after the last block, say nothing about the pace.
        live = [t for t in audio if t < args.seconds]
        gaps = [b - a for a, b in zip(live, live[1:])] or [float("nan")]
        default_bytes = default_bytes or size
        first = " ".join(f"{t:.2f}" for t in audio[:4])
        print(f"  {name:16} {max(headers):7.2f}  {first:23} {statistics.median(gaps):7.2f} "
              f"{max(gaps):7.2f} {len(audio):5} {size:6} {(size / default_bytes - 1) * 100:+9.1f}%")


if __name__ == "__main__":
    main()
