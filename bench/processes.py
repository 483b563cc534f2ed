#!/usr/bin/env python3
"""Every program run as the host runs it, one process per run, on the Linux stand-in.

For each program on representative scenarios (the examples, a keyboard session of many events,
and trees at the bounds of the fieldscan and targetprobe searches) prints the median wall and
CPU (user + system) time of a whole process over many runs, and the platform requests of one
run counted from the stand-in log: accessibility requests (attribute reads and settable
tests), UCKeyTranslate calls and posted events. Timed runs go without the log, output to
/dev/null; each process is spawned directly (posix_spawn, wait4), no shell.

    bench/processes.py build/release [--runs 200]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import targetprobe_bench

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(ROOT, "examples")
KEYWATCH_EVENTS = 1000
COMMAND, SHIFT = 0x100000, 0x20000


def keywatch_session(events):
    """`events` scripted events, a cycle of ten: right Command alone (a shortcut), Command+Shift+V
    (a shortcut), then a plain key."""
    cycle = [
        {"type": "flagsChanged", "keyCode": 54, "flags": COMMAND},
        {"type": "flagsChanged", "keyCode": 54, "flags": 0},
        {"type": "flagsChanged", "keyCode": 55, "flags": COMMAND},
        {"type": "flagsChanged", "keyCode": 56, "flags": COMMAND | SHIFT},
        {"type": "keyDown", "keyCode": 9, "flags": COMMAND | SHIFT},
        {"type": "keyUp", "keyCode": 9, "flags": COMMAND | SHIFT},
        {"type": "flagsChanged", "keyCode": 56, "flags": COMMAND},
        {"type": "flagsChanged", "keyCode": 55, "flags": 0},
        {"type": "keyDown", "keyCode": 0, "flags": 0},
        {"type": "keyUp", "keyCode": 0, "flags": 0},
    ]
    scripted = [dict(cycle[i % len(cycle)], advance=0.05) for i in range(events)]
    return {"keyboard": {"events": scripted}}


# The page of bench/fieldscan_bench.cpp (keep the two alike): a web area whose subtree goes
# deeper than the seven levels walked, with more distinct long texts than the line limit.
PAGE_LEVELS, BRANCHING, TEXT_BYTES, TOOLBAR_BUTTONS, LINE_LIMIT = 8, 2, 1000, 8, 120
ANCESTORS_SEARCHED = 20  # fieldscan's steps up from the focus to its page


def fieldscan_page_at_the_bounds():
    def ref(element_id):
        return {"element": element_id}

    def element(role, attributes):
        return {"attributes": dict(attributes, AXRole=role)}

    def long_text(lead):
        text = lead
        while len(text.encode()) < TEXT_BYTES:
            text += " caf\u00e9 na\u00efve r\u00e9sum\u00e9 \u2014 the quick brown fox jumps"
        return text

    elements = {}
    index = 0

    def add_page(element_id, depth):
        nonlocal index
        attributes = {
            "AXTitle": long_text("Heading " + element_id),
            "AXDescription": long_text("Note " + element_id if index % 4 == 3
                                       else "Shared navigation"),
            "AXValue": ("\n  " + long_text("Value " + element_id) + " \t") if index % 3 == 0
            else " "}
        index += 1
        if depth + 1 < PAGE_LEVELS:
            children = []
            for i in range(BRANCHING):
                child = f"{element_id}.{i}"
                add_page(child, depth + 1)
                children.append(ref(child))
            attributes["AXChildren"] = {"array": children}
        if depth == 0:
            del attributes["AXValue"]  # the page text is gathered
        elements[element_id] = element("AXWebArea" if depth == 0 else "AXGroup", attributes)

    add_page("page", 0)
    buttons = []
    for i in range(TOOLBAR_BUTTONS):
        elements[f"button{i}"] = element("AXButton", {"AXTitle": "Back"})
        buttons.append(ref(f"button{i}"))
    elements["toolbar"] = element("AXToolbar", {"AXChildren": {"array": buttons}})
    elements["content"] = element("AXGroup", {"AXChildren": {"array": [ref("page")]}})
    elements["window"] = element("AXWindow", {
        "AXChildren": {"array": [ref("toolbar"), ref("content")]}})
    elements["field"] = {"attributes": {"AXRole": "AXTextField", "AXValue": "draft",
                                        "AXSelectedText": "Heading page.1.0.0.1.0 cafe\u0301"},
                         "settable": {"AXValue": True}}
    return {"trusted": True,
            "frontmostApplication": {"pid": 501, "bundleIdentifier": "com.apple.Safari"},
            "applications": {"501": {"attributes": {"AXFocusedUIElement": ref("field"),
                                                    "AXFocusedWindow": ref("window")}}},
            "elements": elements}


def fieldscan_request_bound():
    system_wide = 2  # the system-wide element and its focus, which names none on this page
    fixed = system_wide + 4 + 2 + 1 + 9  # the focused field's own reads, each once
    upward = 2 * ANCESTORS_SEARCHED  # each ancestor's parent and role
    window_search = 2 * (3 + TOOLBAR_BUTTONS) + 1
    return fixed + upward + window_search + 4 * LINE_LIMIT


def spawn(argv, scenario, stdin, stdout, stderr, log=None):
    """Exit status, wall seconds and CPU seconds of one process."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("STANDIN_")}
    if scenario:
        env["STANDIN_SCENARIO"] = scenario
    if log:
        env["STANDIN_LOG"] = log
    actions = [(os.POSIX_SPAWN_OPEN, 0, stdin, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 1, stdout, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600),
               (os.POSIX_SPAWN_OPEN, 2, stderr, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)]
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    return os.waitstatus_to_exitcode(status), wall, usage.ru_utime + usage.ru_stime


