// pastekey and copykey as processes: the key each finds in the layout, the events it posts, its
// messages and statuses, and the order of its platform calls as the stand-in log shows them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;
using Posted = std::vector<std::pair<int, bool>>;  // key code, key-down

struct Tool {
    const char* path;
    std::string tag;
    int usKey;  // the letter's key in the US layout, and the fallback
};
// pastekey, then copykey.
const Tool tools[] = {{PASTEKEY_PATH, "[paste-helper]", 9}, {COPYKEY_PATH, "[copy-helper]", 8}};

constexpr int commandFlag = 0x100000;
constexpr size_t keyCodesSearched = 128;

json withLayout(json layout) {
    return {{"inputSource", {{"layout", std::move(layout)}}}};
}

struct Outcome {
    ProcessResult result;
    std::vector<json> log;

    Posted posted() const {
        Posted events;
        for (const auto& record : recordsOf(log, "CGEventPost")) {
            events.emplace_back(record.at("keyCode").get<int>(), record.at("keyDown").get<bool>());
        }
        return events;
    }
    // Where the first record of `op` is; the log's size when there is none.
    size_t firstOf(const std::string& op) const {
        size_t at = 0;
        while (at < log.size() && log[at].at("op") != op) {
            ++at;
        }
        return at;
    }
};

class KeypostProcess : public ::testing::Test {
  protected:
    // Whatever the scenario: nothing on standard output and nothing left alive.
    Outcome run(const Tool& tool, const json& scenario) {
        std::remove(dir.path("log.jsonl").c_str());
        Outcome r{
            runProcess({
                .arguments = {tool.path},
                .environment = {{"STANDIN_SCENARIO", dir.write("scenario.json", scenario.dump())},
                                {"STANDIN_LOG", dir.path("log.jsonl")}},
                .stdinPath = std::nullopt,
                .stdoutPath = std::nullopt,
            }),
            {}};
        r.log = readLog(dir.path("log.jsonl"));
        EXPECT_FALSE(r.result.timedOut);
        EXPECT_EQ(r.result.out, "");
        const auto exits = recordsOf(r.log, "exit");
        EXPECT_EQ(exits.size(), 1u);
        EXPECT_EQ(exits.empty() ? -1 : exits[0].at("liveObjects").get<long>(), 0);
        return r;
    }

    ScratchDir dir;
};

json withKeylayout(const std::string& file) {
    return {{"keylayout", std::string(KEYLAYOUTS) + "/" + file}};
}

// A layout whose Command table types no letter: the keys are read without modifiers then.
constexpr const char* commandTableWithoutLetters = R"(<?xml version="1.1" encoding="UTF-8"?>
<keyboard group="126" id="-1" name="No letters with Command">
  <layouts><layout first="0" last="0" modifiers="m" mapSet="s"/></layouts>
  <modifierMap id="m" defaultIndex="0">
    <keyMapSelect mapIndex="0"><modifier keys=""/></keyMapSelect>
    <keyMapSelect mapIndex="1"><modifier keys="command"/></keyMapSelect>
  </modifierMap>
  <keyMapSet id="s">
    <keyMap index="0"><key code="47" output="v"/><key code="34" output="c"/></keyMap>
    <keyMap index="1"><key code="47" output="&#x0010;"/></keyMap>
  </keyMapSet>
</keyboard>)";

