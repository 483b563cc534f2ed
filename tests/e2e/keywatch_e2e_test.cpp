// keywatch as a process: its tap lifecycle, lines, messages, statuses and stand-in log.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;

const std::string readyDefault = "[hotkey-helper] ready tap=hid-default suppress=true\n";
const std::string readyHidListen = "[hotkey-helper] ready tap=hid-listen-only suppress=false\n";
const std::string rightCmd = R"(keys:[{"keyCode":54,"keyName":"RightCmd","enKeyName":"RightCmd"}])";
const std::string fnHeld = R"(keys:[{"keyCode":63,"keyName":"Fn","enKeyName":"Fn"}])";

const json rightCommandPressRelease = json::array({
    {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 1048576}},
    {{"advance", 0.3}, {"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}},
});

const std::string fnConfig =
    R"([{"id":"dictate","keyCode":0,"modifiers":["fn"],"eventType":"flagsChanged"}])";

struct Outcome {
    ProcessResult result;
    std::vector<json> log;

    std::vector<std::string> effects() const {
        std::vector<std::string> out;
        for (const auto& record : recordsOf(log, "deliver")) {
            out.push_back(record.at("effect").get<std::string>());
        }
        return out;
    }
    long liveObjects() const {
        const auto exits = recordsOf(log, "exit");
        return exits.size() == 1 ? exits[0].at("liveObjects").get<long>() : -1;
    }
};

class KeywatchProcess : public ::testing::Test {
  protected:
    ProcessOptions options(const json& scenario, std::vector<std::string> arguments = {},
                           std::optional<std::string> debug = std::nullopt) const {
        arguments.insert(arguments.begin(), KEYWATCH_PATH);
        return ProcessOptions{
            .arguments = arguments,
            .environment = {{"STANDIN_SCENARIO", dir.write("scenario.json", scenario.dump())},
                            {"STANDIN_LOG", dir.path("log.jsonl")},
                            {"HOTKEY_MONITOR_DEBUG", debug}},
            .stdinPath = std::nullopt,
            .stdoutPath = std::nullopt,
        };
    }

    Outcome run(const json& scenario, std::vector<std::string> arguments = {},
                std::optional<std::string> debug = std::nullopt) {
        std::remove(dir.path("log.jsonl").c_str());
        Outcome r{runProcess(options(scenario, std::move(arguments), std::move(debug))), {}};
        r.log = readLog(dir.path("log.jsonl"));
        return r;
    }

    // Waits, without reading the process's output, until the stand-in has logged `count`
    // deliveries; false if that takes longer than `seconds`.
    bool waitForDeliveries(size_t count, double seconds) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (recordsOf(readLog(dir.path("log.jsonl")), "deliver").size() < count) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            ::usleep(20000);
        }
        return true;
    }

    static json withEvents(json events, json taps = json::array({"hid-default", "hid-listen-only",
                                                                 "session-listen-only"})) {
        return {{"keyboard", {{"grantedTaps", std::move(taps)}, {"events", std::move(events)}}}};
    }

    ScratchDir dir;
};

