#include "keywatch/keyboard_monitor.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/core_foundation.h"
#include "platform/standin/standin.h"

namespace {

constexpr CGEventFlags command = 0x100000;
constexpr CGEventFlags shift = 0x20000;
constexpr CGEventFlags fn = 0x800000;
constexpr uint32_t systemDefined = 14;

const std::string rightCmdHeld =
    R"(keys:[{"keyCode":54,"keyName":"RightCmd","enKeyName":"RightCmd"}])";

// A file whose contents can be read back as text: a regular file never makes a writer wait.
class Capture {
  public:
    Capture() : file(std::tmpfile()) {}
    ~Capture() { std::fclose(file); }
    int fd() const { return fileno(file); }
    // Everything written since the last take.
    std::string take() {
        std::string fresh;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::pread(fd(), buffer, sizeof buffer, consumed)) > 0) {
            fresh.append(buffer, static_cast<size_t>(got));
            consumed += got;
        }
        return fresh;
    }

  private:
    FILE* file;
    off_t consumed = 0;
};

class KeyboardMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::loadScenario(R"({"clock": 5000.0})");
        unsetenv("HOTKEY_MONITOR_DEBUG");
    }

    KeyboardMonitor& monitor(std::vector<ShortcutConfig> shortcuts = defaultShortcuts()) {
        built.emplace(std::move(shortcuts), out.fd(), err.fd());
        return *built;
    }

    // Hands one event to the monitor, the keyboard's own unless a process posted it; true when
    // it was passed on.
    bool send(uint32_t type, int64_t keyCode, CGEventFlags flags = 0, int64_t sourcePid = 0) {
        CFRef<CGEventRef> event(
            standin::createEvent(static_cast<CGEventType>(type), keyCode, flags, sourcePid));
        CGEventRef returned = built->handle(type, event.get());
        EXPECT_TRUE(returned == nullptr || returned == event.get());
        return returned != nullptr;
    }

    Capture out;
    Capture err;
    std::optional<KeyboardMonitor> built;
};

ShortcutConfig fnShortcut(std::string id = "dictate") {
    return {std::move(id), 0, {"fn"}, std::nullopt, "flagsChanged"};
}

ShortcutConfig keyDownShortcut(std::string id, uint16_t keyCode,
                               std::vector<std::string> modifiers) {
    return {std::move(id), keyCode, std::move(modifiers), std::nullopt, "keyDown"};
}

TEST_F(KeyboardMonitorTest, RightCommandPressAndReleaseWithTheDefaultConfiguration) {
    setenv("HOTKEY_MONITOR_DEBUG", "1", 1);
    monitor();
    EXPECT_TRUE(send(kCGEventFlagsChanged, 54, command | 0x10 | 0x100));
    EXPECT_EQ(out.take(), rightCmdHeld + "\nshortcut:transcript-start\n");
    EXPECT_EQ(err.take(), "[hotkey-debug] flagsChanged keyCode=54 flags=cmd transition=press\n");

    EXPECT_TRUE(send(kCGEventFlagsChanged, 54, 0x100));
    EXPECT_EQ(out.take(), "shortcut-up:transcript-start\nkeys:[]\n");
    EXPECT_EQ(err.take(), "[hotkey-debug] flagsChanged keyCode=54 flags=none transition=release\n");

    // With Shift held the press is not the shortcut.
    EXPECT_TRUE(send(kCGEventFlagsChanged, 56, shift));
    EXPECT_TRUE(send(kCGEventFlagsChanged, 54, shift | command));
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":56,"keyName":"LeftShift","enKeyName":"LeftShift"}])"
                          "\n"
                          R"(keys:[{"keyCode":56,"keyName":"LeftShift","enKeyName":"LeftShift"},)"
                          R"({"keyCode":54,"keyName":"RightCmd","enKeyName":"RightCmd"}])"
                          "\n");
    EXPECT_EQ(err.take(),
              "[hotkey-debug] flagsChanged keyCode=56 flags=shift transition=press\n"
              "[hotkey-debug] flagsChanged keyCode=54 flags=cmd+shift transition=press\n");
}

