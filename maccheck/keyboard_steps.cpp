// Steps with the user at the keyboard: each asks for one key, listens for it for a bounded time
// and records that key alone; anything else typed meanwhile is only counted.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "maccheck/check.h"
#include "maccheck/prompts.h"
#include "maccheck/texts.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_events.h"
#include "platform/system.h"

namespace {

constexpr uint32_t systemDefinedType = 14;
constexpr CGEventMask listenedMask =
    (CGEventMask{1} << kCGEventKeyDown) | (CGEventMask{1} << kCGEventKeyUp) |
    (CGEventMask{1} << kCGEventFlagsChanged) | (CGEventMask{1} << systemDefinedType);
constexpr CFTimeInterval pollSeconds = 0.5;
constexpr int pollsAtMost = 60;  // 30 s
// The key may come in another form than assumed (key events of 179, system-defined events
// alone): once something has come, two quiet seconds end the step.
constexpr int quietPollsToEnd = 4;
constexpr std::string_view timedOut = "nothing within 30 s; ";
constexpr int64_t anotherKey = -1;  // a key typed while one is held: recorded, never which

struct Heard {
    uint32_t type;
    int64_t keyCode;
    CGEventFlags flags;
    int64_t sourcePid;
    // CGEventSourceKeyState with the HID system state as it arrived: of its own key, or of the
    // held one for another key.
    bool keyStateDown;
};

struct Listening {
    const KeyStep* step;
    std::vector<Heard> heard;
    long others = 0;
    long systemDefined = 0;
    bool holding = false;  // the asked key's last event carried its modifier bit
};

int64_t sourcePidOf(CGEventRef event) {
    return CGEventGetIntegerValueField(event, kCGEventSourceUnixProcessID);
}

bool isAsked(const KeyStep& step, int64_t keyCode) {
    return keyCode == step.keys[0] || keyCode == step.keys[1];
}

CGEventRef listen(CGEventTapProxy, CGEventType type, CGEventRef event, void* info) {
    auto* listening = static_cast<Listening*>(info);
    if (listening == nullptr || event == nullptr) {
        return event;
    }
    const KeyStep& step = *listening->step;
    const int64_t keyCode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
    if (type == systemDefinedType) {
        ++listening->systemDefined;
    } else if (isAsked(step, keyCode)) {
        listening->holding = (CGEventGetFlags(event) & step.flag) != 0;
        listening->heard.push_back({type, keyCode, CGEventGetFlags(event), sourcePidOf(event),
                                    CGEventSourceKeyState(kCGEventSourceStateHIDSystemState,
                                                          static_cast<CGKeyCode>(keyCode))});
    } else if (step.typedWhileHeld && listening->holding && type == kCGEventKeyDown) {
        listening->heard.push_back(
            {type, anotherKey, CGEventGetFlags(event), sourcePidOf(event),
             CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, step.keys[0])});
    } else {
        ++listening->others;
    }
    return event;
}

size_t heardCount(const Listening& listening) {
    return listening.heard.size() +
           (listening.step->systemDefined ? static_cast<size_t>(listening.systemDefined) : 0);
}

// A press with the step's modifier bit, then a release without it.
bool pressedAndReleased(const Listening& listening) {
    bool pressed = false;
    for (const auto& heard : listening.heard) {
        const bool set = (heard.flags & listening.step->flag) != 0;
        if (pressed && !set) {
            return true;
        }
        pressed = pressed || set;
    }
    return false;
}

const Heard* typedKey(const Listening& listening) {
    const auto found = std::find_if(listening.heard.begin(), listening.heard.end(),
                                    [](const Heard& heard) { return heard.keyCode == anotherKey; });
    return found == listening.heard.end() ? nullptr : &*found;
}

// Whether the step has what it asked for.
bool done(const Listening& listening) {
    return listening.step->typedWhileHeld ? typedKey(listening) != nullptr
                                          : pressedAndReleased(listening);
}

std::string describe(const KeyStep& step, const Heard& heard) {
    char line[160];
    if (heard.keyCode == anotherKey) {
        std::snprintf(line, sizeof line,
                      "type %u another key flags 0x%" PRIx64 " pid %" PRId64
                      " HID state of key %u %s",
                      static_cast<unsigned>(heard.type), heard.flags, heard.sourcePid,
                      static_cast<unsigned>(step.keys[0]), heard.keyStateDown ? "down" : "up");
    } else {
        std::snprintf(line, sizeof line,
                      "type %u key %" PRId64 " flags 0x%" PRIx64 " pid %" PRId64 " HID state %s",
                      static_cast<unsigned>(heard.type), heard.keyCode, heard.flags,
                      heard.sourcePid, heard.keyStateDown ? "down" : "up");
    }
    return line;
}

Observation runStep(const KeyStep& step) {
    Listening listening{&step, {}, 0, 0, false};
    const CFRef<CFMachPortRef> tap = listenOnlyTap(listenedMask, listen, &listening);
    if (!tap) {
        return {step.id, noListenOnlyTapText, Result::skipped};
    }
    const CFRef<CFRunLoopSourceRef> source(
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap.get(), 0));
    if (!source) {
        CFMachPortInvalidate(tap.get());
        return {step.id, noRunLoopSourceText, Result::skipped};
    }
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopDefaultMode);
    std::fputs(step.prompt, stderr);
    size_t lastCount = 0;
    int quietPolls = 0;
    // Holding a key while reaching for another keyboard is quiet too: that step waits.
    for (int poll = 0; poll < pollsAtMost && !done(listening) && quietPolls < quietPollsToEnd;
         ++poll) {
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, pollSeconds, false);
        const size_t count = heardCount(listening);
        quietPolls = count > 0 && count == lastCount && !step.typedWhileHeld ? quietPolls + 1 : 0;
        lastCount = count;
    }
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopDefaultMode);
    CGEventTapEnable(tap.get(), false);
    CFMachPortInvalidate(tap.get());
    std::string observed;
    for (const auto& heard : listening.heard) {
        observed += (observed.empty() ? "" : "; ") + describe(step, heard);
    }
    observed += std::string(observed.empty() ? "" : "; ") +
                "system-defined: " + std::to_string(listening.systemDefined) +
                ", other keys: " + std::to_string(listening.others);
    // Secure event input keeps key-downs from every tap: a step that heard none may be why.
    if (IsSecureEventInputEnabled()) {
        observed += "; secure event input on";
    }
    if (heardCount(listening) == 0 || (step.typedWhileHeld && !done(listening))) {
        return {step.id, std::string(timedOut) + observed, Result::skipped};
    }
    if (!done(listening)) {
        return {step.id, observed, Result::differs};  // it came, but not as assumed
    }
    if (const Heard* typed = typedKey(listening)) {
        return {step.id, observed, holdsWhen(typed->sourcePid == 0 && typed->keyStateDown)};
    }
    const Heard& press =
        *std::find_if(listening.heard.begin(), listening.heard.end(),
                      [&](const Heard& heard) { return (heard.flags & step.flag) != 0; });
    const bool asAssumed = press.type == kCGEventFlagsChanged && press.keyCode == step.keys[0] &&
                           press.sourcePid == 0 && (press.flags & step.sideBit) == step.sideBit &&
                           (!step.keyState || press.keyStateDown);
    return {step.id, observed, holdsWhen(asAssumed)};
}

}  // namespace

std::vector<Observation> keyboardSteps() {
    std::vector<Observation> checks;
    for (const auto& step : keySteps) {
        checks.push_back(runStep(step));
    }
    return checks;
}