TEST_F(KeywatchProcess, TakesTheFirstTapGrantedAndSaysWhichWhenReady) {
    struct Case {
        json granted;
        std::string ready;
        size_t attempts;
    };
    const Case cases[] = {
        {json::array({"hid-default", "hid-listen-only", "session-listen-only"}), readyDefault, 1},
        {json::array({"hid-listen-only", "session-listen-only"}), readyHidListen, 2},
        {json::array({"session-listen-only"}),
         "[hotkey-helper] ready tap=session-listen-only suppress=false\n", 3},
    };
    const json expectedAttempts = json::array({
        {{"location", 0}, {"options", 0}},
        {{"location", 0}, {"options", 1}},
        {{"location", 1}, {"options", 1}},
    });
    for (const auto& c : cases) {
        const Outcome r = run(withEvents(json::array(), c.granted));
        EXPECT_EQ(r.result.out, c.ready);
        EXPECT_EQ(r.result.err, "");
        EXPECT_EQ(r.result.exitStatus, 0);
        const auto creates = recordsOf(r.log, "CGEventTapCreate");
        ASSERT_EQ(creates.size(), c.attempts) << c.ready;
        for (size_t i = 0; i < creates.size(); ++i) {
            EXPECT_EQ(creates[i].at("location"), expectedAttempts[i].at("location"));
            EXPECT_EQ(creates[i].at("options"), expectedAttempts[i].at("options"));
            EXPECT_EQ(creates[i].at("mask"), 0x5C00);
            EXPECT_EQ(creates[i].at("granted"), i + 1 == c.attempts);
        }
        EXPECT_EQ(recordsOf(r.log, "CGEventTapEnable"),
                  (std::vector<json>{{{"op", "CGEventTapEnable"}, {"enable", true}}}));
        // The tap, its source and its watch live until the process ends; nothing else does.
        EXPECT_EQ(r.liveObjects(), 3);
    }
}

TEST_F(KeywatchProcess, EndsWithStatusOneWhenTheTapCannotBeInstalled) {
    const Outcome noTap = run(withEvents(rightCommandPressRelease, json::array()));
    EXPECT_EQ(noTap.result.out, "");
    EXPECT_EQ(noTap.result.err, "[hotkey-helper] failed to create CGEvent tap\n");
    EXPECT_EQ(noTap.result.exitStatus, 1);
    EXPECT_EQ(recordsOf(noTap.log, "CGEventTapCreate").size(), 3u);
    EXPECT_TRUE(recordsOf(noTap.log, "CFMachPortCreateRunLoopSource").empty());
    EXPECT_EQ(noTap.liveObjects(), 0);

    json scenario = withEvents(rightCommandPressRelease);
    scenario["keyboard"]["runLoopSource"] = false;
    const Outcome noSource = run(scenario);
    EXPECT_EQ(noSource.result.out, "");
    EXPECT_EQ(noSource.result.err, "[hotkey-helper] failed to create run loop source\n");
    EXPECT_EQ(noSource.result.exitStatus, 1);
    EXPECT_TRUE(recordsOf(noSource.log, "CGEventTapEnable").empty());
    EXPECT_TRUE(recordsOf(noSource.log, "deliver").empty());
    EXPECT_EQ(noSource.liveObjects(), 0);
}

TEST_F(KeywatchProcess, NeverReadyOnATapThatWouldHearNoKey) {
    // Input Monitoring without Accessibility: the filter tap would come without key events.
    json scenario = withEvents(rightCommandPressRelease);
    scenario["trusted"] = false;
    const Outcome listening = run(scenario);
    EXPECT_EQ(listening.result.out.rfind(readyHidListen, 0), 0u);
    const auto creates = recordsOf(listening.log, "CGEventTapCreate");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].at("options"), 1);
    EXPECT_EQ(creates[0].at("keptMask"), 0x5C00);

    // Neither permission: no tap is asked for (so no prompt), and status 1.
    scenario["keyboard"]["listenAccess"] = false;
    const Outcome none = run(scenario);
    EXPECT_EQ(none.result.out, "");
    EXPECT_EQ(none.result.err, "[hotkey-helper] failed to create CGEvent tap\n");
    EXPECT_EQ(none.result.exitStatus, 1);
    EXPECT_TRUE(recordsOf(none.log, "CGEventTapCreate").empty());
}

