#!/usr/bin/env python3
"""The comparison of opuspipe_vs_opusenc.py on shorter input, to fit in scripts/bench.

opuspipe and opusenc (opus-tools) on the same raw 16 kHz mono speech at equal settings: median
wall and CPU time of alternating runs and their ratio, peak resident memory for a short and a
longer input, and the delay of opuspipe's first audio page on real-time-paced input.

    bench/opuspipe_vs_opusenc_short.py build/release/opuspipe/opuspipe [--runs 3] [--minutes 2]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from opuspipe_vs_opusenc import RATE, first_audio_page_delay, make_speech, timed, to_24_bit


def wall_and_cpu(command, input_path):
    """Wall and CPU (user + system) seconds of one run, output discarded."""
    actions = [(os.POSIX_SPAWN_OPEN, 0, input_path, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    program = shutil.which(command[0])
    if not program:
        sys.exit(f"{command[0]} not found")
    start = time.perf_counter()
    pid = os.posix_spawn(program, command, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{command[0]} failed")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("opuspipe")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--minutes", type=int, default=2)
    parser.add_argument("--long-minutes", type=int, default=10)
    args = parser.parse_args()
    # The settings of opuspipe_vs_opusenc.py.
    opuspipe = [args.opuspipe, "--sample-rate", str(RATE), "--channels", "1", "--bitrate", "16000",
                "--vbr", "true", "--signal", "voice", "--frame-size", "20"]
    opusenc = ["opusenc", "--quiet", "--raw", "--raw-rate", str(RATE), "--raw-chan", "1",
               "--bitrate", "16", "--vbr", "--speech", "--framesize", "20", "-", "-"]
    # opusenc tells the codec its input has 16 significant bits (OPUS_SET_LSB_DEPTH), which
    # opuspipe does not; on 24-bit input both run at the codec's default.
    opusenc24 = opusenc[:2] + ["--raw-bits", "24"] + opusenc[2:]
    version = subprocess.run(["opusenc", "--version"], capture_output=True, text=True)
    print(f"opuspipe against {version.stdout.splitlines()[0]}: raw 16 kHz mono speech "
          f"(espeak-ng, repeated), both at 16 kbit/s VBR, voice, 20 ms frames, output discarded")

    with tempfile.TemporaryDirectory() as folder:
        short = make_speech(folder, args.minutes)
        short24 = to_24_bit(short)
        commands = {"opuspipe": (opuspipe, short), "opusenc": (opusenc, short),
                    "opusenc, 24-bit input": (opusenc24, short24)}
        walls = {name: [] for name in commands}
        cpus = {name: [] for name in commands}
        for _ in range(args.runs):  # alternate, so drift hits all alike
            for name, (command, path) in commands.items():
                wall, cpu = wall_and_cpu(command, path)
                walls[name].append(wall)
                cpus[name].append(cpu)
        wall = {name: statistics.median(values) for name, values in walls.items()}
        cpu = {name: statistics.median(values) for name, values in cpus.items()}
        title = f"{args.minutes} min of speech, median of {args.runs} alternating runs"
        print(f"  {title:48} {'wall s':>7} {'CPU s':>7}")
        for name in commands:
            print(f"    {name:46} {wall[name]:7.3f} {cpu[name]:7.3f}")
        print(f"  opusenc / opuspipe: {wall['opusenc'] / wall['opuspipe']:.2f} wall, "
              f"{cpu['opusenc'] / cpu['opuspipe']:.2f} CPU on 16-bit input; "
              f"{wall['opusenc, 24-bit input'] / wall['opuspipe']:.2f} wall, "
              f"{cpu['opusenc, 24-bit input'] / cpu['opuspipe']:.2f} CPU at equal LSB depth "
              f"(above 1: opuspipe is faster)")

        long = make_speech(folder, args.long_minutes)
        for name, command in (("opuspipe", opuspipe), ("opusenc", opusenc)):
            print(f"  peak RSS {name + ':':9} {timed(command, short)[1]} KiB ({args.minutes} min), "
                  f"{timed(command, long)[1]} KiB ({args.long_minutes} min)")

    print(f"  opuspipe's first audio page after {first_audio_page_delay(args.opuspipe):.2f} s "
          f"of real-time input")


if __name__ == "__main__":
    main()
