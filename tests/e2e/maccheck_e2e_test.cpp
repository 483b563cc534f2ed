// maccheck as a process: each check holds on a world that answers as the suite assumes, and
// differs (or is skipped) on one that does not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

// What a pipe holds here (64 KiB as a rule; less once a user's pipes hold too much).
std::string filledWith() {
    int ends[2];
    if (pipe(ends) != 0) {
        return "no pipe";
    }
    const int size = fcntl(ends[1], F_GETPIPE_SZ);
    close(ends[0]);
    close(ends[1]);
    return "pipe filled with " + std::to_string(size) + " bytes; ";
}

const std::string drained = filledWith() + "callback while full: no; after draining: yes";

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
    // comes third, after a right Command press and release and this step: right Command held
    // while another keyboard types.
    const json heldThenTyped = json::array(
        {{{"advance", 1.0}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}},
         {{"advance", 0.6}, {"type", "keyDown"}, {"keyCode", 0}, {"flags", 0x100}},
         {{"type", "keyUp"}, {"keyCode", 0}, {"flags", 0x100}},
         {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}}});
    const auto pressed = [&](int keyCode, uint64_t flags) {
        json events = {{{"advance", 2.0}, {"type", "keyDown"}, {"keyCode", 0}}};
        if (keyCode != 54) {
            events.push_back({{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}});
            events.push_back({{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}});
            events.insert(events.end(), heldThenTyped.begin(), heldThenTyped.end());
        }
        events.push_back(
            {{"advance", 1.0}, {"type", "flagsChanged"}, {"keyCode", keyCode}, {"flags", flags}});
        events.push_back(
            {{"advance", 0.3}, {"type", "flagsChanged"}, {"keyCode", keyCode}, {"flags", 0}});
        return json{{"keyboard", {{"events", events}}}};
    };
    // After a right Command press and release and the held step, these for the Globe step.
    const auto globeAs = [&](std::vector<json> events) {
        events.front()["advance"] = 1.0;
        events.insert(events.begin(), heldThenTyped.begin(), heldThenTyped.end());
        events.insert(
            events.begin(),
            {{{"advance", 2.0}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}},
             {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}}});
        return json{{"keyboard", {{"events", events}}}};
    };
    // Right Command pressed and released for the first step, then held while another keyboard
    // types a key with these flags.
    const auto heldAcross = [](std::vector<json> typed) {
        std::vector<json> events = {
            {{"advance", 2.0}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}},
            {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}},
            {{"advance", 1.0}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}}};
        events.insert(events.end(), typed.begin(), typed.end());
        return json{{"keyboard", {{"events", events}}}};
    };
    const std::vector<json> typedA = {
        {{"advance", 0.6}, {"type", "keyDown"}, {"keyCode", 0}, {"flags", 0x100}},
        {{"type", "keyUp"}, {"keyCode", 0}, {"flags", 0x100}},
        {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}}};
    // A focused field of the application with this pid and bundle identifier; the field's own
    // process id may be another.
    const auto fieldIn = [](int pid, const std::string& bundle, json field, int fieldPid) {
        field["pid"] = fieldPid;
        return json{{"frontmostApplication", {{"pid", pid}, {"bundleIdentifier", bundle}}},
                    {"applications", {{std::to_string(pid), json::object()}}},
                    {"systemWide",
                     {{"attributes",
                       {{"AXFocusedUIElement", {{"element", "field"}}},
                        {"AXFocusedApplication", {{"element", "app:" + std::to_string(pid)}}}}}}},
                    {"elements", {{"field", field}}}};
    };
    const json caret = {{"attributes",
                         {{"AXRole", "AXTextArea"},
                          {"AXSelectedTextRange", {{"range", {12, 0}}}},
                          {"AXValue", "hello world!"}}}};
    json textEdit = fieldIn(300, "com.apple.TextEdit", caret, 300);
    json noSelectionAsNotFound = textEdit;
    noSelectionAsNotFound["elements"]["field"]["attributes"]["AXSelectedTextRange"] = {
        {"range", {9223372036854775807, 0}}};
    // The user clicks into TextEdit four seconds after the prompt.
    json clickedLater = {{"focusChanges",
                          {{{"after", 4.0},
                            {"systemWide", textEdit["systemWide"]},
                            {"frontmostApplication", textEdit["frontmostApplication"]}}}},
                         {"applications", textEdit["applications"]},
                         {"elements", textEdit["elements"]}};
    const json pageField = {{"attributes",
                             {{"AXRole", "AXTextField"},
                              {"AXSelectedTextRange", {{"range", {0, 0}}}},
                              {"AXEditableAncestor", {{"element", "field"}}},
                              {"AXValue", ""}}}};
    json safari = fieldIn(500, "com.apple.Safari", pageField, 640);
    // The browser's own address bar: no page's field, so the step waits on.
    json addressBar = safari;
    addressBar["elements"]["field"]["attributes"].erase("AXEditableAncestor");
    json safariWithoutApplication = safari;
    safariWithoutApplication["systemWide"]["attributes"].erase("AXFocusedApplication");
    const auto password = [&](json subrole) {
        return fieldIn(700, "com.example.Bank",
                       {{"attributes",
                         {{"AXRole", "AXTextField"}, {"AXSubrole", subrole}, {"AXValue", "••••"}}}},
                       700);
    };
    const std::string textEditSeen =
        "role AXTextArea, subrole none, range {12, 0}, AXEditableAncestor none, value 12 "
        "characters; element pid 300 (com.apple.TextEdit), AXFocusedApplication pid 300 "
        "(com.apple.TextEdit), frontmost pid 300 (com.apple.TextEdit)";
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
         filledWith() + "callback while full: no; after draining: no"},
        {"posted-event", json::object(), "holds", bothBack},
        {"right-command", pressed(54, 0x100010), "holds",
         "type 12 key 54 flags 0x100010 pid 0 HID state down; type 12 key 54 flags 0x0 pid 0 "
         "HID state up; system-defined: 0, other keys: 1"},
        {"right-command", pressed(54, 0x100000), "differs",
         "type 12 key 54 flags 0x100000 pid 0 HID state down; type 12 key 54 flags 0x0 pid 0 "
         "HID state up; system-defined: 0, other keys: 1"},
        {"right-command",
         [&] {
             json posted = pressed(54, 0x100010);
             for (auto& event : posted["keyboard"]["events"]) {
                 if (event["keyCode"] == 54) {
                     event["sourcePid"] = 4242;
                 }
             }
             return posted;
         }(),
         "differs",
         "type 12 key 54 flags 0x100010 pid 4242 HID state down; type 12 key 54 flags 0x0 pid "
         "4242 HID state up; system-defined: 0, other keys: 1"},
        // A mouse click or a media key first does not end the step.
        {"right-command",
         {{"keyboard",
           {{"events",
             {{{"advance", 1.0}, {"type", "systemDefined"}},
              {{"advance", 5.0}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}},
              {{"advance", 0.3}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}}}}}}},
         "holds",
         "type 12 key 54 flags 0x100010 pid 0 HID state down; type 12 key 54 flags 0x0 pid 0 "
         "HID state up; system-defined: 1, other keys: 0"},
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
         "HID state up; system-defined: 0, other keys: 0"},
        {"globe-key", globeAs({{{"type", "systemDefined"}}}), "differs",
         "system-defined: 1, other keys: 0"},
        {"command-across-keyboards", heldAcross(typedA), "holds",
         "type 12 key 54 flags 0x100010 pid 0 HID state down; type 10 another key flags 0x100 "
         "pid 0 HID state of key 54 down; type 12 key 54 flags 0x0 pid 0 HID state up; "
         "system-defined: 0, other keys: 1"},
        {"command-across-keyboards",
         [&] {
             json unseen = heldAcross(typedA);
             unseen["keyboard"]["keyState"] = false;
             return unseen;
         }(),
         "differs",
         "type 12 key 54 flags 0x100010 pid 0 HID state up; type 10 another key flags 0x100 "
         "pid 0 HID state of key 54 up; type 12 key 54 flags 0x0 pid 0 HID state up; "
         "system-defined: 0, other keys: 1"},
        // Held, and nothing typed: the user waited to skip.
        {"command-across-keyboards", heldAcross({}), "skipped",
         "nothing within 30 s; type 12 key 54 flags 0x100010 pid 0 HID state down; "
         "system-defined: 0, other keys: 0"},
        {"command-across-keyboards",
         [&] {
             json secure = heldAcross({});
             secure["keyboard"]["secureEventInput"] = true;
             return secure;
         }(),
         "skipped",
         "nothing within 30 s; type 12 key 54 flags 0x100010 pid 0 HID state down; "
         "system-defined: 0, other keys: 0; secure event input on"},
        // The letter typed before Command is held: counted, not recorded.
        {"command-across-keyboards",
         {{"keyboard",
           {{"events",
             {{{"advance", 2.0}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}},
              {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}},
              {{"advance", 1.0}, {"type", "keyDown"}, {"keyCode", 0}}}}}}},
         "skipped",
         "nothing within 30 s; system-defined: 0, other keys: 1"},
        {"command-across-keyboards",
         heldAcross({{{"advance", 0.6},
                      {"type", "keyDown"},
                      {"keyCode", 0},
                      {"flags", 0x100},
                      {"sourcePid", 4242}}}),
         "differs",
         "type 12 key 54 flags 0x100010 pid 0 HID state down; type 10 another key flags 0x100 "
         "pid 4242 HID state of key 54 down; system-defined: 0, other keys: 0"},
        {"mach-clocks", json::object(), "holds",
         "timebase 125/3, continuous time ahead of absolute time by 0 ticks"},
        {"textedit-caret", textEdit, "holds", textEditSeen},
        {"textedit-caret", clickedLater, "holds", textEditSeen},
        {"textedit-caret", noSelectionAsNotFound, "differs",
         "role AXTextArea, subrole none, range {NSNotFound, 0}, AXEditableAncestor none, value 12 "
         "characters; element pid 300 (com.apple.TextEdit), AXFocusedApplication pid 300 "
         "(com.apple.TextEdit), frontmost pid 300 (com.apple.TextEdit)"},
        {"textedit-caret", json::object(), "skipped", "nothing within 30 s; last focus: none"},
        {"textedit-caret",
         [&] {
             json selection = textEdit;
             selection["elements"]["field"]["attributes"]["AXSelectedTextRange"] = {
                 {"range", {3, 5}}};
             return selection;
         }(),
         "differs",
         "role AXTextArea, subrole none, range {3, 5}, AXEditableAncestor none, value 12 "
         "characters; element pid 300 (com.apple.TextEdit), AXFocusedApplication pid 300 "
         "(com.apple.TextEdit), frontmost pid 300 (com.apple.TextEdit)"},
        // Terminal's own view is a text area too: not the one asked for.
        {"textedit-caret", fieldIn(400, "com.apple.Terminal", caret, 400), "skipped",
         "nothing within 30 s; last focus: role AXTextArea, subrole none, range {12, 0}, "
         "AXEditableAncestor none, value 12 characters; element pid 400 (com.apple.Terminal), "
         "AXFocusedApplication pid 400 (com.apple.Terminal), frontmost pid 400 "
         "(com.apple.Terminal)"},
        {"safari-page-field", safari, "holds",
         "role AXTextField, subrole none, range {0, 0}, AXEditableAncestor self, value 0 "
         "characters; element pid 640 (no running application), AXFocusedApplication pid 500 "
         "(com.apple.Safari), frontmost pid 500 (com.apple.Safari)"},
        {"safari-page-field", safariWithoutApplication, "differs",
         "role AXTextField, subrole none, range {0, 0}, AXEditableAncestor self, value 0 "
         "characters; element pid 640 (no running application), AXFocusedApplication none, "
         "frontmost pid 500 (com.apple.Safari)"},
        {"safari-page-field", addressBar, "skipped",
         "nothing within 30 s; last focus: role AXTextField, subrole none, range {0, 0}, "
         "AXEditableAncestor none, value 0 characters; element pid 640 (no running "
         "application), AXFocusedApplication pid 500 (com.apple.Safari), frontmost pid 500 "
         "(com.apple.Safari)"},
        // A page field known by its web area two levels up, without an editable ancestor.
        {"chrome-page-field",
         [&] {
             json chrome = fieldIn(510, "com.google.Chrome", pageField, 510);
             auto& elements = chrome["elements"];
             elements["field"]["attributes"].erase("AXEditableAncestor");
             elements["field"]["attributes"]["AXParent"] = {{"element", "group"}};
             elements["group"] = {{"attributes", {{"AXParent", {{"element", "page"}}}}}};
             elements["page"] = {{"attributes", {{"AXRole", "AXWebArea"}}}};
             return chrome;
         }(),
         "holds",
         "role AXTextField, subrole none, range {0, 0}, AXEditableAncestor none, value 0 "
         "characters; element pid 510 (com.google.Chrome), AXFocusedApplication pid 510 "
         "(com.google.Chrome), frontmost pid 510 (com.google.Chrome)"},
        {"password-field", password("AXSecureTextField"), "holds",
         "role AXTextField, subrole AXSecureTextField, range none, AXEditableAncestor none, value "
         "4 characters, all bullets; element pid 700 (com.example.Bank), AXFocusedApplication pid "
         "700 (com.example.Bank), frontmost pid 700 (com.example.Bank)"},
        {"password-field", password(""), "differs",
         "role AXTextField, subrole none, range none, AXEditableAncestor none, value 4 "
         "characters, all bullets; element pid 700 (com.example.Bank), AXFocusedApplication pid "
         "700 (com.example.Bank), frontmost pid 700 (com.example.Bank)"},
        {"posted-event", {{"keyboard", {{"postedToOwnTaps", false}}}}, "differs", "0 of 2 back"},
        {"posted-event",
         {{"keyboard", {{"postedSourcePid", 0}}}},
         "differs",
         "2 of 2 back; type 10 key 56 flags 0x20002 pid 0 userData suite's; type 11 key 56 flags "
         "0x0 pid 0 userData suite's"},
        {"posted-event",
         {{"keyboard", {{"postedUserData", 0}}}},
         "differs",
         "2 of 2 back; type 10 key 56 flags 0x20002 pid own userData other; type 11 key 56 flags "
         "0x0 pid own userData other"},
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
        const bool atKeyboard = row.id == "right-command" || row.id == "globe-key" ||
                                row.id == "command-across-keyboards";
        const bool atField =
            row.id.find("-field") != std::string::npos || row.id == "textedit-caret";
        const Outcome r =
            run(row.scenario, atKeyboard ? std::vector<std::string>{"keyboard", "--json"}
                              : atField  ? std::vector<std::string>{"fields", "--json"}
                                         : std::vector<std::string>{"--json"});
        const json check = checkOf(r.report, row.id);
        ASSERT_TRUE(check.is_object()) << row.id << ": " << r.result.out << r.result.err;
        EXPECT_EQ(check.at("result"), row.result) << row.id << " " << row.scenario;
        EXPECT_EQ(check.at("observed"), row.observed) << row.id << " " << row.scenario;
        EXPECT_EQ(r.result.exitStatus, 0) << row.id;
        const auto exits = recordsOf(r.log, "exit");
        ASSERT_EQ(exits.size(), 1u) << row.id;
        EXPECT_EQ(exits[0].at("liveObjects"), 0) << row.id << " " << row.scenario;
        if (row.scenario == textEdit && row.id == "textedit-caret") {
            // Found at the first poll; the three other steps each wait their 30 s, polling
            // twice a second.
            EXPECT_EQ(exits[0].at("machSeconds"), 100090.0);
            EXPECT_EQ(recordsOf(r.log, "CFRunLoopRunInMode").size(), 180u);
        }
    }
}