TEST_F(KeyboardMonitorTest, AnotherKeyboardsEventReleasesAModifierOnlyAfterAGap) {
    constexpr CGEventFlags left = 0x8, right = 0x10;
    const std::string a = R"(keys:[{"keyCode":0,"keyName":"A","enKeyName":"A"}])";
    const std::string rightCmdAndA =
        R"(keys:[{"keyCode":54,"keyName":"RightCmd","enKeyName":"RightCmd"},)"
        R"({"keyCode":0,"keyName":"A","enKeyName":"A"}])";
    monitor();
    send(kCGEventFlagsChanged, 54, command | right);
    out.take();
    // Modifier state is kept per keyboard: a second keyboard's key says nothing of the first's.
    send(kCGEventKeyDown, 0, 0x100);
    send(kCGEventKeyUp, 0, 0x100);
    EXPECT_EQ(out.take(), rightCmdAndA + "\n" + rightCmdHeld + "\n");

    // After a gap (here a disabled tap) the keyboard's first event is all there is to go by; a
    // process's event (pastekey's Command+V) says nothing and leaves the gap open.
    send(kCGEventTapDisabledByTimeout, 0);
    send(kCGEventKeyDown, 9, command, 4242);
    send(kCGEventKeyUp, 9, command, 4242);
    EXPECT_EQ(out.take().find("shortcut-up"), std::string::npos);
    EXPECT_TRUE(send(kCGEventKeyDown, 0));
    EXPECT_EQ(out.take(), "shortcut-up:transcript-start\nkeys:[]\n" + a + "\n");
    send(kCGEventKeyUp, 0);
    // Only that one event: the gap is closed.
    send(kCGEventFlagsChanged, 54, command | right);
    out.take();
    send(kCGEventFlagsChanged, 56, shift | 0x2);
    EXPECT_EQ(out.take().find("shortcut-up"), std::string::npos);
    send(kCGEventFlagsChanged, 56, command | right);
    send(kCGEventFlagsChanged, 54, 0);
    out.take();

    // A key's own side bit still reads its press and release where the shared bit stays set.
    send(kCGEventFlagsChanged, 54, command | right);
    send(kCGEventFlagsChanged, 55, command | right | left);
    out.take();
    send(kCGEventFlagsChanged, 55, command | right | left);
    EXPECT_EQ(out.take(), "");
    send(kCGEventFlagsChanged, 54, command | left);
    EXPECT_EQ(out.take(),
              "shortcut-up:transcript-start\n"
              R"(keys:[{"keyCode":55,"keyName":"LeftCmd","enKeyName":"LeftCmd"}])"
              "\n");
}

TEST_F(KeyboardMonitorTest, DebugLinesNeedExactlyOne) {
    for (const char* value : {"true", "01", " 1", "1 ", "", "2"}) {
        setenv("HOTKEY_MONITOR_DEBUG", value, 1);
        monitor({fnShortcut()});
        send(kCGEventKeyDown, 0);
        // Events held back in the Fn window say nothing either.
        send(kCGEventFlagsChanged, 63, fn);
        EXPECT_FALSE(send(kCGEventKeyDown, 63));
        EXPECT_FALSE(send(systemDefined, 0));
        EXPECT_EQ(err.take(), "") << '"' << value << '"';
    }
    setenv("HOTKEY_MONITOR_DEBUG", "1", 1);
    monitor();
    send(kCGEventKeyDown, 0, fn | command | shift | 0x80000 | 0x40000);
    send(kCGEventKeyUp, 0);
    send(systemDefined, 0);
    send(kCGEventFlagsChanged, 57, 0x10000);
    EXPECT_EQ(err.take(),
              "[hotkey-debug] keyDown keyCode=0 flags=fn+cmd+shift+option+ctrl\n"
              "[hotkey-debug] keyUp keyCode=0\n"
              "[hotkey-debug] flagsChanged keyCode=57 flags=none transition=none\n");
}

