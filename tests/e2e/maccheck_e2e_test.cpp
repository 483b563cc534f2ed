// maccheck as a process: each check holds on a world that answers as the suite assumes, and
// differs (or is skipped) on one that does not.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;

const std::string shiftNotice =
    "maccheck: do not type for a second: it presses and releases Shift itself\n";
const std::string bothBack =
    "2 of 2 back; type 10 key 56 flags 0x20002 pid own userData suite's; "
    "type 11 key 56 flags 0x0 pid own userData suite's";

const std::string drained =
    "pipe filled with 65536 bytes; callback while full: no; after draining: yes";

struct Outcome {
    ProcessResult result;
    std::vector<json> log;
    json report;
};

class MaccheckProcess : public ::testing::Test {
  protected:
    Outcome run(const json& scenario, std::vector<std::string> arguments = {"--json"}) {
        std::remove(dir.path("log.jsonl").c_str());
        arguments.insert(arguments.begin(), MACCHECK_PATH);
        Outcome r{runProcess({.arguments = arguments,
                              .environment = {{"STANDIN_SCENARIO",
                                               dir.write("scenario.json", scenario.dump())},
                                              {"STANDIN_LOG", dir.path("log.jsonl")}}}),
                  {},
                  {}};
        r.log = readLog(dir.path("log.jsonl"));
        r.report = json::parse(r.result.out, nullptr, false);
        return r;
    }

    ScratchDir dir;
};

json checkOf(const json& report, const std::string& id) {
    for (const auto& check : report.at("checks")) {
        if (check.at("id") == id) {
            return check;
        }
    }
    return nullptr;
}

