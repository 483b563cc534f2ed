#include "keywatch/shortcut_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<ShortcutConfig> parse(const std::string& value) {
    return parseShortcuts({"keywatch", "--config-json", value});
}

std::string shortcut(const std::string& fields) {
    return R"({"id":"s","keyCode":1,"modifiers":[],"eventType":"keyDown")" + fields + "}";
}

TEST(ParseShortcuts, FallsBackToTheDefaultListSilently) {
    const std::vector<std::vector<std::string>> argumentLists = {
        {},
        {"keywatch"},
        {"keywatch", "--config-json"},
        {"keywatch", "--config-json=[" + shortcut("") + "]"},
        {"keywatch", "--CONFIG-JSON", "[" + shortcut("") + "]"},
    };
    for (const auto& arguments : argumentLists) {
        EXPECT_EQ(parseShortcuts(arguments), defaultShortcuts());
    }
    // The program path is an argument like any other.
    const auto fromProgramPath = parseShortcuts({"--config-json", "[" + shortcut("") + "]"});
    ASSERT_EQ(fromProgramPath.size(), 1u);
    EXPECT_EQ(fromProgramPath[0].id, "s");

    const std::vector<std::string> rejected = {
        "[]",
        "{}",
        "null",
        "not json",
        "",
        shortcut(""),  // an object, not an array
        "[" + shortcut("") + ",",
        "[" + shortcut("") + "," + shortcut("") +
            R"(,{"id":"x","keyCode":1,"modifiers":[]}])",  // one lacks eventType
        R"([{"keyCode":1,"modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":1,"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":-1,"modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":65536,"modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":"54","modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":54.5,"modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":18446744073709551616,"modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":null,"modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":7,"keyCode":1,"modifiers":[],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":1,"modifiers":"command","eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":1,"modifiers":["command",1],"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":1,"modifiers":null,"eventType":"keyDown"}])",
        R"([{"id":"s","keyCode":1,"modifiers":[],"eventType":12}])",
        "[" + shortcut(R"(,"modifierKeyCodes":[1,65536])") + "]",
        "[" + shortcut(R"(,"modifierKeyCodes":"49")") + "]",
        "[" + shortcut(R"(,"modifierKeyCodes":[null])") + "]",
        "[" + shortcut("") + ",[]]",
        "[\"" + std::string("\xff\xfe") + "\"]",
        R"([{"id":"caf)" + std::string("\xc3") +
            R"(","keyCode":1,"modifiers":[],"eventType":"x"}])",
    };
    for (const auto& value : rejected) {
        EXPECT_EQ(parse(value), defaultShortcuts()) << value;
    }
}

TEST(ParseShortcuts, SurvivesDeeplyNestedAndHugeInput) {
    const size_t depth = 1'000'000;
    EXPECT_EQ(parse(std::string(depth, '[') + std::string(depth, ']')), defaultShortcuts());
    EXPECT_EQ(parse(std::string(depth, '[')), defaultShortcuts());
    EXPECT_EQ(parse("[" + std::string(depth, '{')), defaultShortcuts());

    const std::string longId(4'000'000, 'x');
    const auto parsed =
        parse(R"([{"id":")" + longId + R"(","keyCode":1,"modifiers":[],"eventType":"keyDown"}])");
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].id, longId);
}

TEST(ParseShortcuts, TakesValidDocumentsUnchangedAndInOrder) {
    const auto parsed = parse(R"([
        {"id":"dup","keyCode":0,"modifiers":["Cmd","command"],"eventType":"keyDown","extra":1},
        {"id":"dup","keyCode":65535,"modifiers":[],"modifierKeyCodes":null,"eventType":"?"},
        {"id":"","keyCode":52,"modifiers":[],"modifierKeyCodes":[],"eventType":"flagsChanged"},
        {"id":"n","keyCode":1,"modifiers":[],"modifierKeyCodes":[49,0,65535],"eventType":"k"}
    ])");
    ASSERT_EQ(parsed.size(), 4u);
    EXPECT_EQ(parsed[0].id, "dup");
    EXPECT_EQ(parsed[0].keyCode, 0);
    EXPECT_EQ(parsed[0].modifiers, (std::vector<std::string>{"Cmd", "command"}));
    EXPECT_FALSE(parsed[0].modifierKeyCodes.has_value());
    EXPECT_EQ(parsed[1].keyCode, 65535);
    EXPECT_FALSE(parsed[1].modifierKeyCodes.has_value());
    EXPECT_TRUE(parsed[1].requiredModifierKeyCodes().empty());
    ASSERT_TRUE(parsed[2].modifierKeyCodes.has_value());
    EXPECT_TRUE(parsed[2].modifierKeyCodes->empty());
    EXPECT_EQ(parsed[3].requiredModifierKeyCodes(), (std::vector<uint16_t>{49, 0, 65535}));
}