TEST_F(KeyboardMonitorTest, KeyDownShortcutWithAutoRepeat) {
    monitor({keyDownShortcut("paste", 9, {"command"}), keyDownShortcut("paste", 9, {"command"}),
             keyDownShortcut("also", 9, {"Command"})});
    send(kCGEventFlagsChanged, 55, command);
    out.take();
    EXPECT_TRUE(send(kCGEventKeyDown, 9, command));
    const std::string held = R"(keys:[{"keyCode":55,"keyName":"LeftCmd","enKeyName":"LeftCmd"},)"
                             R"({"keyCode":9,"keyName":"V","enKeyName":"V"}])";
    EXPECT_EQ(out.take(), held + "\nshortcut:paste\nshortcut:also\n");
    EXPECT_TRUE(send(kCGEventKeyDown, 9, command));
    EXPECT_EQ(out.take(), held + "\n");

    // Releasing the modifier does not release a key-down shortcut; its own key does.
    EXPECT_TRUE(send(kCGEventFlagsChanged, 55, 0));
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":9,"keyName":"V","enKeyName":"V"}])"
                          "\n");
    EXPECT_TRUE(send(kCGEventKeyUp, 9));
    EXPECT_EQ(out.take(), "shortcut-up:paste\nshortcut-up:also\nkeys:[]\n");

    // A key-up of a key that is not held still reports the (empty) state.
    EXPECT_TRUE(send(kCGEventKeyUp, 9));
    EXPECT_EQ(out.take(), "keys:[]\n");
}

TEST_F(KeyboardMonitorTest, FnBitOfFunctionKeysCountsOnlyWhileFnIsHeld) {
    // Whether a key-down with the flags a Mac sends fires a shortcut "s", Fn held by `fnKey`.
    const auto fires = [&](uint16_t key, std::vector<std::string> modifiers, uint16_t fnKey,
                           CGEventFlags flags) {
        monitor({keyDownShortcut("s", key, std::move(modifiers))});
        if (fnKey != 0) {
            send(kCGEventFlagsChanged, fnKey, fn);
        }
        out.take();
        send(kCGEventKeyDown, key, flags);
        return out.take().find("shortcut:s\n") != std::string::npos;
    };
    constexpr uint16_t left = 123;
    EXPECT_TRUE(fires(left, {"command"}, 0, command | fn));
    EXPECT_FALSE(fires(left, {"fn"}, 0, fn));
    EXPECT_TRUE(fires(left, {"fn"}, 63, fn));
    EXPECT_TRUE(fires(left, {"fn"}, 179, fn));
    // F1 to F20, the arrows, Home, End, Page Up/Down, Forward Delete, Help (Events.h).
    for (const uint16_t key :
         {122, 120, 99, 118, 96, 97,  98,  100, 101, 109, 103, 111, 105, 107, 113,
          106, 64,  79, 80,  90, 123, 124, 125, 126, 115, 119, 116, 121, 117, 114}) {
        EXPECT_TRUE(fires(key, {}, 0, fn)) << key;
    }
}

TEST_F(KeyboardMonitorTest, RepeatedKeyDownPrintsTheHeldListAsItIsNow) {
    monitor();
    send(kCGEventKeyDown, 0);
    standin::advanceClock(5.0);
    send(kCGEventKeyDown, 1);
    out.take();
    const std::string a = R"({"keyCode":0,"keyName":"A","enKeyName":"A"})";
    const std::string s = R"({"keyCode":1,"keyName":"S","enKeyName":"S"})";
    send(kCGEventKeyDown, 1);
    EXPECT_EQ(out.take(), "keys:[" + a + "," + s + "]\n");
    // The same repeat once A has gone stale: the list it prints has lost A.
    standin::advanceClock(5.5);
    send(kCGEventKeyDown, 1);
    EXPECT_EQ(out.take(), "keys:[" + s + "]\n");
}