TEST_F(KeypostProcess, PostsTheKeyThatTypesTheLetterAskingKeysInOrderUntilTheFirstMatch) {
    enum class Lookup { withCommand, withoutModifiers, noKeyTypesIt, noLayout };
    struct Case {
        const char* name;
        json scenario;
        int pasteKey;
        int copyKey;
        Lookup lookup;
        const char* source = "TISCopyCurrentKeyboardLayoutInputSource";  // whose layout is read
    };
    json otherKeyboardType = withLayout({{"40", "v"}, {"41", "c"}});
    otherKeyboardType["keyboardType"] = 43;
    dir.write("no-letters-with-command.keylayout", commandTableWithoutLetters);
    const json dvorak = withKeylayout("dvorak.keylayout");
    const Case cases[] = {
        {"the US layout", json::object(), 9, 8, Lookup::withCommand},
        {"letters moved, their US keys typing others",
         withLayout({{"9", "k"}, {"8", "j"}, {"47", "v"}, {"34", "c"}}), 47, 34,
         Lookup::withCommand},
        {"keys typing the capitals", withLayout({{"20", "V"}, {"21", "C"}}), 20, 21,
         Lookup::withCommand},
        {"two keys typing each letter: the lower wins",
         withLayout({{"50", "v"}, {"12", "V"}, {"40", "c"}, {"41", "c"}}), 12, 40,
         Lookup::withCommand},
        {"a key typing two characters is no match",
         withLayout({{"3", "vv"}, {"4", "cv"}, {"60", "v"}, {"61", "c"}}), 60, 61,
         Lookup::withCommand},
        {"failing translations are passed over, even with the letter in the buffer",
         withLayout({{"2", {{"error", -25342}}},
                     {"5", {{"error", -50}}},
                     {"6", {{"error", -50}, {"text", "v"}}},
                     {"7", {{"error", -50}, {"text", "c"}}},
                     {"30", "v"},
                     {"31", "c"},
                     {"8", {{"error", -25340}}}}),
         30, 31, Lookup::withCommand},
        {"a dead key leaves nothing to the keys after it",
         withLayout({{"20", {{"deadKeyState", 3}}}, {"30", "v"}, {"31", "c"}}), 30, 31,
         Lookup::withCommand},
        {"the keyboard type of the moment", otherKeyboardType, 40, 41, Lookup::withCommand},
        {"a non-Latin layout: the fallback",
         withLayout({{"9", "\u043c"}, {"8", "\u0441"}, {"0", "\u0444"}, {"127", "\u044f"}}), 9, 8,
         Lookup::noKeyTypesIt},

        {"no source with layout data: the fallback", withLayout(nullptr), 9, 8, Lookup::noLayout},
        {"no input source: the fallback", {{"inputSource", nullptr}}, 9, 8, Lookup::noLayout},
        // Real layouts, read through their Command tables as the application reads the keys.
        {"Dvorak", {{"inputSource", dvorak}}, 47, 34, Lookup::withCommand},
        {"Dvorak - QWERTY Command: QWERTY under Command",
         {{"inputSource", withKeylayout("dvorak-qwerty-command.keylayout")}},
         9,
         8,
         Lookup::withCommand},
        {"Workman-P - QWERTY Command",
         {{"inputSource", withKeylayout("workman-p-qwerty-command.keylayout")}},
         9,
         8,
         Lookup::withCommand},
        {"Russian with a Latin Command table",
         {{"inputSource", withKeylayout("russian-universal.keylayout")}},
         9,
         8,
         Lookup::withCommand},
        {"no letter under Command: the keys without modifiers",
         {{"inputSource", {{"keylayout", "no-letters-with-command.keylayout"}}}},
         47,
         34,
         Lookup::withoutModifiers},
        // An input method has no layout data: the layout it types through counts.
        {"an input method over Dvorak",
         {{"inputSource", {{"layout", nullptr}}}, {"keyboardLayoutInputSource", dvorak}},
         47,
         34,
         Lookup::withCommand},
        {"an input method, only the ASCII-capable layout known",
         {{"inputSource", {{"layout", nullptr}}},
          {"keyboardLayoutInputSource", nullptr},
          {"asciiCapableInputSource", dvorak}},
         47,
         34,
         Lookup::withCommand,
         "TISCopyCurrentASCIICapableKeyboardLayoutInputSource"},
        {"no layout but the current source's",
         {{"keyboardLayoutInputSource", {{"layout", nullptr}}},
          {"asciiCapableInputSource", nullptr},
          {"inputSource", dvorak}},
         47,
         34,
         Lookup::withCommand,
         "TISCopyCurrentKeyboardInputSource"},
    };
    const std::vector<std::string> sources = {"TISCopyCurrentKeyboardLayoutInputSource",
                                              "TISCopyCurrentASCIICapableKeyboardLayoutInputSource",
                                              "TISCopyCurrentKeyboardInputSource"};
    for (const auto& c : cases) {
        for (size_t t = 0; t < std::size(tools); ++t) {
            const Tool& tool = tools[t];
            SCOPED_TRACE(std::string(c.name) + ", " + tool.tag);
            const Outcome r = run(tool, c.scenario);
            const int key = t == 0 ? c.pasteKey : c.copyKey;
            EXPECT_EQ(r.result.exitStatus, 0);
            EXPECT_EQ(r.result.err, "");
            EXPECT_EQ(r.posted(), (Posted{{key, true}, {key, false}}));
            // The sources in order, up to the first with layout data.
            std::vector<std::string> asked;
            for (const auto& record : r.log) {
                if (record.at("op").get<std::string>().rfind("TISCopy", 0) == 0) {
                    asked.push_back(record.at("op"));
                }
            }
            const auto read = std::find(sources.begin(), sources.end(), c.source);
            EXPECT_EQ(asked, c.lookup == Lookup::noLayout
                                 ? sources
                                 : std::vector<std::string>(sources.begin(), read + 1));
            // The Command table's keys first, then, where it has no match, the plain ones.
            std::vector<std::pair<size_t, int>> expected;  // key code, modifier state
            const size_t found = static_cast<size_t>(key) + 1;
            for (size_t i = 0; i < (c.lookup == Lookup::withCommand ? found
                                    : c.lookup == Lookup::noLayout  ? 0
                                                                    : keyCodesSearched);
                 ++i) {
                expected.emplace_back(i, 1);
            }
            if (c.lookup == Lookup::withoutModifiers || c.lookup == Lookup::noKeyTypesIt) {
                const size_t plain =
                    c.lookup == Lookup::withoutModifiers ? found : keyCodesSearched;
                for (size_t i = 0; i < plain; ++i) {
                    expected.emplace_back(i, 0);
                }
            }
            const auto translations = recordsOf(r.log, "UCKeyTranslate");
            EXPECT_EQ(translations.size(), expected.size());
            for (size_t i = 0; i < std::min(expected.size(), translations.size()); ++i) {
                const json& t = translations[i];
                EXPECT_EQ(t.at("keyCode"), expected[i].first);
                EXPECT_EQ(t.at("modifiers"), expected[i].second);
                EXPECT_EQ(t.at("deadKeyState"), 0) << "a fresh dead-key state for every key";
                EXPECT_EQ(t.at("action"), 3) << "kUCKeyActionDisplay";
                EXPECT_EQ(t.at("options"), 0);
                EXPECT_EQ(t.at("keyboardType"), c.scenario.value("keyboardType", 40));
            }
        }
    }
}