TEST_F(KeywatchProcess, DefaultShortcutPressedAndReleased) {
    const std::string lines =
        readyDefault + rightCmd +
        "\nshortcut:transcript-start\nshortcut-up:transcript-start\nkeys:[]\n";
    const Outcome r = run(withEvents(rightCommandPressRelease));
    EXPECT_EQ(r.result.out, lines);
    EXPECT_EQ(r.result.err, "");
    EXPECT_EQ(r.result.exitStatus, 0);
    EXPECT_EQ(r.effects(), (std::vector<std::string>{"passed", "passed"}));
    EXPECT_EQ(r.liveObjects(), 3);

    // An output a Mac's poll cannot watch (a terminal's /dev/tty) still gets every line.
    ProcessOptions device = options(withEvents(rightCommandPressRelease));
    device.environment.push_back({"LD_PRELOAD", PRELOAD_SHIM_PATH});
    device.environment.push_back({"POLL_NVAL_ON_STDOUT", "1"});
    const char* asan = std::getenv("ASAN_OPTIONS");  // the shim comes before the sanitizer
    device.environment.push_back(
        {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"});
    EXPECT_EQ(runProcess(device).out, lines);
}

TEST_F(KeywatchProcess, FnShortcutSuppressionWindow) {
    const json events = json::array({
        {{"type", "flagsChanged"}, {"keyCode", 63}, {"flags", 0x800000}},  // opens the window
        {{"advance", 0.1}, {"type", "keyDown"}, {"keyCode", 63}},
        {{"advance", 0.1}, {"type", "systemDefined"}},
        {{"type", "keyDown"}, {"keyCode", 0}, {"flags", 0x800000}},  // Fn held
        {{"type", "keyUp"}, {"keyCode", 0}, {"flags", 0x800000}},
        {{"advance", 0.4}, {"type", "keyUp"}, {"keyCode", 179}, {"flags", 0x800000}},  // shut
        {{"type", "flagsChanged"}, {"keyCode", 63}, {"flags", 0}},  // release marks again
        {{"advance", 0.5}, {"type", "systemDefined"}},
        {{"advance", 0.05}, {"type", "systemDefined"}},  // 0.55 s after the mark: shut
    });
    const std::string pressed = fnHeld + "\nshortcut:dictate\n";
    const std::string rest = R"(keys:[{"keyCode":63,"keyName":"Fn","enKeyName":"Fn"},)"
                             R"({"keyCode":0,"keyName":"A","enKeyName":"A"}])"
                             "\n" +
                             fnHeld + "\n" + fnHeld + "\nshortcut-up:dictate\nkeys:[]\n";

    const Outcome filter = run(withEvents(events), {"--config-json", fnConfig}, "1");
    EXPECT_EQ(filter.result.out, readyDefault + pressed + rest);
    EXPECT_EQ(filter.effects(),
              (std::vector<std::string>{"swallowed", "swallowed", "swallowed", "passed", "passed",
                                        "passed", "passed", "swallowed", "passed"}));
    EXPECT_NE(filter.result.err.find("[hotkey-debug] blocked fn key event type=10 keyCode=63\n"
                                     "[hotkey-debug] blocked system-defined event during fn "
                                     "suppression window\n"),
              std::string::npos);

    // A listen-only tap holds nothing back, so the Fn key-down is handled like any other.
    const Outcome listen =
        run(withEvents(events, json::array({"hid-listen-only"})), {"--config-json", fnConfig}, "1");
    EXPECT_EQ(listen.result.out, readyHidListen + pressed + fnHeld + "\n" + rest);
    EXPECT_EQ(listen.effects(), std::vector<std::string>(events.size(), "passed"));
    for (const auto& record : recordsOf(listen.log, "deliver")) {
        EXPECT_EQ(record.at("returned"), "event");
    }
    EXPECT_EQ(listen.result.err.find("blocked"), std::string::npos);
}

TEST_F(KeywatchProcess, DisabledTapIsReEnabledEveryTime) {
    const Outcome r = run(withEvents(json::array({
        {{"type", "keyDown"}, {"keyCode", 0}},
        {{"type", "tapDisabledByTimeout"}},
        {{"type", "keyUp"}, {"keyCode", 0}},
        {{"type", "tapDisabledByUserInput"}},
        {{"type", "tapDisabledByTimeout"}},
        {{"type", "keyDown"}, {"keyCode", 1}},
        // Without the monitor pointer an event passes untouched and prints nothing.
        {{"type", "keyDown"}, {"keyCode", 2}, {"withoutUserInfo", true}},
    })));
    EXPECT_EQ(r.result.err,
              "[hotkey-helper] re-enabled event tap\n"
              "[hotkey-helper] re-enabled event tap\n"
              "[hotkey-helper] re-enabled event tap\n");
    EXPECT_EQ(r.result.out, readyDefault + R"(keys:[{"keyCode":0,"keyName":"A","enKeyName":"A"}])"
                                           "\n"
                                           "keys:[]\n"
                                           R"(keys:[{"keyCode":1,"keyName":"S","enKeyName":"S"}])"
                                           "\n");
    EXPECT_EQ(r.effects(), std::vector<std::string>(7, "passed"));
    EXPECT_EQ(recordsOf(r.log, "CGEventTapEnable").size(), 4u);
    EXPECT_EQ(r.liveObjects(), 3);
}

// What a Mac does that a single keyboard and a tap that always answers would hide: modifier
// state kept per keyboard, releases the tap never saw, taps that stop without a word, and the
// suite's own keystrokes.
TEST_F(KeywatchProcess, SeveralKeyboardsQuietTapsAndTheSuitesOwnKeys) {
    const json rightDown = {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100110}};
    const json rightUp = {{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100}};
    const json otherKeyboardA = {{"type", "keyDown"}, {"keyCode", 0}, {"flags", 0x100}};
    const json otherKeyboardAUp = {{"type", "keyUp"}, {"keyCode", 0}, {"flags", 0x100}};
    const std::string a = R"(keys:[{"keyCode":0,"keyName":"A","enKeyName":"A"}])";
    const std::string rightAndA =
        R"(keys:[{"keyCode":54,"keyName":"RightCmd","enKeyName":"RightCmd"},)"
        R"({"keyCode":0,"keyName":"A","enKeyName":"A"}])";
    const std::string pressed = rightCmd + "\nshortcut:transcript-start\n";
    const std::string released = "shortcut-up:transcript-start\nkeys:[]\n";
    const std::string reEnabled = "[hotkey-helper] re-enabled event tap\n";
    const json later = {{"advance", 2.5}, {"type", "systemDefined"}};
    const auto unseen = [](json event) {
        event["unseen"] = true;
        return event;
    };
    const auto asleep = [](json event) {
        event["asleep"] = 5;
        return event;
    };
    const json ownKey = {{"type", "keyDown"},
                         {"keyCode", 9},
                         {"flags", 0x100008},
                         {"sourceUserData", 0x68656C7065727331}};
    json ownKeyUp = ownKey;
    ownKeyUp["type"] = "keyUp";
    const std::string fnAndPaste =
        R"([{"id":"dictate","keyCode":0,"modifiers":["fn"],"eventType":"flagsChanged"},)"
        R"({"id":"paste","keyCode":9,"modifiers":["command"],"eventType":"keyDown"}])";
    struct Case {
        const char* name;
        json events;
        std::string out;  // after the ready line
        std::string err = "";
        int status = 0;
        bool keyState = true;
        std::vector<std::string> arguments = {};
    };
    const Case cases[] = {
        {"a second keyboard's key leaves the first one's Command held",
         json::array({rightDown, otherKeyboardA, otherKeyboardAUp, rightUp}),
         pressed + rightAndA + "\n" + rightCmd + "\n" + released},
        {"a release the tap missed: the watch asks the HID system",
         json::array({rightDown, unseen(rightUp), later}), pressed + released},
        {"a HID system that never confirmed the key releases nothing",
         json::array({rightDown, unseen(rightUp), later, otherKeyboardA}),
         pressed + rightAndA + "\n", "", 0, false},
        {"after a sleep the keyboard's first event says what is up",
         json::array({rightDown, unseen(rightUp), asleep(otherKeyboardA)}),
         pressed + released + a + "\n", "", 0, false},
        {"after a sleep the HID system is asked before the event",
         json::array({rightDown, unseen(rightUp), asleep(otherKeyboardA)}),
         pressed + released + a + "\n"},
        {"a sleep of a second is no gap",
         json::array(
             {rightDown, unseen(rightUp), {{"asleep", 1}, {"type", "keyDown"}, {"flags", 0x100}}}),
         pressed + rightAndA + "\n", "", 0, false},
        {"after a gap a key the HID system holds stays held",
         json::array({rightDown, {{"type", "tapDisabledByTimeout"}}, otherKeyboardA}),
         pressed + rightAndA + "\n", reEnabled},
        {"a tap stopped without a word is re-enabled by the watch",
         json::array({{{"type", "tapDisabledSilently"}},
                      otherKeyboardA,
                      {{"advance", 2.5}, {"type", "keyDown"}, {"keyCode", 1}}}),
         R"(keys:[{"keyCode":1,"keyName":"S","enKeyName":"S"}])"
         "\n",
         reEnabled},
        {"a tap found disabled three times running ends keywatch",
         json::array({{{"type", "tapDisabledSilently"}},
                      {{"advance", 2.1}, {"type", "tapDisabledSilently"}},
                      {{"advance", 2.0}, {"type", "tapDisabledSilently"}},
                      {{"advance", 2.0}, {"type", "keyDown"}, {"keyCode", 1}}}),
         "", reEnabled + reEnabled + "[hotkey-helper] event tap could not be re-enabled\n", 1},
        {"a tap that stops now and then is re-enabled each time",
         json::array({{{"type", "tapDisabledSilently"}},
                      {{"advance", 4.5}, {"type", "tapDisabledSilently"}},
                      {{"advance", 4.0}, {"type", "tapDisabledSilently"}},
                      {{"advance", 2.0}, {"type", "keyDown"}, {"keyCode", 1}}}),
         R"(keys:[{"keyCode":1,"keyName":"S","enKeyName":"S"}])"
         "\n",
         reEnabled + reEnabled + reEnabled},
        {"an invalidated tap ends keywatch",
         json::array(
             {rightDown, {{"type", "tapInvalidated"}}, {{"advance", 1}, {"type", "keyDown"}}}),
         pressed, "[hotkey-helper] event tap invalidated\n", 1},
        {"the suite's own Command+V is not the user's",
         json::array({{{"type", "flagsChanged"}, {"keyCode", 63}, {"flags", 0x800000}},
                      ownKey,
                      ownKeyUp,
                      {{"type", "flagsChanged"}, {"keyCode", 63}, {"flags", 0}}}),
         fnHeld + "\nshortcut:dictate\nshortcut-up:dictate\nkeys:[]\n",
         "",
         0,
         true,
         {"--config-json", fnAndPaste}},
    };
    size_t ticks = 0;
    for (const auto& c : cases) {
        json scenario = withEvents(c.events);
        scenario["keyboard"]["keyState"] = c.keyState;
        const Outcome r = run(scenario, c.arguments);
        EXPECT_EQ(r.result.out, readyDefault + c.out) << c.name;
        EXPECT_EQ(r.result.err, c.err) << c.name;
        EXPECT_EQ(r.result.exitStatus, c.status) << c.name;
        EXPECT_EQ(r.liveObjects(), 3) << c.name;
        // The watch: every 2 s, 0.5 s late at most.
        for (const auto& tick : recordsOf(r.log, "timer")) {
            EXPECT_EQ(tick, (json{{"op", "timer"}, {"interval", 2.0}, {"tolerance", 0.5}}));
            ++ticks;
        }
    }
    EXPECT_EQ(ticks, 11u);

    // A filter tap without Input Monitoring may hear no key-downs: said with debugging on only.
    json noInputMonitoring = withEvents(json::array());
    noInputMonitoring["keyboard"]["listenAccess"] = false;
    EXPECT_EQ(run(noInputMonitoring, {}, "1").result.err,
              "[hotkey-debug] filter tap without Input Monitoring: key-down shortcuts may go "
              "unheard\n");
    EXPECT_EQ(run(noInputMonitoring).result.err, "");
    noInputMonitoring["keyboard"]["grantedTaps"] = json::array({"hid-listen-only"});
    EXPECT_EQ(run(noInputMonitoring, {}, "1").result.err, "");
}

TEST_F(KeywatchProcess, DebugLinesOnlyWithExactlyOne) {
    const Outcome on = run(withEvents(rightCommandPressRelease), {}, "1");
    EXPECT_EQ(on.result.err,
              "[hotkey-debug] flagsChanged keyCode=54 flags=cmd transition=press\n"
              "[hotkey-debug] flagsChanged keyCode=54 flags=none transition=release\n");
    const Outcome off = run(withEvents(rightCommandPressRelease), {}, "true");
    EXPECT_EQ(off.result.err, "");
    EXPECT_EQ(off.result.out, on.result.out);
}

TEST_F(KeywatchProcess, ConfigurationFromTheCommandLine) {
    const std::string custom =
        R"([{"id":"hold/talk","keyCode":54,"modifiers":["Command"],"eventType":"flagsChanged"}])";
    const std::string customLines =
        readyDefault + rightCmd + "\nshortcut:hold/talk\nshortcut-up:hold/talk\nkeys:[]\n";
    const std::string defaultLines = readyDefault + rightCmd +
                                     "\nshortcut:transcript-start\nshortcut-up:transcript-start\n"
                                     "keys:[]\n";
    const json scenario = withEvents(rightCommandPressRelease);
    struct Case {
        std::vector<std::string> arguments;
        const std::string& expected;
    };
    const Case cases[] = {
        {{"--config-json", custom}, customLines},
        {{"--verbose", "--config-json", custom, "extra"}, customLines},
        {{custom, "--config-json"}, defaultLines},
        {{"--config-json", custom, "--config-json", "[]"}, customLines},
        {{"--config-json", "[]", "--config-json", custom}, defaultLines},
        {{"--config-json", "[{\"id\":\"x\""}, defaultLines},
        {{"--config-json=" + custom}, defaultLines},
    };
    for (const auto& c : cases) {
        const Outcome r = run(scenario, c.arguments);
        EXPECT_EQ(r.result.out, c.expected) << c.arguments.back();
        EXPECT_EQ(r.result.err, "");
        EXPECT_EQ(r.result.exitStatus, 0);
    }

    // With debugging on, what was not used says so, once, before the first event's lines.
    const std::pair<std::string, std::string> explained[] = {
        {"[{\"id\":\"x\"", "--config-json not used (it is not JSON, at byte 11)"},
        {"{}", "--config-json not used (it is not a list)"},
        {"[1e999]", "--config-json not used (it holds a number beyond any a shortcut can have)"},
        {R"([{"id":"s","keyCode":"54","modifiers":[],"eventType":"flagsChanged"}])",
         "--config-json not used (shortcut 1 keyCode is not an integer 0-65535)"},
    };
    const std::string defaultUsed = ": the default shortcut is used\n";
    const auto firstLine = [](const std::string& text) {
        return text.substr(0, text.find('\n') + 1);
    };
    for (const auto& [value, why] : explained) {
        EXPECT_EQ(firstLine(run(scenario, {"--config-json", value}, "1").result.err),
                  "[hotkey-debug] " + why + defaultUsed);
    }
    const std::string hyper =
        R"([{"id":"t","keyCode":54,"modifiers":["command","hyper"],"eventType":"flagsChanged"}])";
    const Outcome ignored = run(scenario, {"--config-json", hyper}, "1");
    EXPECT_EQ(firstLine(ignored.result.err),
              "[hotkey-debug] modifier \"hyper\" of shortcut \"t\" is no modifier name: ignored\n");
    EXPECT_EQ(ignored.result.out.find("shortcut:t\n") != std::string::npos, true);

    // Started with "--config-json" as its own name: the first argument is then the value.
    ProcessOptions renamed = options(scenario, {custom});
    renamed.program = renamed.arguments[0];
    renamed.arguments[0] = "--config-json";
    EXPECT_EQ(runProcess(renamed).out, customLines);
}

TEST_F(KeywatchProcess, EveryLineReachesThePipeWhileTheProcessRuns) {
    // Ready before any key: a host waits for this line.
    json idle = withEvents(json::array());
    idle["keyboard"]["keepRunning"] = true;
    Process waiting(options(idle));
    EXPECT_TRUE(
        waiting.waitForOutput([&](const std::string& out) { return out == readyDefault; }, 20));

    // The press from an event; the release, which the tap missed, from the watch's tick.
    json events = rightCommandPressRelease;
    events[1]["unseen"] = true;
    events.push_back({{"advance", 2.5}, {"type", "keyDown"}, {"unseen", true}});
    json scenario = withEvents(events);
    scenario["keyboard"]["keepRunning"] = true;
    // Terminated as the README says even by a host whose children start with SIGTERM ignored.
    ProcessOptions started = options(scenario);
    started.ignoredSignals = {SIGTERM};
    Process process(started);
    const std::string expected = readyDefault + rightCmd +
                                 "\nshortcut:transcript-start\nshortcut-up:transcript-start\n"
                                 "keys:[]\n";
    // The process is still running (blocked in its run loop), so nothing was flushed at exit.
    EXPECT_TRUE(process.waitForOutput([&](const std::string& out) { return out == expected; }, 20))
        << process.out();
    process.kill(SIGTERM);
    const ProcessResult result = process.finish();
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_EQ(result.out, expected);
}

TEST_F(KeywatchProcess, EndsAtItsNextLineOnceTheHostHasGoneThoughStartedIgnoringSigpipe) {
    json events = rightCommandPressRelease;
    events[1]["afterOutputClosed"] = true;
    json scenario = withEvents(events);
    scenario["keyboard"]["keepRunning"] = true;
    ProcessOptions started = options(scenario);
    started.ignoredSignals = {SIGPIPE};
    Process process(started);
    ASSERT_TRUE(process.waitForOutput(
        [&](const std::string& out) {
            return out == readyDefault + rightCmd + "\nshortcut:transcript-start\n";
        },
        20))
        << process.out();
    process.closeOutput();
    EXPECT_EQ(process.finish().signal, SIGPIPE);
}

// The shortcut lines of an output, in order.
std::vector<std::string> shortcutLines(const std::string& out) {
    std::vector<std::string> found;
    for (size_t start = 0, end = 0; start < out.size(); start = end + 1) {
        end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        if (line.rfind("shortcut", 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

// Right Command pressed and released `times` times, as a keyboard sends it.
json rightCommandPresses(int times) {
    json events = json::array();
    for (int i = 0; i < times; ++i) {
        events.push_back({{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0x100010}});
        events.push_back({{"type", "flagsChanged"}, {"keyCode", 54}, {"flags", 0}});
    }
    return events;
}

TEST_F(KeywatchProcess, NeverWaitsForAHostThatStoppedReading) {
    constexpr int presses = 2000;
    json scenario = withEvents(rightCommandPresses(presses));
    scenario["keyboard"]["keepRunning"] = true;
    ProcessOptions started = options(scenario);
    started.smallestOutputPipe = true;
    std::remove(dir.path("log.jsonl").c_str());
    Process process(started);
    // Nobody reads, and a page of pipe holds thirty presses: every event is still handled.
    EXPECT_TRUE(waitForDeliveries(2 * presses, 20));
    const std::string end = "shortcut-up:transcript-start\nkeys:[]\n";
    EXPECT_TRUE(process.waitForOutput(
        [&](const std::string& out) {
            return out.size() >= end.size() &&
                   out.compare(out.size() - end.size(), end.size(), end) == 0 &&
                   shortcutLines(out).size() == 2 * presses;
        },
        20));
    process.kill(SIGTERM);
    const ProcessResult result = process.finish();
    EXPECT_EQ(result.out.rfind(readyDefault, 0), 0u);
    const auto lines = shortcutLines(result.out);
    ASSERT_EQ(lines.size(), 2u * presses);
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i],
                  i % 2 == 0 ? "shortcut:transcript-start" : "shortcut-up:transcript-start")
            << i;
    }
}

TEST_F(KeywatchProcess, GivesTheTapUpWhenTheHostReadsNothingForLong) {
    // Lines of 100 kB fill the 16 MiB a host may leave unread in 84 presses.
    const std::string id(100000, 'x');
    const std::string config =
        R"([{"id":")" + id +
        R"(","keyCode":54,"modifiers":["command"],"eventType":"flagsChanged"}])";
    json scenario = withEvents(rightCommandPresses(200));
    scenario["keyboard"]["keepRunning"] = true;
    ProcessOptions started = options(scenario, {"--config-json", config});
    started.smallestOutputPipe = true;
    std::remove(dir.path("log.jsonl").c_str());
    Process process(started);
    ASSERT_TRUE(waitForDeliveries(168, 20));
    // Read now: everything written before the tap went, then the process ends on its own.
    const ProcessResult result = process.finish(60);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "[hotkey-helper] standard output not read: event tap given up\n");
    const auto log = readLog(dir.path("log.jsonl"));
    const auto delivered = recordsOf(log, "deliver").size();
    EXPECT_LT(delivered, 400u);
    EXPECT_EQ(recordsOf(log, "CGEventTapEnable").back().at("enable"), false);
    const auto lines = shortcutLines(result.out);
    ASSERT_EQ(lines.size(), delivered);  // each press and each release said, none after
    const auto exits = recordsOf(log, "exit");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0].at("liveObjects"), 3);
}

