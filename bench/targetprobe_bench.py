#!/usr/bin/env python3
"""targetprobe on the stand-in, on a tree at the bounds of both searches.

The focused element and its five ancestors each fail all eight insertion queries (each holds a
text marker range but no editable ancestor), and below
the focus a tree of three children per element, four levels deep, holds more than enough
elements for the descendant search to take all 120 entries without finding one. Prints the
platform requests of one run, counted from the stand-in log, against the bound the searches
keep, then the median wall and CPU time per process over many runs, next to runs on the same
world that stop at the permission test (process start-up, the stand-in reading its scenario,
and exit).

    cmake --preset release && cmake --build --preset release -j2 --target targetprobe
    bench/targetprobe_bench.py build/release/targetprobe/targetprobe [--runs 200]
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

PLAIN = "AXStaticText"  # a role in no table: every query of the insertion test is asked
MARKER_RANGE = {"AXSelectedTextMarkerRange": {"attributedString": "marker range"}}
TESTS = 8
UPWARD_ELEMENTS = 6
ENTRIES_TAKEN = 120
BRANCHING = 3
TREE_DEPTH = 4  # 3 + 9 + 27 + 81 = 120 descendants, at least the 119 that get tested

EXPECTED_OUT = (b'{"canInsert":false,"reason":"no_editable_target","role":"' + PLAIN.encode()
                + b'","subrole":""}')


def ref(element_id):
    return {"element": element_id}


def worst_case_scenario():
    elements = {}
    chain = ["focus"] + [f"p{level}" for level in range(1, UPWARD_ELEMENTS + 1)]
    for level, element_id in enumerate(chain):
        attributes = {"AXRole": PLAIN, **MARKER_RANGE}
        if level + 1 < len(chain):
            attributes["AXParent"] = ref(chain[level + 1])
        elements[element_id] = {"attributes": attributes}

    def grow(parent_id, depth):
        if depth > TREE_DEPTH:
            return
        children = [f"{parent_id}.{i}" for i in range(BRANCHING)]
        elements[parent_id]["attributes"]["AXChildren"] = {"array": [ref(c) for c in children]}
        for child in children:
            elements[child] = {"attributes": {"AXRole": PLAIN, **MARKER_RANGE}}
            grow(child, depth + 1)

    grow("focus", 1)
    return {"trusted": True, "frontmostApplication": None,
            "systemWide": {"attributes": {"AXFocusedUIElement": ref("focus")}},
            "elements": elements}


def bound():
    fixed = 3  # trust, system-wide element, its focus read
    upward = UPWARD_ELEMENTS * TESTS + UPWARD_ELEMENTS  # tests and parent reads
    downward = 2 + (ENTRIES_TAKEN - 1) * TESTS + ENTRIES_TAKEN  # start's roles, tests, children
    record = 2  # role and subrole of the reported element
    return fixed, upward, downward, record


def run(program, scenario_path, log_path=None, prefix=()):
    """Standard output, standard error and wall seconds of one run."""
    env = dict(os.environ, STANDIN_SCENARIO=scenario_path)
    env.pop("STANDIN_LOG", None)
    if log_path:
        env["STANDIN_LOG"] = log_path
    start = time.perf_counter()
    result = subprocess.run([*prefix, program], env=env, capture_output=True)
    wall = time.perf_counter() - start
    if result.returncode != 0 or (result.stderr and not prefix):
        sys.exit(f"targetprobe failed ({result.returncode}): {result.stderr.decode()}")
    return result.stdout, result.stderr, wall


def peak_rss_kib(program, scenario_path):
    """GNU time reads the peak: a child forked from this interpreter would report the
    interpreter's own pages."""
    with tempfile.NamedTemporaryFile("r") as report:
        run(program, scenario_path, prefix=("/usr/bin/time", "-f", "%M", "-o", report.name))
        return int(report.read().split()[-1])


def timed_runs(program, scenario_path, runs):
    """Median wall and CPU (user + system) milliseconds per process."""
    walls, cpus = [], []
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        _, _, wall = run(program, scenario_path)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        walls.append(wall * 1000)
        cpus.append((after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000)
    return statistics.median(walls), statistics.median(cpus)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("targetprobe")
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        worst = os.path.join(folder, "worst.json")
        with open(worst, "w") as f:
            json.dump(worst_case_scenario(), f)
        untrusted = os.path.join(folder, "untrusted.json")
        with open(untrusted, "w") as f:
            # The same world, so that reading the scenario costs the same in both.
            json.dump(dict(worst_case_scenario(), trusted=False), f)

        log_path = os.path.join(folder, "log.jsonl")
        out, _, _ = run(args.targetprobe, worst, log_path)
        if out != EXPECTED_OUT:
            sys.exit(f"unexpected output: {out!r}")
        with open(log_path) as f:
            log = [json.loads(line) for line in f]
        requests = [r for r in log if r["op"] != "exit"]
        if [r["liveObjects"] for r in log if r["op"] == "exit"] != [0]:
            sys.exit("objects left alive")
        reads = {name: sum(1 for r in requests if r.get("attribute") == name)
                 for name in ("AXParent", "AXChildren", "AXRole")}
        fixed, upward, downward, record = bound()
        total = fixed + upward + downward + record
        print(f"worst-case tree: requests per run {len(requests)}, bound {total} "
              f"(fixed {fixed} + upward {upward} + downward {downward} + record {record})")
        print(f"  AXParent reads {reads['AXParent']} (at most {UPWARD_ELEMENTS}), "
              f"AXChildren reads {reads['AXChildren']} (at most {ENTRIES_TAKEN}), "
              f"AXRole reads {reads['AXRole']}")

        worst_wall, worst_cpu = timed_runs(args.targetprobe, worst, args.runs)
        base_wall, base_cpu = timed_runs(args.targetprobe, untrusted, args.runs)
        print(f"median of {args.runs} runs per process (no log):")
        print(f"  worst-case tree       wall {worst_wall:.3f} ms, CPU {worst_cpu:.3f} ms")
        print(f"  permission test only  wall {base_wall:.3f} ms, CPU {base_cpu:.3f} ms")
        print(f"  the searches' share   wall {worst_wall - base_wall:.3f} ms "
              f"({(worst_wall - base_wall) * 1000 / total:.2f} us per request)")
        print(f"  peak RSS of a worst-case run {peak_rss_kib(args.targetprobe, worst)} KiB")


if __name__ == "__main__":
    main()