TEST_F(MaccheckProcess, EachCheckHoldsDiffersOrIsSkippedAsTheWorldAnswers) {
    struct Row {
        std::string id;
        json scenario;
        std::string result;
        std::string observed;
    };
    // A letter typed first is counted, never recorded; then the key asked for. The Globe step
    // comes second, after a right Command press and release.
    const auto pressed = [](int keyCode, uint64_t flags) {
        json events = {{{"advance", 2.0}, {"type", "keyDown"}, {"keyCode", 0}}};
        if (keyCode != 54) {
            events.push_back({{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}});
            events.push_back({{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}});
        }
        events.push_back(
            {{"advance", 1.0}, {"type", "flagsChanged"}, {"keyCode", keyCode}, {"flags", flags}});
        events.push_back(
            {{"advance", 0.3}, {"type", "flagsChanged"}, {"keyCode", keyCode}, {"flags", 0}});
        return json{{"keyboard", {{"events", events}}}};
    };
    // After a right Command press and release, these events for the Globe step.
    const auto globeAs = [](std::vector<json> events) {
        events.insert(
            events.begin(),
            {{{"advance", 2.0}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}},
             {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}},
             {{"advance", 1.0}, {"type", "keyDown"}, {"keyCode", 0}}});
        return json{{"keyboard", {{"events", events}}}};
    };
    const json noListenOnlyTap = {{"keyboard", {{"grantedTaps", {"hid-default"}}}}};
    const Row rows[] = {
        {"macos-version", json::object(), "holds", "13.6"},
        {"macos-version", {{"osVersion", "12.7.4"}}, "differs", "12.7.4"},
        {"macos-version", {{"osVersion", ""}}, "skipped", "not answered"},
        {"architecture", {{"architecture", "arm64"}}, "holds", "arm64"},
        {"architecture", {{"architecture", "i386"}}, "differs", "i386"},
        {"accessibility", json::object(), "holds", "AXIsProcessTrusted true"},
        {"accessibility", {{"trusted", false}}, "differs", "AXIsProcessTrusted false"},
        {"input-monitoring",
         {{"keyboard", {{"listenAccess", false}, {"hidListenAccess", "unknown"}}}},
         "holds",
         "CGPreflightListenEventAccess false, IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) "
         "unknown"},
        {"input-monitoring",
         {{"keyboard", {{"hidListenAccess", "denied"}}}},
         "differs",
         "CGPreflightListenEventAccess true, IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) "
         "denied"},
        {"post-access", json::object(), "holds",
         "CGPreflightPostEventAccess true, AXIsProcessTrusted true"},
        {"post-access",
         {{"keyboard", {{"postAccess", false}}}},
         "differs",
         "CGPreflightPostEventAccess false, AXIsProcessTrusted true"},
        {"post-access",
         {{"trusted", false}},
         "differs",
         "CGPreflightPostEventAccess true, AXIsProcessTrusted false"},
        {"secure-input", json::object(), "holds", "IsSecureEventInputEnabled false"},
        {"secure-input",
         {{"keyboard", {{"secureEventInput", true}}}},
         "differs",
         "IsSecureEventInputEnabled true"},
        {"tap-hid-default", json::object(), "holds", "granted"},
        {"tap-hid-default",
         {{"keyboard", {{"grantedTaps", {"hid-listen-only"}}}}},
         "differs",
         "not granted"},
        {"tap-hid-listen-only", json::object(), "holds", "granted"},
        {"tap-hid-listen-only", noListenOnlyTap, "differs", "not granted"},
        {"tap-session-listen-only", json::object(), "holds", "granted"},
        {"tap-session-listen-only", noListenOnlyTap, "differs", "not granted"},
        {"input-sources",
         {{"inputSource", {{"layout", nullptr}}},
          {"asciiCapableInputSource", {{"layout", {{"9", "v"}}}}}},
         "holds",
         "current: no layout data, keyboard layout: no layout data, ASCII-capable: layout data"},
        {"input-sources",
         {{"inputSource", {{"layout", nullptr}}}, {"keyboardLayoutInputSource", nullptr}},
         "differs",
         "current: no layout data, keyboard layout: none, ASCII-capable: no layout data"},
        {"key-codes", json::object(), "holds", "v 9, c 8"},
        {"key-codes",
         {{"inputSource", {{"layout", {{"47", "v"}, {"1", "c"}}}}}},
         "holds",
         "v 47, c 1"},
        {"key-codes", {{"inputSource", {{"layout", {{"9", "v"}}}}}}, "differs", "v 9, c not found"},
        {"descriptor-write", json::object(), "holds", drained},
        {"descriptor-write",
         {{"keyboard", {{"writeCallBacks", false}}}},
         "differs",
         "pipe filled with 65536 bytes; callback while full: no; after draining: no"},
        {"posted-event", json::object(), "holds", bothBack},
        {"right-command", pressed(54, 0x100010), "holds",
         "type 12 key 54 flags 0x100010 pid 0 HID state down; type 12 key 54 flags 0x0 pid 0 "
         "HID state up; system-defined: 0, other keys: 1"},
        {"right-command", pressed(54, 0x100000), "differs",
         "type 12 key 54 flags 0x100000 pid 0 HID state down; type 12 key 54 flags 0x0 pid 0 "
         "HID state up; system-defined: 0, other keys: 1"},
        {"right-command", json::object(), "skipped",
         "nothing within 30 s; system-defined: 0, other keys: 0"},
        {"globe-key", pressed(63, 0x800000), "holds",
         "type 12 key 63 flags 0x800000 pid 0 HID state down; type 12 key 63 flags 0x0 pid 0 "
         "HID state up; system-defined: 0, other keys: 0"},
        {"globe-key", pressed(179, 0x800000), "differs",
         "type 12 key 179 flags 0x800000 pid 0 HID state down; type 12 key 179 flags 0x0 pid 0 "
         "HID state up; system-defined: 0, other keys: 0"},
        // The Globe key as key events of 179 without the Fn bit, or as system-defined events
        // alone: it came, not as assumed.
        {"globe-key",
         globeAs({{{"type", "keyDown"}, {"keyCode", 179}},
                  {{"advance", 0.2}, {"type", "keyUp"}, {"keyCode", 179}}}),
         "differs",
         "type 10 key 179 flags 0x0 pid 0 HID state down; type 11 key 179 flags 0x0 pid 0 "
         "HID state up; system-defined: 0, other keys: 1"},
        {"globe-key", globeAs({{{"type", "systemDefined"}}}), "differs",
         "system-defined: 1, other keys: 1"},
        {"posted-event", {{"keyboard", {{"postedToOwnTaps", false}}}}, "differs", "0 of 2 back"},
        {"posted-event",
         {{"keyboard", {{"postAccess", false}}}},
         "skipped",
         "no right to post events"},
        {"posted-event", noListenOnlyTap, "skipped", "no listen-only tap granted"},
        {"posted-event",
         {{"keyboard", {{"eventSource", false}}}},
         "skipped",
         "no run-loop source or event source"},
    };
    for (const auto& row : rows) {
        const bool atKeyboard = row.id == "right-command" || row.id == "globe-key";
        const Outcome r =
            run(row.scenario, atKeyboard ? std::vector<std::string>{"keyboard", "--json"}
                                         : std::vector<std::string>{"--json"});
        const json check = checkOf(r.report, row.id);
        ASSERT_TRUE(check.is_object()) << row.id << ": " << r.result.out << r.result.err;
        EXPECT_EQ(check.at("result"), row.result) << row.id << " " << row.scenario;
        EXPECT_EQ(check.at("observed"), row.observed) << row.id << " " << row.scenario;
        EXPECT_EQ(r.result.exitStatus, 0) << row.id;
        const auto exits = recordsOf(r.log, "exit");
        ASSERT_EQ(exits.size(), 1u) << row.id;
        EXPECT_EQ(exits[0].at("liveObjects"), 0) << row.id << " " << row.scenario;
    }
}