TEST_F(KeyboardMonitorTest, OtherEventsPrintNothingAndPassOn) {
    monitor();
    EXPECT_TRUE(send(kCGEventFlagsChanged, 57, 0x10000));  // Caps Lock
    EXPECT_TRUE(send(systemDefined, 0));
    EXPECT_TRUE(send(6, 0));
    EXPECT_TRUE(send(kCGEventFlagsChanged, 55, 0));  // release of a key not held
    EXPECT_EQ(out.take(), "");
}

TEST_F(KeyboardMonitorTest, KeyCodesOutsideSixteenBitsAreIgnored) {
    monitor({keyDownShortcut("a", 0, {})});
    for (int64_t code : {int64_t{65536}, int64_t{-1}, int64_t{65536 + 54}, INT64_MIN, INT64_MAX}) {
        EXPECT_TRUE(send(kCGEventKeyDown, code));
        EXPECT_TRUE(send(kCGEventKeyUp, code));
        EXPECT_TRUE(send(kCGEventFlagsChanged, code, command));
    }
    EXPECT_EQ(out.take(), "");
    // The key state is untouched: key 0 still matches on its own.
    EXPECT_TRUE(send(kCGEventKeyDown, 0));
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":0,"keyName":"A","enKeyName":"A"}])"
                          "\nshortcut:a\n");
}

TEST_F(KeyboardMonitorTest, KeysLinesEscapeAsThePlatformSerializerForEveryCode) {
    monitor();
    // Two keys held, then released, then the next pair; each line is the whole held list.
    // With the Fn bit, as a keyboard sends while Fn (179) is held.
    const auto pair = [&](int64_t first, int64_t second) {
        send(kCGEventKeyDown, first, fn);
        send(kCGEventKeyDown, second, fn);
        const std::string out = this->out.take();
        send(kCGEventKeyUp, first, fn);
        send(kCGEventKeyUp, second, fn);
        this->out.take();
        return out.substr(out.find('\n') + 1);
    };
    EXPECT_EQ(pair(44, 75), R"(keys:[{"keyCode":44,"keyName":"\/","enKeyName":"\/"},)"
                            R"({"keyCode":75,"keyName":"Num\/","enKeyName":"Num\/"}])"
                            "\n");
    EXPECT_EQ(pair(10, 42), R"(keys:[{"keyCode":10,"keyName":"\\","enKeyName":"\\"},)"
                            R"({"keyCode":42,"keyName":"\\","enKeyName":"\\"}])"
                            "\n");
    EXPECT_EQ(pair(39, 50), R"(keys:[{"keyCode":39,"keyName":"'","enKeyName":"'"},)"
                            R"({"keyCode":50,"keyName":"`","enKeyName":"`"}])"
                            "\n");
    // Codes past the named ones, up to the largest.
    EXPECT_EQ(pair(179, 200), R"(keys:[{"keyCode":179,"keyName":"Fn","enKeyName":"Fn"},)"
                              R"({"keyCode":200,"keyName":"Key200","enKeyName":"Key200"}])"
                              "\n");
    EXPECT_EQ(pair(65535, 180),
              R"(keys:[{"keyCode":65535,"keyName":"Key65535","enKeyName":"Key65535"},)"
              R"({"keyCode":180,"keyName":"Key180","enKeyName":"Key180"}])"
              "\n");
}

TEST_F(KeyboardMonitorTest, FnEventWithoutTransitionOpensTheWindow) {
    monitor();
    send(kCGEventFlagsChanged, 63, fn);
    // With no Fn shortcut the press opens no window: system-defined events pass.
    EXPECT_TRUE(send(systemDefined, 0));
    out.take();
    // Fn already held and its bit still set: no transition, no line, but the window opens.
    EXPECT_FALSE(send(kCGEventFlagsChanged, 63, fn));
    EXPECT_EQ(out.take(), "");
    standin::advanceClock(0.5);
    EXPECT_FALSE(send(systemDefined, 0));
    standin::advanceClock(0.05);
    EXPECT_TRUE(send(systemDefined, 0));
}

