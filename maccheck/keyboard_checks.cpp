// The taps keywatch asks for, and the layouts pastekey and copykey read.
#include <string>

#include "keypost/key_code_lookup.h"
#include "keywatch/keyboard_monitor.h"
#include "maccheck/check.h"
#include "maccheck/texts.h"
#include "platform/cf_cast.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_events.h"
#include "platform/keyboard_layout.h"

namespace {

struct TapKind {
    std::string_view id;
    CGEventTapLocation location;
    CGEventTapOptions options;
};

// keywatch's three attempts, in its order.
constexpr TapKind tapKinds[] = {
    {"tap-hid-default", kCGHIDEventTap, kCGEventTapOptionDefault},
    {"tap-hid-listen-only", kCGHIDEventTap, kCGEventTapOptionListenOnly},
    {"tap-session-listen-only", kCGSessionEventTap, kCGEventTapOptionListenOnly},
};

CGEventRef passEverything(CGEventTapProxy, CGEventType, CGEventRef event, void*) {
    return event;
}

}  // namespace

CFRef<CFMachPortRef> listenOnlyTap(CGEventMask mask, CGEventTapCallBack callback, void* info) {
    CFRef<CFMachPortRef> tap;
    for (const auto location : {kCGHIDEventTap, kCGSessionEventTap}) {
        if (!tap) {
            tap.reset(CGEventTapCreate(location, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly,
                                       mask, callback, info));
        }
    }
    return tap;
}

namespace {

Observation tapCheck(const TapKind& kind) {
    CFRef<CFMachPortRef> tap(CGEventTapCreate(kind.location, kCGHeadInsertEventTap, kind.options,
                                              KeyboardMonitor::eventMask, passEverything, nullptr));
    if (tap) {
        // Never added to a run loop, and gone at once: a filter tap must not hold the keyboard.
        CGEventTapEnable(tap.get(), false);
        CFMachPortInvalidate(tap.get());
    }
    return {kind.id, tap ? grantedText : notGrantedText, holdsWhen(static_cast<bool>(tap))};
}

struct SourceKind {
    const char* name;
    TISInputSourceRef (*copy)();
};

constexpr SourceKind sourceKinds[] = {
    {"current", TISCopyCurrentKeyboardInputSource},
    {"keyboard layout", TISCopyCurrentKeyboardLayoutInputSource},
    {"ASCII-capable", TISCopyCurrentASCIICapableKeyboardLayoutInputSource},
};

Observation inputSourcesCheck() {
    std::string observed;
    bool anyLayout = false;
    for (const auto& kind : sourceKinds) {
        CFRef<TISInputSourceRef> source(kind.copy());
        std::string answer = noSourceText;
        if (source) {
            const auto data = cfCast<CFDataRef>(
                TISGetInputSourceProperty(source.get(), kTISPropertyUnicodeKeyLayoutData));
            const bool hasLayout = data != nullptr && CFDataGetBytePtr(data) != nullptr;
            anyLayout = anyLayout || hasLayout;
            answer = hasLayout ? layoutDataText : noLayoutDataText;
        }
        observed += std::string(observed.empty() ? "" : ", ") + kind.name + ": " + answer;
    }
    return {"input-sources", observed, holdsWhen(anyLayout)};
}

// No key has this code, so the lookup answering it means it found nothing.
constexpr uint16_t notFound = 0xFFFF;

struct Letter {
    const char* name;
    std::u16string_view text;
};

constexpr Letter postedLetters[] = {{"v", u"v"}, {"c", u"c"}};

Observation keyCodesCheck() {
    std::string observed;
    bool allFound = true;
    for (const auto& letter : postedLetters) {
        const uint16_t code = keyCodeForCharacter(letter.text, notFound);
        allFound = allFound && code != notFound;
        observed += std::string(observed.empty() ? "" : ", ") + letter.name + " " +
                    (code == notFound ? notFoundText : std::to_string(code));
    }
    return {"key-codes", observed, holdsWhen(allFound)};
}

}  // namespace

std::vector<Observation> keyboardChecks() {
    std::vector<Observation> checks;
    for (const auto& kind : tapKinds) {
        checks.push_back(tapCheck(kind));
    }
    checks.push_back(inputSourcesCheck());
    checks.push_back(keyCodesCheck());
    return checks;
}