TEST_F(KeypostProcess, WithoutPermissionPostsNothingAfterLookingTheKeyUp) {
    // Without Accessibility, or without the right to post events (which the system would
    // drop in silence): the same message and status.
    const json scenarios[] = {{{"trusted", false}}, {{"keyboard", {{"postAccess", false}}}}};
    for (const auto& scenario : scenarios) {
        for (const auto& tool : tools) {
            SCOPED_TRACE(scenario.dump() + tool.tag);
            const Outcome r = run(tool, scenario);
            EXPECT_EQ(r.result.exitStatus, 2);
            EXPECT_EQ(r.result.err, tool.tag + " accessibility permission is required\n");
            for (const char* op :
                 {"CGEventSourceCreate", "CGEventCreateKeyboardEvent", "CGEventPost"}) {
                EXPECT_EQ(recordsOf(r.log, op).size(), 0u) << op;
            }
            // The whole lookup comes before the permission tests.
            const auto translations = recordsOf(r.log, "UCKeyTranslate");
            ASSERT_EQ(translations.size(), static_cast<size_t>(tool.usKey) + 1);
            EXPECT_LT(r.firstOf("TISCopyCurrentKeyboardLayoutInputSource"),
                      r.firstOf("UCKeyTranslate"));
            const bool trusted = scenario.value("trusted", true);
            EXPECT_EQ(r.log.at(r.firstOf("UCKeyTranslate") + translations.size()),
                      (json{{"op", "AXIsProcessTrusted"}, {"result", trusted}}));
            EXPECT_EQ(recordsOf(r.log, "CGPreflightPostEventAccess").size(), trusted ? 1u : 0u);
        }
    }
}

TEST_F(KeypostProcess, CommandDownThenUpAtTheHidLevelOrTheEventMessage) {
    struct Case {
        const char* name;
        json keyboard;
        int status;
        bool message;
        std::vector<bool> posted;  // key-down of each posted event
        size_t sources;
    };
    const auto failingCall = [](int call) {
        return json{{"failKeyboardEvents", json::array({call})}};
    };
    const json modifiersHeld = {{"heldFlags", 0x20000 | 0x40000 | 0x80000 | commandFlag}};
    const Case cases[] = {
        {"both events made", json::object(), 0, false, {true, false}, 2},
        {"Shift, Control, Option and Command held", modifiersHeld, 0, false, {true, false}, 2},
        {"no event source", {{"eventSource", false}}, 1, true, {}, 1},
        {"no key-down event: no key-up either", failingCall(1), 1, true, {}, 1},
        {"no key-up event: the press stands", failingCall(2), 0, true, {true}, 2},
    };
    for (const auto& c : cases) {
        for (const auto& tool : tools) {
            SCOPED_TRACE(std::string(c.name) + ", " + tool.tag);
            const Outcome r = run(tool, {{"keyboard", c.keyboard}});
            EXPECT_EQ(r.result.exitStatus, c.status);
            EXPECT_EQ(r.result.err, c.message ? tool.tag + " failed to create CGEvent\n" : "");
            // A source of its own for every event.
            const auto sources = recordsOf(r.log, "CGEventSourceCreate");
            EXPECT_EQ(sources.size(), c.sources);
            for (const auto& source : sources) {
                EXPECT_EQ(source.at("stateID"), 1) << "kCGEventSourceStateHIDSystemState";
            }
            for (const auto& made : recordsOf(r.log, "CGEventCreateKeyboardEvent")) {
                EXPECT_EQ(made.at("source"), 1) << "made from that source";
            }
            const auto posts = recordsOf(r.log, "CGEventPost");
            ASSERT_EQ(posts.size(), c.posted.size());
            for (size_t i = 0; i < posts.size(); ++i) {
                EXPECT_EQ(posts[i].at("keyDown"), c.posted[i]);
                EXPECT_EQ(posts[i].at("keyCode"), tool.usKey);
                EXPECT_EQ(posts[i].at("tap"), 0) << "kCGHIDEventTap";
                // Command with the left key's side bit, as a keyboard sends it, and the suite's
                // mark.
                EXPECT_EQ(posts[i].at("flags"), commandFlag | 0x8);
                EXPECT_EQ(posts[i].at("userData"), 0x68656C7065727331);
            }
            if (posts.size() == 2) {
                EXPECT_GE(
                    posts[1].at("monotonic").get<double>() - posts[0].at("monotonic").get<double>(),
                    0.012);
            }
        }
    }
}

}  // namespace
