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

struct Heard {
    uint32_t type;
    int64_t keyCode;
    CGEventFlags flags;
    int64_t sourcePid;
    bool keyStateDown;  // CGEventSourceKeyState with the HID system state, as it arrived
};

struct Listening {
    const KeyStep* step;
    std::vector<Heard> heard;
    long others = 0;
    long systemDefined = 0;
};

bool isAsked(const KeyStep& step, int64_t keyCode) {
    return keyCode == step.keys[0] || keyCode == step.keys[1];
}

CGEventRef listen(CGEventTapProxy, CGEventType type, CGEventRef event, void* info) {
    auto* listening = static_cast<Listening*>(info);
    if (listening == nullptr || event == nullptr) {
        return event;
    }
    const int64_t keyCode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
    if (type == systemDefinedType) {
        ++listening->systemDefined;
    } else if (!isAsked(*listening->step, keyCode)) {
        ++listening->others;
    } else {
        listening->heard.push_back({type, keyCode, CGEventGetFlags(event),
                                    CGEventGetIntegerValueField(event, kCGEventSourceUnixProcessID),
                                    CGEventSourceKeyState(kCGEventSourceStateHIDSystemState,
                                                          static_cast<CGKeyCode>(keyCode))});
    }
    return event;
}

size_t heardCount(const Listening& listening) {
    return listening.heard.size() + static_cast<size_t>(listening.systemDefined);
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

std::string describe(const Heard& heard) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "type %u key %" PRId64 " flags 0x%" PRIx64 " pid %" PRId64 " HID state %s",
                  static_cast<unsigned>(heard.type), heard.keyCode, heard.flags, heard.sourcePid,
                  heard.keyStateDown ? "down" : "up");
    return line;
}

Observation runStep(const KeyStep& step) {
    Listening listening{&step, {}, 0, 0};
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
    for (int poll = 0;
         poll < pollsAtMost && !pressedAndReleased(listening) && quietPolls < quietPollsToEnd;
         ++poll) {
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, pollSeconds, false);
        const size_t count = heardCount(listening);
        quietPolls = count > 0 && count == lastCount ? quietPolls + 1 : 0;
        lastCount = count;
    }
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopDefaultMode);
    CGEventTapEnable(tap.get(), false);
    CFMachPortInvalidate(tap.get());
    std::string observed;
    for (const auto& heard : listening.heard) {
        observed += (observed.empty() ? "" : "; ") + describe(heard);
    }
    observed += std::string(observed.empty() ? "" : "; ") +
                "system-defined: " + std::to_string(listening.systemDefined) +
                ", other keys: " + std::to_string(listening.others);
    if (heardCount(listening) == 0) {
        return {step.id, std::string(timedOut) + observed, Result::skipped};
    }
    if (!pressedAndReleased(listening)) {
        return {step.id, observed, Result::differs};  // it came, but not as assumed
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
