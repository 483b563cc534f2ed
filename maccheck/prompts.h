// What maccheck tells the person at the Mac, on standard error.
#pragma once

// Before its own Shift press: a key typed meanwhile would be counted with it, and Shift alone
// types nothing into the application in front.
inline constexpr const char* postedShiftNotice =
    "maccheck: do not type for a second: it presses and releases Shift itself\n";

#include <cstdint>
#include <string_view>

#include "platform/keyboard_events.h"

// A step at the keyboard: what the user is asked to press, the key codes recorded (the first is
// the one assumed), the modifier bit a press carries, the side bit assumed with it (0: none) and
// whether the HID system's key state is assumed to see the press. In a step typed while held,
// the user types some other key while holding the first: its key-down is recorded as well
// (never which key it was), with the held key's HID state at the time. System-defined events
// (media keys, mouse buttons) count as the key only where the key may come as one.
struct KeyStep {
    std::string_view id;
    const char* prompt;
    CGKeyCode keys[2];
    CGEventFlags flag;
    CGEventFlags sideBit;
    bool keyState;
    bool typedWhileHeld;
    bool systemDefined;
};

inline constexpr KeyStep keySteps[] = {
    {"right-command",
     "maccheck: press and release the right Command key (within 30 s, or wait to skip)\n",
     {54, 54},
     kCGEventFlagMaskCommand,
     NX_DEVICERCMDKEYMASK,
     true,
     false,
     false},
    {"command-across-keyboards",
     "maccheck: hold right Command on one keyboard and type the letter j on another (within 30 "
     "s, or wait to skip)\n",
     {54, 54},
     kCGEventFlagMaskCommand,
     NX_DEVICERCMDKEYMASK,
     true,
     true,
     false},
    {"globe-key",
     "maccheck: press the Globe (fn) key alone and release it (within 30 s, or wait to skip; "
     "it may switch the input source or show the emoji viewer)\n",
     {63, 179},
     kCGEventFlagMaskSecondaryFn,
     0,
     false,
     false,
     true},
};

// A step at a text field: what the user is asked to click into, and what the step waits for:
// the focus in the application with this bundle identifier, or (none given) in a field that
// looks like a password field.
struct FieldStep {
    enum class Kind { caret, pageField, password };
    std::string_view id;
    const char* prompt;
    Kind kind;
    std::string_view bundleIdentifier;
};

inline constexpr FieldStep askedFields[] = {
    {"textedit-caret",
     "maccheck: click into a text field in TextEdit, selecting nothing (within 30 s, or wait to "
     "skip)\n",
     FieldStep::Kind::caret, "com.apple.TextEdit"},
    {"safari-page-field",
     "maccheck: click into a text field on a page in Safari (within 30 s, or wait to skip)\n",
     FieldStep::Kind::pageField, "com.apple.Safari"},
    {"chrome-page-field",
     "maccheck: click into a text field on a page in Chrome (within 30 s, or wait to skip; Chrome "
     "shows its pages to accessibility only once asked: turning VoiceOver on and off asks)\n",
     FieldStep::Kind::pageField, "com.google.Chrome"},
    {"password-field",
     "maccheck: click into a password field, in any application (within 30 s, or wait to "
     "skip)\n",
     FieldStep::Kind::password, ""},
};