TEST_F(MaccheckProcess, ReportsEveryCheckOnceInOneObjectAndReleasesEveryTapAtOnce) {
    const Outcome r = run(json::object());
    const std::string ids[] = {"macos-version",       "architecture",
                               "accessibility",       "input-monitoring",
                               "post-access",         "secure-input",
                               "mach-clocks",         "tap-hid-default",
                               "tap-hid-listen-only", "tap-session-listen-only",
                               "input-sources",       "key-codes",
                               "descriptor-write",    "posted-event"};
    ASSERT_EQ(r.report.at("checks").size(), std::size(ids)) << r.result.out;
    for (size_t i = 0; i < std::size(ids); ++i) {
        const json& check = r.report.at("checks")[i];
        EXPECT_EQ(check.at("id"), ids[i]);
        EXPECT_FALSE(check.at("assumption").get<std::string>().empty()) << ids[i];
        EXPECT_NE(check.at("code").get<std::string>().find(".c"), std::string::npos) << ids[i];
    }
    EXPECT_EQ(r.report.at("summary"), json({{"holds", 14}, {"differs", 0}, {"skipped", 0}}));
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
    EXPECT_NE(human.result.out.find("14 checks: 14 hold, 0 differ, 0 skipped\n"),
              std::string::npos);
}

TEST_F(MaccheckProcess, RefusesAnUnknownArgumentAndABadScenario) {
    const Outcome unknown = run(json::object(), {"fields", "keyboard"});
    EXPECT_EQ(unknown.result.exitStatus, 2);
    EXPECT_EQ(unknown.result.out, "");
    EXPECT_EQ(unknown.result.err, "maccheck: unknown argument; see maccheck --help\n");
    for (const json& bad : {json{{"keyboard", {{"hidListenAccess", "yes"}}}},
                            json{{"osVersion", 13}}, json{{"keyboard", {{"secureInput", true}}}},
                            json{{"focusChanges", {{{"after", 2}}, {{"after", 1}}}}}}) {
        const Outcome r = run(bad);
        EXPECT_EQ(r.result.exitStatus, 70) << bad;
        EXPECT_EQ(r.result.err.rfind("standin: bad scenario: ", 0), 0u) << r.result.err;
    }
}

}  // namespace