class Case:
    def __init__(self, program, label, scenario=None, stdin=os.devnull, status=0, stderr=b"",
                 stdout=None, runs=None):
        self.program, self.label, self.scenario, self.stdin = program, label, scenario, stdin
        self.status, self.stderr, self.stdout, self.runs = status, stderr, stdout, runs


def measure(case, binary, runs, folder):
    """One logged run, checked, for the requests; then the timed runs."""
    log, out, err = (os.path.join(folder, name) for name in ("log.jsonl", "out", "err"))
    if os.path.exists(log):
        os.remove(log)
    status, _, _ = spawn([binary], case.scenario, case.stdin, out, err, log)
    with open(out, "rb") as f:
        stdout = f.read()
    with open(err, "rb") as f:
        stderr = f.read()
    problem = None
    if status != case.status or stderr != case.stderr:
        problem = f"status {status}, standard error {stderr!r}"
    elif case.stdout is not None and not case.stdout(stdout):
        problem = f"unexpected output {stdout[:200]!r}"
    records = []
    if case.scenario:
        with open(log) as f:
            records = [json.loads(line) for line in f]
        live = [r["liveObjects"] for r in records if r["op"] == "exit"]
        # keywatch's tap, its run-loop source and its watch timer live until the process ends.
        if problem is None and live != [3 if case.program == "keywatch" else 0]:
            problem = f"objects left alive: {live}"
    if problem:
        sys.exit(f"{case.program} on {case.label}: {problem}")

    def count(*ops):
        return sum(1 for r in records if r["op"] in ops)

    walls, cpus = [], []
    for _ in range(case.runs or runs):
        _, wall, cpu = spawn([binary], case.scenario, case.stdin, os.devnull, os.devnull)
        walls.append(wall * 1000)
        cpus.append(cpu * 1000)
    return {"runs": len(walls), "wall": statistics.median(walls), "cpu": statistics.median(cpus),
            "ax": count("AXUIElementCopyAttributeValue", "AXUIElementIsAttributeSettable"),
            "translate": count("UCKeyTranslate"), "posted": count("CGEventPost"),
            "calls": sum(1 for r in records if r["op"] != "exit")}


def write_json(folder, name, value):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        json.dump(value, f)
    return path


def speech_pcm(folder):
    """The demo's speech as raw 16 kHz mono PCM."""
    wav, raw = os.path.join(folder, "speech.wav"), os.path.join(folder, "speech.raw")
    subprocess.run(["espeak-ng", "-w", wav, "-f", os.path.join(EXAMPLES, "opuspipe", "speech.txt")],
                   check=True)
    subprocess.run(["sox", "-V1", wav, "-r", "16000", "-c", "1", "-b", "16", "-e", "signed",
                    "-t", "raw", raw], check=True)
    return raw


