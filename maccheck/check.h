// One check: what the Mac answered, and whether that is what the suite assumes of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/cf_ref.h"
#include "platform/keyboard_events.h"

enum class Result { holds, differs, skipped };

struct Observation {
    std::string_view id;  // a key of the assumption table
    std::string observed;
    Result result;
};

// What the suite assumes, and the code that relies on it, by check id.
struct Assumption {
    std::string_view id;
    std::string_view assumption;
    std::string_view code;  // file and function
};

// Every check's assumption, in the order the report lists them; null for an unknown id.
const Assumption* assumptionOf(std::string_view id);

// The groups of checks that need nobody at the keyboard.
std::vector<Observation> systemChecks();
std::vector<Observation> keyboardChecks();
std::vector<Observation> runLoopChecks();

// `maccheck keyboard`: the steps that need the user's key presses.
std::vector<Observation> keyboardSteps();
// `maccheck fields`: the steps that need the user's clicks into text fields.
std::vector<Observation> fieldSteps();

// A listen-only tap of this process for `mask`, at the HID level or else the session's; null
// when neither is granted.
CFRef<CFMachPortRef> listenOnlyTap(CGEventMask mask, CGEventTapCallBack callback, void* info);

inline Result holdsWhen(bool condition) {
    return condition ? Result::holds : Result::differs;
}
