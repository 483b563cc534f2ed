// pastekey and copykey as processes: the key each finds in the layout, the events it posts, its
// messages and statuses, and the order of its platform calls as the stand-in log shows them.
#include <gtest/gtest.h>

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
        EXPECT_EQ(recordsOf(r.log, "exit"),
                  (std::vector<json>{{{"op", "exit"}, {"liveObjects", 0}}}));
        return r;
    }

    ScratchDir dir;
};

TEST_F(KeypostProcess, PostsTheKeyThatTypesTheLetterAskingKeysInOrderUntilTheFirstMatch) {
    enum class Lookup { found, noKeyTypesIt, noLayout };
    struct Case {
        const char* name;
        json scenario;
        int pasteKey;
        int copyKey;
        Lookup lookup;
    };
    json otherKeyboardType = withLayout({{"40", "v"}, {"41", "c"}});
    otherKeyboardType["keyboardType"] = 43;
    const Case cases[] = {
        {"the US layout", json::object(), 9, 8, Lookup::found},
        {"letters moved, their US keys typing others",
         withLayout({{"9", "k"}, {"8", "j"}, {"47", "v"}, {"34", "c"}}), 47, 34, Lookup::found},
        {"keys typing the capitals", withLayout({{"20", "V"}, {"21", "C"}}), 20, 21, Lookup::found},
        {"two keys typing each letter: the lower wins",
         withLayout({{"50", "v"}, {"12", "V"}, {"40", "c"}, {"41", "c"}}), 12, 40, Lookup::found},
        {"a key typing two characters is no match",
         withLayout({{"3", "vv"}, {"4", "cv"}, {"60", "v"}, {"61", "c"}}), 60, 61, Lookup::found},
        {"failing translations are passed over, even with the letter in the buffer",
         withLayout({{"2", {{"error", -25342}}},
                     {"5", {{"error", -50}}},
                     {"6", {{"error", -50}, {"text", "v"}}},
                     {"7", {{"error", -50}, {"text", "c"}}},
                     {"30", "v"},
                     {"31", "c"},
                     {"8", {{"error", -25340}}}}),
         30, 31, Lookup::found},
        {"a dead key leaves nothing to the keys after it",
         withLayout({{"20", {{"deadKeyState", 3}}}, {"30", "v"}, {"31", "c"}}), 30, 31,
         Lookup::found},
        {"the keyboard type of the moment", otherKeyboardType, 40, 41, Lookup::found},
        {"a non-Latin layout: the fallback",
         withLayout({{"9", "\u043c"}, {"8", "\u0441"}, {"0", "\u0444"}, {"127", "\u044f"}}), 9, 8,
         Lookup::noKeyTypesIt},
        {"the letters only beyond key 127: the fallback", withLayout({{"128", "v"}, {"129", "c"}}),
         9, 8, Lookup::noKeyTypesIt},
        {"a source without layout data: the fallback", withLayout(nullptr), 9, 8, Lookup::noLayout},
        {"no input source: the fallback", {{"inputSource", nullptr}}, 9, 8, Lookup::noLayout},
    };
    for (const auto& c : cases) {
        for (size_t t = 0; t < std::size(tools); ++t) {
            const Tool& tool = tools[t];
            SCOPED_TRACE(std::string(c.name) + ", " + tool.tag);
            const Outcome r = run(tool, c.scenario);
            const int key = t == 0 ? c.pasteKey : c.copyKey;
            EXPECT_EQ(r.result.exitStatus, 0);
            EXPECT_EQ(r.result.err, "");
            EXPECT_EQ(r.posted(), (Posted{{key, true}, {key, false}}));
            EXPECT_EQ(recordsOf(r.log, "TISCopyCurrentKeyboardInputSource").size(), 1u);
            const auto translations = recordsOf(r.log, "UCKeyTranslate");
            const size_t asked = c.lookup == Lookup::found          ? static_cast<size_t>(key) + 1
                                 : c.lookup == Lookup::noKeyTypesIt ? keyCodesSearched
                                                                    : 0;
            ASSERT_EQ(translations.size(), asked);
            for (size_t i = 0; i < asked; ++i) {
                const json& t = translations[i];
                EXPECT_EQ(t.at("keyCode"), i);
                EXPECT_EQ(t.at("deadKeyState"), 0) << "a fresh dead-key state for every key";
                EXPECT_EQ(t.at("action"), 3) << "kUCKeyActionDisplay";
                EXPECT_EQ(t.at("modifiers"), 0);
                EXPECT_EQ(t.at("options"), 0);
                EXPECT_EQ(t.at("keyboardType"), c.scenario.value("keyboardType", 40));
            }
        }
    }
}

TEST_F(KeypostProcess, WithoutPermissionPostsNothingAfterLookingTheKeyUp) {
    for (const auto& tool : tools) {
        SCOPED_TRACE(tool.tag);
        const Outcome r = run(tool, {{"trusted", false}});
        EXPECT_EQ(r.result.exitStatus, 2);
        EXPECT_EQ(r.result.err, tool.tag + " accessibility permission is required\n");
        for (const char* op :
             {"CGEventSourceCreate", "CGEventCreateKeyboardEvent", "CGEventPost"}) {
            EXPECT_EQ(recordsOf(r.log, op).size(), 0u) << op;
        }
        // The whole lookup comes before the permission test.
        const auto translations = recordsOf(r.log, "UCKeyTranslate");
        ASSERT_EQ(translations.size(), static_cast<size_t>(tool.usKey) + 1);
        EXPECT_LT(r.firstOf("TISCopyCurrentKeyboardInputSource"), r.firstOf("UCKeyTranslate"));
        EXPECT_EQ(r.log.at(r.firstOf("UCKeyTranslate") + translations.size()),
                  (json{{"op", "AXIsProcessTrusted"}, {"result", false}}));
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
                EXPECT_EQ(posts[i].at("flags"), commandFlag);
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