TEST(ParseShortcuts, ReadsOnlyTheValueAfterTheFirstOption) {
    const std::string first = "[" + shortcut("") + "]";
    const auto parsed =
        parseShortcuts({"keywatch", "--other", "--config-json", first, "--config-json", "[]"});
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].id, "s");

    // A value that looks like an option is still the value, and is rejected as JSON.
    EXPECT_EQ(parseShortcuts({"keywatch", "--config-json", "--config-json", first}),
              defaultShortcuts());
}

TEST(ShortcutConfig, RequiredFlagsFromModifierNames) {
    const auto flagsOf = [](std::vector<std::string> modifiers) {
        return ShortcutConfig{"s", 0, std::move(modifiers), std::nullopt, "keyDown"}
            .requiredFlags();
    };
    EXPECT_EQ(flagsOf({}), 0u);
    EXPECT_EQ(flagsOf({"Command", "SHIFT"}), 0x100000u | 0x20000u);
    EXPECT_EQ(flagsOf({"cmd"}), 0u);
    EXPECT_EQ(flagsOf({"ctrl"}), 0u);
    EXPECT_EQ(flagsOf({"option", "alternate"}), 0x80000u);
    EXPECT_EQ(flagsOf({"control", "control"}), 0x40000u);
    EXPECT_EQ(flagsOf({"Fn"}), 0x800000u);
    EXPECT_EQ(flagsOf({" command", "shift "}), 0u);
    // Full Unicode lower-casing: dotted capital I becomes i + U+0307, not a plain i.
    EXPECT_EQ(flagsOf({"OPT\u0130ON"}), 0u);
    EXPECT_EQ(flagsOf({"\xef\xbc\xa6N"}), 0u);  // fullwidth F
}

TEST(ShortcutConfig, KindsOfShortcut) {
    const auto make = [](std::vector<std::string> modifiers, std::string eventType) {
        return ShortcutConfig{"s", 0, std::move(modifiers), std::nullopt, std::move(eventType)};
    };
    EXPECT_TRUE(make({"fn"}, "flagsChanged").isFnShortcut());
    EXPECT_TRUE(make({"FN"}, "flagsChanged").isFnShortcut());
    EXPECT_TRUE(make({"fn", "fn", "cmd"}, "flagsChanged").isFnShortcut());
    EXPECT_FALSE(make({"fn", "command"}, "flagsChanged").isFnShortcut());
    EXPECT_TRUE(make({"fn", "command"}, "flagsChanged").isFlagsChangedShortcut());
    EXPECT_FALSE(make({"fn", "shift"}, "flagsChanged").isFnShortcut());
    EXPECT_FALSE(make({"fn"}, "keyDown").isFnShortcut());
    EXPECT_FALSE(make({"fn"}, "keyDown").isFlagsChangedShortcut());
    EXPECT_FALSE(make({"fn"}, "FlagsChanged").isFlagsChangedShortcut());
}

TEST(ShortcutConfig, DefaultListIsRightCommandAlone) {
    const auto shortcuts = defaultShortcuts();
    ASSERT_EQ(shortcuts.size(), 1u);
    EXPECT_EQ(shortcuts[0].id, "transcript-start");
    EXPECT_EQ(shortcuts[0].keyCode, 54);
    EXPECT_EQ(shortcuts[0].requiredFlags(), 0x100000u);
    EXPECT_TRUE(shortcuts[0].isFlagsChangedShortcut());
    EXPECT_FALSE(shortcuts[0].modifierKeyCodes.has_value());
    EXPECT_EQ(parse(R"([{"id":"transcript-start","keyCode":54,"modifiers":["command"],)"
                    R"("eventType":"flagsChanged"}])"),
              shortcuts);
}

}  // namespace
