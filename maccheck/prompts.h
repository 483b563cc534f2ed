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
// whether the HID system's key state is assumed to see the press.
struct KeyStep {
    std::string_view id;
    const char* prompt;
    CGKeyCode keys[2];
    CGEventFlags flag;
    CGEventFlags sideBit;
    bool keyState;
};

inline constexpr KeyStep keySteps[] = {
    {"right-command",
     "maccheck: press and release the right Command key (within 30 s, or wait to skip)\n",
     {54, 54},
     kCGEventFlagMaskCommand,
     NX_DEVICERCMDKEYMASK,
     true},
    {"globe-key",
     "maccheck: press the Globe (fn) key alone and release it (within 30 s, or wait to skip)\n",
     {63, 179},
     kCGEventFlagMaskSecondaryFn,
     0,
     false},
};
