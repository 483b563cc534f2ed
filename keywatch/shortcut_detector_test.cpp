#include "keywatch/shortcut_detector.h"

#include <gtest/gtest.h>

#include "platform/standin/standin.h"

namespace {

using Codes = std::vector<uint16_t>;

constexpr CGEventFlags command = 0x100000;
constexpr CGEventFlags shift = 0x20000;
constexpr CGEventFlags fn = 0x800000;

ShortcutConfig keyDownShortcut(std::string id, uint16_t keyCode, std::vector<std::string> modifiers,
                               std::optional<std::vector<uint16_t>> modifierKeyCodes = {}) {
    return {std::move(id), keyCode, std::move(modifiers), std::move(modifierKeyCodes), "keyDown"};
}

ShortcutConfig flagsShortcut(std::string id, uint16_t keyCode, std::vector<std::string> modifiers) {
    return {std::move(id), keyCode, std::move(modifiers), std::nullopt, "flagsChanged"};
}

std::vector<std::string> ids(const std::vector<ShortcutConfig>& shortcuts) {
    std::vector<std::string> out;
    for (const auto& s : shortcuts) {
        out.push_back(s.id);
    }
    return out;
}

class ShortcutDetectorTest : public ::testing::Test {
  protected:
    void SetUp() override { standin::loadScenario(R"({"clock": 1000.0})"); }
    ShortcutDetector detector{defaultShortcuts()};
};

TEST_F(ShortcutDetectorTest, HeldKeysKeepTheirFirstPlace) {
    detector.handleKeyDown(0);
    detector.handleKeyDown(1);
    standin::advanceClock(9.0);
    detector.handleKeyDown(0);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{0, 1}));
    // The repeat refreshed 0's time: 10.5 s after the first press only 1 is stale.
    standin::advanceClock(1.5);
    detector.handleKeyDown(2);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{0, 2}));

    detector.handleKeyUp(7);  // not held: no effect
    detector.handleKeyUp(0);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{2}));
    EXPECT_FALSE(detector.isKeyPressed(0));
}

TEST_F(ShortcutDetectorTest, NavigationKeyUpReleasesItsPair) {
    detector.handleKeyDown(115);
    detector.handleKeyDown(123);
    detector.handleKeyDown(5);
    detector.handleKeyUp(123);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{5}));

    detector.handleKeyDown(124);
    detector.handleKeyUp(119);  // End not held, its pair is
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{5}));

    for (auto [a, b] : {std::pair{116, 126}, {121, 125}, {126, 116}, {125, 121}}) {
        detector.handleKeyDown(static_cast<uint16_t>(b));
        detector.handleKeyUp(static_cast<uint16_t>(a));
        EXPECT_FALSE(detector.isKeyPressed(static_cast<uint16_t>(b))) << a;
    }
}

TEST_F(ShortcutDetectorTest, StaleKeysAreDroppedStrictlyAfterTenSeconds) {
    detector.handleKeyDown(56);  // Left Shift, becomes older than 10 s
    standin::advanceClock(0.25);
    detector.handleKeyDown(0);    // becomes exactly 10 s old
    detector.handleKeyDown(54);   // the default shortcut's key: never stale
    detector.handleKeyDown(115);  // navigation: never stale
    detector.handleKeyDown(126);
    standin::advanceClock(10.0);
    detector.handleKeyDown(3);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{0, 54, 115, 126, 3}));

    standin::advanceClock(0.001);
    detector.cleanupStaleKeys();
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{54, 115, 126, 3}));

    // Shift was dropped while down: its release is now nothing.
    EXPECT_EQ(detector.resolveModifierTransition(56, 0), KeyTransition::none);

    // A stale key pressed again is dropped first, then comes back at the end.
    standin::advanceClock(1.0);
    detector.handleKeyDown(116);
    standin::advanceClock(9.5);
    detector.handleKeyDown(3);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{54, 115, 126, 116, 3}));

    // A clock jump forward drops every other held key at the next key-down.
    detector.handleKeyDown(1);
    standin::advanceClock(3600.0);
    detector.handleKeyDown(2);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{54, 115, 126, 116, 2}));

    // The wall clock's steps (a time sync, the user's change) are no time passing.
    standin::stepWallClock(3600.0);
    detector.handleKeyDown(4);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{54, 115, 126, 116, 2, 4}));
}

