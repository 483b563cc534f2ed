#include "keywatch/keyboard_monitor.h"

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "keywatch/key_names.h"

namespace {

constexpr const char* debugVariable = "HOTKEY_MONITOR_DEBUG";
constexpr const char* debugPrefix = "[hotkey-debug] ";
constexpr const char* reenabledMessage = "[hotkey-helper] re-enabled event tap\n";
constexpr const char* tapFailedMessage = "[hotkey-helper] failed to create CGEvent tap\n";
constexpr const char* runLoopSourceFailedMessage =
    "[hotkey-helper] failed to create run loop source\n";
constexpr const char* readyPrefix = "[hotkey-helper] ready tap=";
constexpr const char* suppressLabel = " suppress=";
constexpr const char* keysPrefix = "keys:";
constexpr const char* shortcutPrefix = "shortcut:";
constexpr const char* shortcutUpPrefix = "shortcut-up:";
constexpr const char* blockedSystemDefinedMessage =
    "blocked system-defined event during fn suppression window";

struct TapAttempt {
    const char* name;
    CGEventTapLocation location;
    CGEventTapOptions options;
    bool canSuppressEvents;
};

// From the most capable tap to the least; the first one granted wins.
constexpr TapAttempt tapAttempts[] = {
    {"hid-default", kCGHIDEventTap, kCGEventTapOptionDefault, true},
    {"hid-listen-only", kCGHIDEventTap, kCGEventTapOptionListenOnly, false},
    {"session-listen-only", kCGSessionEventTap, kCGEventTapOptionListenOnly, false},
};

struct FlagWord {
    CGEventFlags bit;
    const char* word;
};

// In the order the debug line names them.
constexpr FlagWord flagWords[] = {
    {kCGEventFlagMaskSecondaryFn, "fn"}, {kCGEventFlagMaskCommand, "cmd"},
    {kCGEventFlagMaskShift, "shift"},    {kCGEventFlagMaskAlternate, "option"},
    {kCGEventFlagMaskControl, "ctrl"},
};

constexpr CGEventFlags comparedFlags = kCGEventFlagMaskSecondaryFn | kCGEventFlagMaskCommand |
                                       kCGEventFlagMaskShift | kCGEventFlagMaskAlternate |
                                       kCGEventFlagMaskControl;

// One record as the platform serializer writes it, with "/" escaped as "\/".
std::optional<std::string> serializeKeyRecord(const KeyRecord& record) {
    const nlohmann::ordered_json object = {
        {"keyCode", record.keyCode}, {"keyName", record.keyName}, {"enKeyName", record.enKeyName}};
    std::string text;
    try {
        text = object.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    // A solidus can only stand inside a string here.
    std::string escaped;
    escaped.reserve(text.size() + 4);
    for (const char c : text) {
        if (c == '/') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

// A record's text depends on its code alone, so the named keys are serialized once; the
// per-event path only joins them.
std::optional<std::string> keyObjectJson(const KeyRecord& record) {
    constexpr int64_t cachedCodes = 180;
    static const auto cache = [] {
        std::vector<std::optional<std::string>> texts;
        for (int64_t code = 0; code < cachedCodes; ++code) {
            texts.push_back(
                serializeKeyRecord(KeyNameMapper::payload({static_cast<uint16_t>(code)}).front()));
        }
        return texts;
    }();
    if (record.keyCode < cachedCodes) {
        return cache[static_cast<size_t>(record.keyCode)];
    }
    return serializeKeyRecord(record);
}

bool isTapDisabled(uint32_t type) {
    return type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput;
}

// The event's key code, or nothing for a value the platform should never deliver.
std::optional<uint16_t> keyCodeOf(CGEventRef event) {
    const int64_t code = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
    if (code < 0 || code > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(code);
}

// Only the five modifier bits keywatch compares.
CGEventFlags normalizedFlags(CGEventFlags flags) {
    return flags & comparedFlags;
}

// "fn+cmd+shift+option+ctrl" for the bits present, "none" for none.
std::string describeFlags(CGEventFlags flags) {
    std::string words;
    for (const auto& [bit, word] : flagWords) {
        if ((flags & bit) != 0) {
            if (!words.empty()) {
                words += '+';
            }
            words += word;
        }
    }
    return words.empty() ? "none" : words;
}

// The "keys:" array: compact JSON with "/" written as "\/".
std::optional<std::string> keysJson(const std::vector<uint16_t>& keyCodes) {
    std::string json = "[";
    for (const auto& record : KeyNameMapper::payload(keyCodes)) {
        const auto object = keyObjectJson(record);
        if (!object) {
            return std::nullopt;
        }
        if (json.size() > 1) {
            json += ',';
        }
        json += *object;
    }
    json += ']';
    return json;
}

const char* describe(KeyTransition transition) {
    switch (transition) {
        case KeyTransition::press:
            return "press";
        case KeyTransition::release:
            return "release";
        case KeyTransition::none:
            break;
    }
    return "none";
}

}  // namespace

KeyboardMonitor::~KeyboardMonitor() {
    // The run loop's source and the tap both lead here through plain pointers: cut both.
    if (runLoopSource) {
        CFRunLoopRemoveSource(CFRunLoopGetCurrent(), runLoopSource.get(), kCFRunLoopCommonModes);
    }
    if (eventTap) {
        CGEventTapEnable(eventTap.get(), false);
        CFMachPortInvalidate(eventTap.get());
    }
}

KeyboardMonitor::KeyboardMonitor(std::vector<ShortcutConfig> configured, FILE* out, FILE* err)
    : shortcuts(std::move(configured)),
      detector(shortcuts),
      debugEnabled([] {
          const char* value = std::getenv(debugVariable);
          return value != nullptr && std::strcmp(value, "1") == 0;
      }()),
      output(out),
      diagnostics(err) {}

bool KeyboardMonitor::start() {
    const TapAttempt* granted = nullptr;
    for (const auto& attempt : tapAttempts) {
        eventTap.reset(CGEventTapCreate(attempt.location, kCGHeadInsertEventTap, attempt.options,
                                        eventMask, tapCallback, this));
        if (eventTap) {
            granted = &attempt;
            canSuppressEvents = attempt.canSuppressEvents;
            break;
        }
    }
    if (granted == nullptr) {
        std::fputs(tapFailedMessage, diagnostics);
        return false;
    }
    runLoopSource.reset(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, eventTap.get(), 0));
    if (!runLoopSource) {
        std::fputs(runLoopSourceFailedMessage, diagnostics);
        eventTap.reset();
        return false;
    }
    CFRunLoopAddSource(CFRunLoopGetCurrent(), runLoopSource.get(), kCFRunLoopCommonModes);
    CGEventTapEnable(eventTap.get(), true);
    writeLine(std::string(readyPrefix) + granted->name + suppressLabel +
              (canSuppressEvents ? "true" : "false"));
    CFRunLoopRun();
    return true;
}

CGEventRef KeyboardMonitor::tapCallback(CGEventTapProxy, CGEventType type, CGEventRef event,
                                        void* userInfo) {
    if (userInfo == nullptr) {
        return event;
    }
    return static_cast<KeyboardMonitor*>(userInfo)->handle(type, event);
}

CGEventRef KeyboardMonitor::handle(uint32_t type, CGEventRef event) {
    if (canSuppressEvents && shouldSuppressFnKeyEvent(type, event)) {
        if (debugEnabled) {
            writeDebugLine("blocked fn key event type=" + std::to_string(type) +
                           " keyCode=" + std::to_string(*keyCodeOf(event)));
        }
        return nullptr;
    }
    if (canSuppressEvents && shouldSuppressSystemDefinedEvent(type)) {
        if (debugEnabled) {
            writeDebugLine(blockedSystemDefinedMessage);
        }
        return nullptr;
    }
    if (isTapDisabled(type)) {
        handleTapDisabled();
        return event;
    }
    switch (type) {
        case kCGEventKeyDown:
            return handleKeyDown(event);
        case kCGEventKeyUp:
            return handleKeyUp(event);
        case kCGEventFlagsChanged:
            return handleFlagsChanged(event);
        default:
            return event;
    }
}

CGEventRef KeyboardMonitor::handleKeyDown(CGEventRef event) {
    const auto keyCode = keyCodeOf(event);
    if (!keyCode) {
        return event;
    }
    const CGEventFlags flags = normalizedFlags(CGEventGetFlags(event));
    detector.handleKeyDown(*keyCode);
    emitCurrentKeys();
    for (const auto& shortcut : detector.matchesKeyDownShortcut(*keyCode, flags)) {
        emitShortcutIfNeeded(shortcut);
    }
    if (debugEnabled) {
        writeDebugLine("keyDown keyCode=" + std::to_string(*keyCode) +
                       " flags=" + describeFlags(flags));
    }
    return event;
}

CGEventRef KeyboardMonitor::handleKeyUp(CGEventRef event) {
    const auto keyCode = keyCodeOf(event);
    if (!keyCode) {
        return event;
    }
    for (const auto& shortcut : shortcuts) {
        if (!shortcut.isFlagsChangedShortcut() && shortcut.keyCode == *keyCode) {
            emitShortcutReleaseIfNeeded(shortcut);
        }
    }
    detector.handleKeyUp(*keyCode);
    emitCurrentKeys();
    if (debugEnabled) {
        writeDebugLine("keyUp keyCode=" + std::to_string(*keyCode));
    }
    return event;
}

CGEventRef KeyboardMonitor::handleFlagsChanged(CGEventRef event) {
    const auto keyCode = keyCodeOf(event);
    if (!keyCode) {
        return event;
    }
    const CGEventFlags flags = normalizedFlags(CGEventGetFlags(event));
    const KeyTransition transition = detector.resolveModifierTransition(*keyCode, flags);
    switch (transition) {
        case KeyTransition::press:
            detector.handleKeyDown(*keyCode);
            emitCurrentKeys();
            for (const auto& shortcut : detector.matchesFlagsChangedShortcut(*keyCode, flags)) {
                emitShortcutIfNeeded(shortcut);
                if (shortcut.isFnShortcut()) {
                    markFnSuppressionWindow();
                }
            }
            break;
        case KeyTransition::release:
            // Asked before the release lines, while the released shortcut is still active.
            if (detector.shouldSuppressFlagsChangedEvent(*keyCode, flags, activeShortcutIds)) {
                markFnSuppressionWindow();
            }
            for (const auto& shortcut : matchingModifierShortcuts(*keyCode)) {
                emitShortcutReleaseIfNeeded(shortcut);
            }
            detector.handleKeyUp(*keyCode);
            emitCurrentKeys();
            break;
        case KeyTransition::none:
            if (detector.shouldSuppressFlagsChangedEvent(*keyCode, flags, activeShortcutIds)) {
                markFnSuppressionWindow();
            }
            break;
    }
    if (debugEnabled) {
        writeDebugLine("flagsChanged keyCode=" + std::to_string(*keyCode) +
                       " flags=" + describeFlags(flags) + " transition=" + describe(transition));
    }
    const bool suppress =
        detector.shouldSuppressFlagsChangedEvent(*keyCode, flags, activeShortcutIds);
    return canSuppressEvents && suppress ? nullptr : event;
}

void KeyboardMonitor::handleTapDisabled() {
    detector.cleanupStaleKeys();
    if (eventTap) {
        CGEventTapEnable(eventTap.get(), true);
        std::fputs(reenabledMessage, diagnostics);
    }
}

void KeyboardMonitor::emitCurrentKeys() {
    if (const auto json = keysJson(detector.currentPressingKeyCodes())) {
        writeLine(keysPrefix + *json);
    }
}

void KeyboardMonitor::emitShortcutIfNeeded(const ShortcutConfig& shortcut) {
    if (activeShortcutIds.insert(shortcut.id).second) {
        writeLine(shortcutPrefix + shortcut.id);
    }
}

void KeyboardMonitor::emitShortcutReleaseIfNeeded(const ShortcutConfig& shortcut) {
    if (activeShortcutIds.erase(shortcut.id) > 0) {
        writeLine(shortcutUpPrefix + shortcut.id);
    }
}

void KeyboardMonitor::writeLine(std::string line) {
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), output);
    std::fflush(output);
}

std::vector<ShortcutConfig> KeyboardMonitor::matchingModifierShortcuts(uint16_t keyCode) const {
    std::vector<ShortcutConfig> matches;
    for (const auto& shortcut : shortcuts) {
        if (shortcut.isFlagsChangedShortcut() &&
            ShortcutDetector::shortcutMatchesKeyCode(shortcut, keyCode)) {
            matches.push_back(shortcut);
        }
    }
    return matches;
}

bool KeyboardMonitor::isFnWindowOpen() const {
    return CFAbsoluteTimeGetCurrent() < suppressSystemDefinedUntil;
}

bool KeyboardMonitor::shouldSuppressFnKeyEvent(uint32_t type, CGEventRef event) const {
    if (type != kCGEventKeyDown && type != kCGEventKeyUp) {
        return false;
    }
    if (!isFnWindowOpen()) {
        return false;
    }
    const auto keyCode = keyCodeOf(event);
    return keyCode && ShortcutDetector::isFnKeyCode(*keyCode);
}

bool KeyboardMonitor::shouldSuppressSystemDefinedEvent(uint32_t type) const {
    return type == systemDefinedEventRawValue && isFnWindowOpen();
}

void KeyboardMonitor::markFnSuppressionWindow() {
    suppressSystemDefinedUntil = CFAbsoluteTimeGetCurrent() + fnSuppressionWindowSeconds;
}

// Callers test debugEnabled first, so no message is built when debugging is off.
void KeyboardMonitor::writeDebugLine(const std::string& message) const {
    std::fputs((debugPrefix + message + "\n").c_str(), diagnostics);
}