TEST_F(KeyboardMonitorTest, FnKeyOfTheDefaultConfigurationIsSwallowedGoingDown) {
    monitor();
    EXPECT_FALSE(send(kCGEventFlagsChanged, 63, fn));
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":63,"keyName":"Fn","enKeyName":"Fn"}])"
                          "\n");
    // No Fn shortcut is active, so the window stayed shut and the release passes.
    EXPECT_TRUE(send(kCGEventKeyDown, 63));
    out.take();
    EXPECT_TRUE(send(kCGEventFlagsChanged, 63, 0));
    EXPECT_EQ(out.take(), "keys:[]\n");
}

TEST_F(KeyboardMonitorTest, FnShortcutOpensTheSuppressionWindow) {
    setenv("HOTKEY_MONITOR_DEBUG", "1", 1);
    monitor({fnShortcut()});
    EXPECT_FALSE(send(kCGEventFlagsChanged, 63, fn));
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":63,"keyName":"Fn","enKeyName":"Fn"}])"
                          "\nshortcut:dictate\n");
    err.take();

    // While Fn is held, every event of the keyboard carries its bit.
    standin::advanceClock(0.5);
    EXPECT_FALSE(send(kCGEventKeyDown, 63, fn));
    EXPECT_FALSE(send(kCGEventKeyUp, 179, fn));
    EXPECT_FALSE(send(systemDefined, 0));
    EXPECT_TRUE(send(kCGEventKeyDown, 0, fn));  // other keys are never held back
    EXPECT_EQ(err.take(),
              "[hotkey-debug] blocked fn key event type=10 keyCode=63\n"
              "[hotkey-debug] blocked fn key event type=11 keyCode=179\n"
              "[hotkey-debug] blocked system-defined event during fn suppression window\n"
              "[hotkey-debug] keyDown keyCode=0 flags=fn\n");
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":63,"keyName":"Fn","enKeyName":"Fn"},)"
                          R"({"keyCode":0,"keyName":"A","enKeyName":"A"}])"
                          "\n");
    send(kCGEventKeyUp, 0, fn);
    out.take();

    // The window ends 0.55 s after the mark, exactly.
    standin::advanceClock(0.05);
    EXPECT_TRUE(send(systemDefined, 0));
    EXPECT_TRUE(send(kCGEventKeyDown, 179, fn));
    EXPECT_TRUE(send(kCGEventKeyUp, 179, fn));
    out.take();
    err.take();

    // The release marks again (the id is still active), then prints, and passes on.
    EXPECT_TRUE(send(kCGEventFlagsChanged, 63, 0));
    EXPECT_EQ(out.take(), "shortcut-up:dictate\nkeys:[]\n");
    standin::advanceClock(0.549);
    EXPECT_FALSE(send(systemDefined, 0));
    standin::advanceClock(0.001);
    EXPECT_TRUE(send(systemDefined, 0));

    // The window runs on a clock that only goes forward: a wall clock set back changes nothing.
    send(kCGEventFlagsChanged, 63, fn);
    standin::stepWallClock(-3600.0);
    standin::advanceClock(0.55);
    EXPECT_TRUE(send(systemDefined, 0));
}

TEST_F(KeyboardMonitorTest, RepeatedFnPressMovesTheWindowEnd) {
    monitor({fnShortcut()});
    send(kCGEventFlagsChanged, 63, fn);
    standin::advanceClock(0.5);
    // 179 while 63 is held: a press of its own, matching again without a new line.
    EXPECT_FALSE(send(kCGEventFlagsChanged, 179, fn));
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":63,"keyName":"Fn","enKeyName":"Fn"}])"
                          "\nshortcut:dictate\n"
                          R"(keys:[{"keyCode":63,"keyName":"Fn","enKeyName":"Fn"},)"
                          R"({"keyCode":179,"keyName":"Fn","enKeyName":"Fn"}])"
                          "\n");
    standin::advanceClock(0.5);
    EXPECT_FALSE(send(systemDefined, 0));
}