def reason_is(reason):
    return lambda out: json.loads(out)["reason"] == reason


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", help="the build folder, build/release")
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    paths = {name: os.path.join(args.build, folder, name) for name, folder in (
        ("keywatch", "keywatch"), ("fieldscan", "fieldscan"), ("targetprobe", "targetprobe"),
        ("grabtext", "grabtext"), ("pastekey", "keypost"), ("copykey", "keypost"),
        ("opuspipe", "opuspipe"))}

    def example(path):
        return os.path.join(EXAMPLES, path)

    with tempfile.TemporaryDirectory() as folder:
        session = write_json(folder, "session.json", keywatch_session(KEYWATCH_EVENTS))
        idle = write_json(folder, "idle.json", keywatch_session(0))
        page = fieldscan_page_at_the_bounds()
        page_bound = write_json(folder, "page.json", page)
        page_untrusted = write_json(folder, "page-untrusted.json", dict(page, trusted=False))
        tree = targetprobe_bench.worst_case_scenario()
        tree_bound = write_json(folder, "tree.json", tree)
        tree_untrusted = write_json(folder, "tree-untrusted.json", dict(tree, trusted=False))
        speech = speech_pcm(folder)
        speech_seconds = os.path.getsize(speech) / 32000
        no_permission = {"fieldscan": b"", "targetprobe": b"",
                         "grabtext": b"[grabtext] accessibility permission is required\n"}

        cases = [
            Case("keywatch", f"{KEYWATCH_EVENTS} scripted key events", session),
            Case("keywatch", "no events: start-up and exit", idle),
            Case("fieldscan", "editor-caret.json", example("fieldscan/editor-caret.json")),
            Case("fieldscan", "editor-selection.json", example("fieldscan/editor-selection.json")),
            Case("fieldscan", "browser-page.json", example("fieldscan/browser-page.json")),
            # A tenth of a second each: fewer runs keep the whole bench within minutes.
            Case("fieldscan", "page at the bounds (122 lines)", page_bound,
                 stdout=lambda out: json.loads(out)["visibleText"].count("\n") + 1 == 122,
                 runs=max(1, args.runs // 4)),
            Case("fieldscan", "  the same page, no permission", page_untrusted,
                 runs=max(1, args.runs // 4)),
            Case("targetprobe", "editor-caret.json: ok", example("fieldscan/editor-caret.json"),
                 stdout=reason_is("ok")),
            Case("targetprobe", "web-area.json: ok_descendant",
                 example("targetprobe/web-area.json"), stdout=reason_is("ok_descendant")),
            Case("targetprobe", "table.json: no_editable_target", example("targetprobe/table.json"),
                 stdout=reason_is("no_editable_target")),
            Case("targetprobe", "tree at the bounds: no_editable_target", tree_bound,
                 stdout=lambda out: out == targetprobe_bench.EXPECTED_OUT),
            Case("targetprobe", "  the same tree, no permission", tree_untrusted),
            Case("grabtext", "selection.json", example("grabtext/selection.json"),
                 stdout=lambda out: out.startswith(b"ship the beta")),
            Case("grabtext", "no-permission.json", example("fieldscan/no-permission.json"),
                 stderr=no_permission["grabtext"]),
            Case("pastekey", "us.json", example("keypost/us.json")),
            Case("pastekey", "dvorak.json", example("keypost/dvorak.json")),
            Case("pastekey", "russian.json (no key types v)", example("keypost/russian.json")),
            Case("copykey", "us.json", example("keypost/us.json")),
            Case("opuspipe", f"{speech_seconds:.1f} s of speech (the demo's)", None, stdin=speech,
                 runs=max(1, args.runs // 10)),
        ]

        print(f"{'program':12} {'scenario':40} {'runs':>5} {'wall ms':>8} {'CPU ms':>7} "
              f"{'AX req':>7} {'UCKeyTr':>7} {'posted':>6}")
        results = {}
        for case in cases:
            r = measure(case, paths[case.program], args.runs, folder)
            results[(case.program, case.label)] = r
            print(f"{case.program:12} {case.label:40} {r['runs']:5} {r['wall']:8.2f} "
                  f"{r['cpu']:7.2f} {r['ax']:7} {r['translate']:7} {r['posted']:6}", flush=True)

    busy = results[("keywatch", f"{KEYWATCH_EVENTS} scripted key events")]
    still = results[("keywatch", "no events: start-up and exit")]
    page_calls = results[("fieldscan", "page at the bounds (122 lines)")]["calls"]
    tree_calls = results[("targetprobe", "tree at the bounds: no_editable_target")]["calls"]
    print(f"keywatch per scripted event, the stand-in's delivery included: "
          f"{(busy['wall'] - still['wall']) * 1000 / KEYWATCH_EVENTS:.2f} us wall, "
          f"{(busy['cpu'] - still['cpu']) * 1000 / KEYWATCH_EVENTS:.2f} us CPU "
          f"(the two keywatch rows apart, / {KEYWATCH_EVENTS})")
    print(f"at the bounds, platform calls of one run: fieldscan {page_calls} "
          f"(at most {fieldscan_request_bound()}), targetprobe {tree_calls} "
          f"(at most {sum(targetprobe_bench.bound())});")
    print("  the no-permission runs on the same worlds: start-up, reading the scenario, exit")


if __name__ == "__main__":
    main()