TEST_F(ShortcutDetectorTest, FnShortcutProtectsBothFnKeysFromCleanup) {
    ShortcutDetector fnDetector({flagsShortcut("dictate", 0, {"fn"})});
    fnDetector.handleKeyDown(63);
    fnDetector.handleKeyDown(179);
    fnDetector.handleKeyDown(0);
    standin::advanceClock(11.0);
    fnDetector.handleKeyDown(1);
    EXPECT_EQ(fnDetector.currentPressingKeyCodes(), (Codes{63, 179, 1}));
}

TEST_F(ShortcutDetectorTest, KeyDownMatchNeedsExactFlagsAndHeldModifierKeys) {
    ShortcutDetector d({keyDownShortcut("a", 0, {"command"}, Codes{49}),
                        keyDownShortcut("b", 0, {"command"}), flagsShortcut("c", 0, {"command"}),
                        keyDownShortcut("d", 0, {"Command", "cmd"})});
    d.handleKeyDown(0);
    EXPECT_EQ(ids(d.matchesKeyDownShortcut(0, command)), (std::vector<std::string>{"b", "d"}));
    d.handleKeyDown(49);
    EXPECT_EQ(ids(d.matchesKeyDownShortcut(0, command)), (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_TRUE(d.matchesKeyDownShortcut(0, command | shift).empty());
    EXPECT_TRUE(d.matchesKeyDownShortcut(0, 0).empty());
    EXPECT_TRUE(d.matchesKeyDownShortcut(1, command).empty());
}

TEST_F(ShortcutDetectorTest, FlagsChangedMatch) {
    ShortcutDetector d({flagsShortcut("fn", 0, {"fn"}), flagsShortcut("rc", 54, {"command"}),
                        keyDownShortcut("kd", 54, {"command"}),
                        flagsShortcut("rc2", 54, {"COMMAND"})});
    EXPECT_EQ(ids(d.matchesFlagsChangedShortcut(63, fn)), (std::vector<std::string>{"fn"}));
    EXPECT_EQ(ids(d.matchesFlagsChangedShortcut(179, fn)), (std::vector<std::string>{"fn"}));
    EXPECT_TRUE(d.matchesFlagsChangedShortcut(0, fn).empty());
    EXPECT_TRUE(d.matchesFlagsChangedShortcut(63, fn | shift).empty());
    EXPECT_EQ(ids(d.matchesFlagsChangedShortcut(54, command)),
              (std::vector<std::string>{"rc", "rc2"}));
    EXPECT_TRUE(d.matchesFlagsChangedShortcut(54, command | shift).empty());
    EXPECT_EQ(d.resolveModifierTransition(0, fn), KeyTransition::none);
}

TEST_F(ShortcutDetectorTest, ModifierTransitions) {
    EXPECT_EQ(detector.resolveModifierTransition(57, 0x10000), KeyTransition::none);
    EXPECT_EQ(detector.resolveModifierTransition(57, 0), KeyTransition::none);
    EXPECT_EQ(detector.resolveModifierTransition(55, 0), KeyTransition::none);
    EXPECT_EQ(detector.resolveModifierTransition(55, command), KeyTransition::press);
    // Device-dependent bits are not consulted: only the shared bit counts.
    EXPECT_EQ(detector.resolveModifierTransition(55, 0x8), KeyTransition::none);

    detector.handleKeyDown(55);
    EXPECT_EQ(detector.resolveModifierTransition(55, command), KeyTransition::none);
    EXPECT_EQ(detector.resolveModifierTransition(54, command), KeyTransition::press);
    detector.handleKeyDown(54);
    // One side released while the other stays down keeps the bit set.
    EXPECT_EQ(detector.resolveModifierTransition(54, command), KeyTransition::release);
    detector.handleKeyUp(54);
    EXPECT_EQ(detector.currentPressingKeyCodes(), (Codes{55}));
    EXPECT_EQ(detector.resolveModifierTransition(55, 0), KeyTransition::release);

    // A missed release of 54, then a new press: none, and the next release removes it.
    detector.handleKeyUp(55);
    detector.handleKeyDown(54);
    EXPECT_EQ(detector.resolveModifierTransition(54, command), KeyTransition::none);
    EXPECT_EQ(detector.resolveModifierTransition(54, 0), KeyTransition::release);
}

TEST_F(ShortcutDetectorTest, SideBitsTellWhichKeyOfAPairIsDown) {
    constexpr CGEventFlags leftCmd = 0x8, rightCmd = 0x10, leftShift = 0x2, rightCtrl = 0x2000;
    detector.handleKeyDown(54);
    // Own bit set: a press of a key not held, nothing for one held; clear: a release.
    EXPECT_EQ(detector.sideBitTransition(55, command | leftCmd | rightCmd), KeyTransition::press);
    EXPECT_EQ(detector.sideBitTransition(54, command | leftCmd | rightCmd), KeyTransition::none);
    EXPECT_EQ(detector.sideBitTransition(54, command | leftCmd), KeyTransition::release);
    EXPECT_EQ(detector.sideBitTransition(55, command | rightCmd), KeyTransition::none);
    // No side bit of the pair, or no pair (Fn): the shared bit's rules decide.
    EXPECT_EQ(detector.sideBitTransition(54, command | leftShift), std::nullopt);
    EXPECT_EQ(detector.sideBitTransition(63, fn), std::nullopt);

    EXPECT_TRUE(ShortcutDetector::isReportedUp(54, command | leftCmd));
    EXPECT_FALSE(ShortcutDetector::isReportedUp(54, command));
    EXPECT_TRUE(ShortcutDetector::isReportedUp(54, shift | leftShift));
    EXPECT_TRUE(ShortcutDetector::isReportedUp(59, 0x40000 | rightCtrl));
    EXPECT_FALSE(ShortcutDetector::isReportedUp(62, 0x40000 | rightCtrl));
    EXPECT_TRUE(ShortcutDetector::isReportedUp(179, command));
    EXPECT_FALSE(ShortcutDetector::isReportedUp(63, fn));
    EXPECT_FALSE(ShortcutDetector::isReportedUp(0, 0));  // not a modifier key
}

TEST(ShortcutDetectorStatic, ModifierTable) {
    const std::pair<uint16_t, uint16_t> partners[] = {
        {54, 55}, {56, 60}, {58, 61}, {59, 62}, {63, 179}};
    for (auto [a, b] : partners) {
        EXPECT_EQ(ShortcutDetector::getOtherModifierKey(a), b);
        EXPECT_EQ(ShortcutDetector::getOtherModifierKey(b), a);
        EXPECT_TRUE(ShortcutDetector::isModifierKey(a));
    }
    EXPECT_EQ(ShortcutDetector::getOtherModifierKey(0), 0xFFFF);
    EXPECT_EQ(ShortcutDetector::getOtherModifierKey(57), 0xFFFF);
    EXPECT_FALSE(ShortcutDetector::isModifierKey(57));
    EXPECT_TRUE(ShortcutDetector::isModifierActive(60, shift));
    EXPECT_FALSE(ShortcutDetector::isModifierActive(60, command));
    EXPECT_TRUE(ShortcutDetector::isModifierActive(59, 0x40000));
    EXPECT_TRUE(ShortcutDetector::isModifierActive(61, 0x80000));
    EXPECT_FALSE(ShortcutDetector::isModifierActive(0, ~CGEventFlags{0}));
}

TEST_F(ShortcutDetectorTest, FnSuppressionAnswer) {
    ShortcutDetector d(
        {flagsShortcut("dictate", 0, {"fn"}), flagsShortcut("combo", 63, {"fn", "shift"})});
    EXPECT_TRUE(d.shouldSuppressFlagsChangedEvent(63, fn, {}));
    EXPECT_TRUE(d.shouldSuppressFlagsChangedEvent(179, fn | shift, {}));
    EXPECT_FALSE(d.shouldSuppressFlagsChangedEvent(63, 0, {}));
    EXPECT_FALSE(d.shouldSuppressFlagsChangedEvent(63, 0, {"combo", "other"}));
    EXPECT_TRUE(d.shouldSuppressFlagsChangedEvent(63, 0, {"dictate"}));
    EXPECT_FALSE(d.shouldSuppressFlagsChangedEvent(54, fn, {"dictate"}));
    EXPECT_FALSE(detector.shouldSuppressFlagsChangedEvent(63, 0, {"transcript-start"}));
}

}  // namespace