TEST_F(KeyboardMonitorTest, SharedIdsAndConfigurationOrder) {
    monitor({ShortcutConfig{"first", 54, {"command"}, std::nullopt, "flagsChanged"},
             ShortcutConfig{"second", 54, {"command"}, std::nullopt, "flagsChanged"},
             ShortcutConfig{"first", 55, {"command"}, std::nullopt, "flagsChanged"}});
    send(kCGEventFlagsChanged, 54, command);
    EXPECT_EQ(out.take(), rightCmdHeld + "\nshortcut:first\nshortcut:second\n");
    // The left key completes "first" again: already active, so nothing more.
    send(kCGEventFlagsChanged, 55, command);
    EXPECT_EQ(out.take(), R"(keys:[{"keyCode":54,"keyName":"RightCmd","enKeyName":"RightCmd"},)"
                          R"({"keyCode":55,"keyName":"LeftCmd","enKeyName":"LeftCmd"}])"
                          "\n");
    // Releasing the left key ends the shared id, though the right key made it.
    send(kCGEventFlagsChanged, 55, command);
    EXPECT_EQ(out.take(), "shortcut-up:first\n" + rightCmdHeld + "\n");
    send(kCGEventFlagsChanged, 54, 0);
    EXPECT_EQ(out.take(), "shortcut-up:second\nkeys:[]\n");
}

// Starts a monitor on one key-down and destroys it, then builds a new one in the same storage,
// which the old tap's plain pointer now names, and runs the run loop again. Exits with 0 when
// only the first run printed the key, 1 when the old tap still delivered.
[[noreturn]] void startDestroyAndRunAgain() {
    standin::loadScenario(R"({"keyboard": {"events": [{"type": "keyDown", "keyCode": 0}]}})");
    Capture out;
    std::optional<KeyboardMonitor> monitor;
    monitor.emplace(defaultShortcuts(), out.fd(), STDERR_FILENO);
    const std::string firstRun =
        "[hotkey-helper] ready tap=hid-default suppress=true\n"
        R"(keys:[{"keyCode":0,"keyName":"A","enKeyName":"A"}])"
        "\n";
    if (!monitor->start() || out.take() != firstRun) {
        std::_Exit(2);
    }
    monitor.reset();
    monitor.emplace(defaultShortcuts(), out.fd(), STDERR_FILENO);
    CFRunLoopRun();  // the run loop still holds the old tap's source
    std::_Exit(out.take().empty() ? 0 : 1);
}

// In a child: the stand-in's run loop keeps every source added to it until the process ends.
TEST(KeyboardMonitor, DestroyedMonitorIsCalledNoMore) {
    EXPECT_EXIT(startDestroyAndRunAgain(), ::testing::ExitedWithCode(0), "");
}

TEST(KeyboardMonitor, EndsBySigpipeOnceItsReaderHasGoneEvenWhenNoSignalComes) {
    EXPECT_EXIT(
        {
            ::signal(SIGPIPE, SIG_IGN);  // as a Mac's pipe marked F_SETNOSIGPIPE behaves
            int ends[2];
            ASSERT_EQ(::pipe(ends), 0);
            ::close(ends[0]);
            KeyboardMonitor monitor(defaultShortcuts(), ends[1], STDERR_FILENO);
            CFRef<CGEventRef> press(standin::createEvent(kCGEventFlagsChanged, 54, command));
            monitor.handle(kCGEventFlagsChanged, press.get());
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGPIPE), "");
}

TEST_F(KeyboardMonitorTest, TapDisabledCleansUpStaleKeysWithoutPrinting) {
    monitor();
    send(kCGEventKeyDown, 0);
    send(kCGEventFlagsChanged, 54, command);
    out.take();
    standin::advanceClock(10.5);
    EXPECT_TRUE(send(kCGEventTapDisabledByTimeout, 0));
    EXPECT_TRUE(send(kCGEventTapDisabledByUserInput, 0));
    EXPECT_EQ(out.take(), "");
    // Without a tap there is nothing to re-enable and nothing to say.
    EXPECT_EQ(err.take(), "");
    send(kCGEventFlagsChanged, 54, 0);
    EXPECT_EQ(out.take(), "shortcut-up:transcript-start\nkeys:[]\n");
}

}  // namespace