TEST_F(MaccheckProcess, ReportsEveryCheckOnceInOneObjectAndReleasesEveryTapAtOnce) {
    const Outcome r = run(json::object());
    const std::string ids[] = {"macos-version",    "architecture",        "accessibility",
                               "input-monitoring", "post-access",         "secure-input",
                               "tap-hid-default",  "tap-hid-listen-only", "tap-session-listen-only",
                               "input-sources",    "key-codes",           "descriptor-write",
                               "posted-event"};
    ASSERT_EQ(r.report.at("checks").size(), std::size(ids)) << r.result.out;
    for (size_t i = 0; i < std::size(ids); ++i) {
        const json& check = r.report.at("checks")[i];
        EXPECT_EQ(check.at("id"), ids[i]);
        EXPECT_FALSE(check.at("assumption").get<std::string>().empty()) << ids[i];
        EXPECT_NE(check.at("code").get<std::string>().find(".c"), std::string::npos) << ids[i];
    }
    EXPECT_EQ(r.report.at("summary"), json({{"holds", 13}, {"differs", 0}, {"skipped", 0}}));
    EXPECT_EQ(r.result.err, shiftNotice);
    EXPECT_EQ(r.result.out.back(), '\n');
    // Each tap made is disabled and invalidated before the next is asked for.
    long open = 0;
    for (const auto& record : r.log) {
        if (record.at("op") == "CGEventTapCreate") {
            EXPECT_EQ(open, 0);
            open += record.at("granted").get<bool>() ? 1 : 0;
        } else if (record.at("op") == "CGEventTapEnable") {
            EXPECT_FALSE(record.at("enable").get<bool>());
            --open;
        }
    }
    EXPECT_EQ(open, 0);
    // The run-loop checks wait a bounded time: ten passes of a tenth of a second at most, one
    // more for the pipe while it is full.
    EXPECT_EQ(
        recordsOf(run({{"keyboard", {{"postedToOwnTaps", false}, {"writeCallBacks", false}}}}).log,
                  "CFRunLoopRunInMode")
            .size(),
        21u);

    const Outcome human = run(json::object(), {});
    EXPECT_EQ(human.result.out.substr(0, 21), "holds  macos-version\n");
    EXPECT_NE(human.result.out.find("    observed:   " + bothBack + "\n"), std::string::npos);
    EXPECT_NE(human.result.out.find("13 checks: 13 hold, 0 differ, 0 skipped\n"),
              std::string::npos);
}

TEST_F(MaccheckProcess, RefusesAnUnknownArgumentAndABadScenario) {
    const Outcome unknown = run(json::object(), {"fields"});
    EXPECT_EQ(unknown.result.exitStatus, 2);
    EXPECT_EQ(unknown.result.out, "");
    EXPECT_EQ(unknown.result.err, "maccheck: unknown argument; see maccheck --help\n");
    for (const json& bad : {json{{"keyboard", {{"hidListenAccess", "yes"}}}},
                            json{{"osVersion", 13}}, json{{"keyboard", {{"secureInput", true}}}}}) {
        const Outcome r = run(bad);
        EXPECT_EQ(r.result.exitStatus, 70) << bad;
        EXPECT_EQ(r.result.err.rfind("standin: bad scenario: ", 0), 0u) << r.result.err;
    }
}

}  // namespace