TEST_F(KeywatchProcess, BadScenarioIsTheStandinsOwnFailure) {
    ProcessOptions o = options(json::object());
    o.environment[0].second = dir.write("bad.json", "{not json");
    const ProcessResult result = runProcess(o);
    EXPECT_EQ(result.exitStatus, 70);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("standin: bad scenario: ", 0), 0u) << result.err;

    // A misspelt key is as bad as broken JSON: the test that wrote it cannot pass by accident.
    o.environment[0].second = dir.write("typo.json", R"({"keyboard":{"grantedtaps":[]}})");
    const ProcessResult typo = runProcess(o);
    EXPECT_EQ(typo.exitStatus, 70);
    EXPECT_EQ(typo.out, "");
    EXPECT_EQ(typo.err, "standin: bad scenario: unknown key keyboard.grantedtaps\n");

    // The system's own reason for a file that cannot be read; and an empty name is no file.
    o.environment[0].second = dir.path("missing.json");
    EXPECT_EQ(runProcess(o).err, "standin: bad scenario: cannot read " + dir.path("missing.json") +
                                     ": No such file or directory\n");
    o.environment[0].second = "";
    EXPECT_EQ(
        runProcess(o).err,
        "standin: bad scenario: STANDIN_SCENARIO is empty (unset it for the default world)\n");

    // A log that cannot be written is no silent test either.
    o.environment[0].second = dir.write("good.json", "{}");
    o.environment[1].second = dir.path("no-such-folder/log");
    const ProcessResult unlogged = runProcess(o);
    EXPECT_EQ(unlogged.exitStatus, 70);
    EXPECT_EQ(unlogged.err, "standin: bad scenario: cannot open STANDIN_LOG " +
                                dir.path("no-such-folder/log") + ": No such file or directory\n");
}

}  // namespace
