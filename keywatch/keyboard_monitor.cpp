#include "keywatch/keyboard_monitor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "keywatch/key_names.h"
#include "platform/accessibility.h"
#include "platform/clock.h"

namespace {

constexpr const char* debugVariable = "HOTKEY_MONITOR_DEBUG";
constexpr const char* debugPrefix = "[hotkey-debug] ";
constexpr const char* reenabledMessage = "[hotkey-helper] re-enabled event tap\n";
constexpr const char* tapFailedMessage = "[hotkey-helper] failed to create CGEvent tap\n";
constexpr const char* runLoopSourceFailedMessage =
    "[hotkey-helper] failed to create run loop source\n";
constexpr const char* hostStoppedReadingMessage =
    "[hotkey-helper] standard output not read: event tap given up\n";
constexpr const char* tapNotReEnabledMessage =
    "[hotkey-helper] event tap could not be re-enabled\n";
constexpr const char* tapInvalidatedMessage = "[hotkey-helper] event tap invalidated\n";
constexpr const char* filterTapUnheardKeysNote =
    "filter tap without Input Monitoring: key-down shortcuts may go unheard";
constexpr const char* readyPrefix = "[hotkey-helper] ready tap=";
constexpr const char* suppressLabel = " suppress=";
constexpr std::string_view keysPrefix = "keys:";
constexpr std::string_view shortcutPrefix = "shortcut:";
constexpr std::string_view shortcutUpPrefix = "shortcut-up:";
constexpr const char* blockedSystemDefinedMessage =
    "blocked system-defined event during fn suppression window";

struct TapAttempt {
    const char* name;
    CGEventTapLocation location;
    CGEventTapOptions options;
    bool canSuppressEvents;
};

// Which taps would hear key-downs and key-ups. Without the permission the platform still gives
// a tap but clears those bits from its mask (CGEvent.h), and a tap that never hears a key must
// not be announced ready: such an attempt counts as refused. Nothing here prompts the user.
struct KeyAccess {
    bool filter = false;     // a tap that may hold events back: Accessibility
    bool listening = false;  // a listen-only tap: Accessibility or Input Monitoring
};

KeyAccess keyAccess() {
    const bool trusted = AXIsProcessTrusted();
    return {trusted, trusted || CGPreflightListenEventAccess()};
}

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
constexpr uint16_t cachedCodes = 180;

const std::vector<std::optional<std::string>>& cachedKeyObjects() {
    static const auto cache = [] {
        std::vector<std::optional<std::string>> texts;
        texts.reserve(cachedCodes);
        for (uint16_t code = 0; code < cachedCodes; ++code) {
            texts.push_back(serializeKeyRecord(KeyNameMapper::payload({code}).front()));
        }
        return texts;
    }();
    return cache;
}

// Events a process posted (a paste's Command+V, a text expander's keys) carry its process id;
// a keyboard's own carry none.
bool isFromKeyboard(CGEventRef event) {
    return CGEventGetIntegerValueField(event, kCGEventSourceUnixProcessID) == 0;
}

// pastekey's and copykey's keystrokes: never the user's.
bool isSuiteEvent(CGEventRef event) {
    return CGEventGetIntegerValueField(event, kCGEventSourceUserData) == suiteEventUserData;
}

// The monitor whose tap is watched for invalidation: the platform hands the callback the port's
// own context, not ours.
KeyboardMonitor* monitorOfTheTap = nullptr;

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

// Appends the "keys:" array, compact JSON with "/" written as "\/"; false when a record
// cannot be serialized, and then the line is not printed.
bool appendKeysJson(const std::vector<uint16_t>& keyCodes, std::string& json) {
    const auto& cache = cachedKeyObjects();
    json += '[';
    for (size_t i = 0; i < keyCodes.size(); ++i) {
        const uint16_t code = keyCodes[i];
        std::optional<std::string> uncached;
        if (code >= cachedCodes) {
            uncached = serializeKeyRecord(KeyNameMapper::payload({code}).front());
        }
        const auto& object = code < cachedCodes ? cache[code] : uncached;
        if (!object) {
            return false;
        }
        if (i > 0) {
            json += ',';
        }
        json += *object;
    }
    json += ']';
    return true;
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
    // The run loop's source, its timer and the tap all lead here through plain pointers: cut
    // them all.
    if (eventTap) {
        CGEventTapEnable(eventTap.get(), false);
    }
    tearDownTap();
}

void KeyboardMonitor::tearDownTap() {
    if (monitorOfTheTap == this) {
        monitorOfTheTap = nullptr;
    }
    if (watchTimer) {
        CFRunLoopTimerInvalidate(watchTimer.get());
    }
    if (runLoopSource) {
        CFRunLoopRemoveSource(CFRunLoopGetCurrent(), runLoopSource.get(), kCFRunLoopCommonModes);
    }
    if (eventTap) {
        CFMachPortSetInvalidationCallBack(eventTap.get(), nullptr);
        CFMachPortInvalidate(eventTap.get());
    }
}

KeyboardMonitor::KeyboardMonitor(std::vector<ShortcutConfig> configured, int out, int err)
    : shortcuts(std::move(configured)),
      detector(shortcuts),
      debugEnabled([] {
          const char* value = std::getenv(debugVariable);
          return value != nullptr && std::strcmp(value, "1") == 0;
      }()),
      lines(out, maxWaitingOutputBytes, LineOutput::WhenFull::keep),
      diagnostics(err, maxWaitingDiagnosticBytes, LineOutput::WhenFull::dropNew) {
    sleptAtLastLook = sleptNanoseconds();
    watched.reserve(shortcuts.size());
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        const std::string& id = shortcuts[i].id;
        // Equal ids share a slot: the first place of that id in the list.
        size_t slot = i;
        for (size_t j = 0; j < i; ++j) {
            if (shortcuts[j].id == id) {
                slot = watched[j].idSlot;
                break;
            }
        }
        watched.push_back(Watched{ShortcutTraits(shortcuts[i]), slot,
                                  std::string(shortcutPrefix).append(id).append(1, '\n'),
                                  std::string(shortcutUpPrefix).append(id).append(1, '\n')});
    }
    activeShortcutIds.assign(shortcuts.size(), 0);
    // Built now rather than inside the first event's callback.
    cachedKeyObjects();
}

bool KeyboardMonitor::start() {
    const TapAttempt* granted = nullptr;
    const KeyAccess access = keyAccess();
    for (const auto& attempt : tapAttempts) {
        if (!(attempt.options == kCGEventTapOptionDefault ? access.filter : access.listening)) {
            continue;
        }
        eventTap.reset(CGEventTapCreate(attempt.location, kCGHeadInsertEventTap, attempt.options,
                                        eventMask, tapCallback, this));
        if (eventTap) {
            granted = &attempt;
            canSuppressEvents = attempt.canSuppressEvents;
            break;
        }
    }
    if (granted == nullptr) {
        writeMessageNow(tapFailedMessage);
        return false;
    }
    // Reports differ on whether a filter tap hears key-downs with Accessibility alone.
    if (debugEnabled && granted->options == kCGEventTapOptionDefault &&
        !CGPreflightListenEventAccess()) {
        writeDebugLine(filterTapUnheardKeysNote);
    }
    runLoopSource.reset(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, eventTap.get(), 0));
    if (!runLoopSource) {
        writeMessageNow(runLoopSourceFailedMessage);
        eventTap.reset();
        return false;
    }
    CFRunLoopAddSource(CFRunLoopGetCurrent(), runLoopSource.get(), kCFRunLoopCommonModes);
    CGEventTapEnable(eventTap.get(), true);
    // A tap may stop without a word (around sleep, lock, a user switch) or lose its port: the
    // watch notices. It writes nothing while the tap is healthy.
    monitorOfTheTap = this;
    CFMachPortSetInvalidationCallBack(eventTap.get(), tapInvalidatedCallback);
    CFRunLoopTimerContext context{0, this, nullptr, nullptr, nullptr};
    watchTimer.reset(CFRunLoopTimerCreate(kCFAllocatorDefault,
                                          CFAbsoluteTimeGetCurrent() + watchIntervalSeconds,
                                          watchIntervalSeconds, 0, 0, tickCallback, &context));
    if (watchTimer) {
        CFRunLoopTimerSetTolerance(watchTimer.get(), watchToleranceSeconds);
        CFRunLoopAddTimer(CFRunLoopGetCurrent(), watchTimer.get(), kCFRunLoopCommonModes);
    }
    writeLine(std::string(readyPrefix) + granted->name + suppressLabel +
              (canSuppressEvents ? "true" : "false") + "\n");
    lines.send();
    diagnostics.send();
    if (ending == Ending::none) {  // the port may have been invalid already
        CFRunLoopRun();
    }
    if (ending != Ending::none) {
        // Outside the callback now: the tap goes for good.
        tearDownTap();
    }
    // Whatever still waits, however long the host takes: no tap waits on us any more.
    lines.sendAll();
    diagnostics.sendAll();
    switch (ending) {
        case Ending::none:
            return true;
        case Ending::hostStoppedReading:
            writeMessageNow(hostStoppedReadingMessage);
            break;
        case Ending::tapInvalidated:
            writeMessageNow(tapInvalidatedMessage);
            break;
        case Ending::tapNotReEnabled:
            writeMessageNow(tapNotReEnabledMessage);
            break;
    }
    return false;
}

void KeyboardMonitor::end(Ending why) {
    if (ending == Ending::none) {
        ending = why;
        CFRunLoopStop(CFRunLoopGetCurrent());
    }
}

void KeyboardMonitor::tickCallback(CFRunLoopTimerRef, void* info) {
    static_cast<KeyboardMonitor*>(info)->tick();
}

void KeyboardMonitor::tapInvalidatedCallback(CFMachPortRef, void*) {
    if (monitorOfTheTap != nullptr) {
        monitorOfTheTap->end(Ending::tapInvalidated);
    }
}

void KeyboardMonitor::tick() {
    if (ending != Ending::none || !eventTap) {
        return;
    }
    if (!CFMachPortIsValid(eventTap.get())) {
        end(Ending::tapInvalidated);
        return;
    }
    noteSleep();
    if (CGEventTapIsEnabled(eventTap.get())) {
        disabledTicks = 0;
    } else if (++disabledTicks >= maxDisabledTicks) {
        end(Ending::tapNotReEnabled);
        return;
    } else {
        handleTapDisabled();  // stopped without the notification: treated as if it had come
    }
    askHidSystemAboutHeldModifiers();
    sendWaiting();
}

void KeyboardMonitor::logConfigurationNotes(const std::vector<std::string>& notes) {
    if (debugEnabled) {
        for (const auto& note : notes) {
            writeDebugLine(note);
        }
        diagnostics.send();
    }
}

CGEventRef KeyboardMonitor::tapCallback(CGEventTapProxy, CGEventType type, CGEventRef event,
                                        void* userInfo) {
    if (userInfo == nullptr) {
        return event;
    }
    return static_cast<KeyboardMonitor*>(userInfo)->handle(type, event);
}

CGEventRef KeyboardMonitor::handle(uint32_t type, CGEventRef event) {
    CGEventRef result = dispatch(type, event);
    sendWaiting();
    return result;
}

void KeyboardMonitor::sendWaiting() {
    // An event's lines leave together, as far as the descriptors take them now.
    lines.send();
    diagnostics.send();
    if (lines.isOverfull() && ending == Ending::none) {
        giveUpTap();
    }
}

void KeyboardMonitor::giveUpTap() {
    if (eventTap) {
        CGEventTapEnable(eventTap.get(), false);
    }
    end(Ending::hostStoppedReading);
}

void KeyboardMonitor::noteSleep() {
    const uint64_t slept = sleptNanoseconds();
    if (slept - sleptAtLastLook > sleepGapNanoseconds) {
        afterGap = true;
    }
    sleptAtLastLook = slept;
}

CGEventRef KeyboardMonitor::dispatch(uint32_t type, CGEventRef event) {
    if (isTapDisabled(type)) {
        handleTapDisabled();
        return event;
    }
    if (isSuiteEvent(event)) {
        return event;  // untouched: no line, no state, no suppression
    }
    noteSleep();
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
    releaseModifiersMissed(event, *keyCode);
    const CGEventFlags flags = normalizedFlags(CGEventGetFlags(event));
    detector.handleKeyDown(*keyCode);
    emitCurrentKeys();
    detector.forEachKeyDownMatch(*keyCode, detector.keyEventFlags(*keyCode, flags),
                                 [this](size_t i) { emitShortcutIfNeeded(i); });
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
    releaseModifiersMissed(event, *keyCode);
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        if (!watched[i].traits.isFlagsChangedShortcut && shortcuts[i].keyCode == *keyCode) {
            emitShortcutReleaseIfNeeded(i);
        }
    }
    detector.handleKeyUp(*keyCode);
    emitCurrentKeys();
    if (debugEnabled) {
        writeDebugLine("keyUp keyCode=" + std::to_string(*keyCode));
    }
    return event;
}

template <typename Visit>
void KeyboardMonitor::forEachModifierShortcut(uint16_t keyCode, Visit&& visit) const {
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        const bool keyMatches = watched[i].traits.isFnShortcut
                                    ? ShortcutDetector::isFnKeyCode(keyCode)
                                    : keyCode == shortcuts[i].keyCode;
        if (watched[i].traits.isFlagsChangedShortcut && keyMatches) {
            visit(i);
        }
    }
}

CGEventRef KeyboardMonitor::handleFlagsChanged(CGEventRef event) {
    const auto keyCode = keyCodeOf(event);
    if (!keyCode) {
        return event;
    }
    releaseModifiersMissed(event, *keyCode);
    const CGEventFlags eventFlags = CGEventGetFlags(event);
    const CGEventFlags flags = normalizedFlags(eventFlags);
    const KeyTransition transition =
        (isFromKeyboard(event) ? detector.sideBitTransition(*keyCode, eventFlags) : std::nullopt)
            .value_or(detector.resolveModifierTransition(*keyCode, flags));
    switch (transition) {
        case KeyTransition::press:
            detector.handleKeyDown(*keyCode);
            confirmIfDown(*keyCode);
            emitCurrentKeys();
            detector.forEachFlagsChangedMatch(*keyCode, flags, [this](size_t i) {
                emitShortcutIfNeeded(i);
                if (watched[i].traits.isFnShortcut) {
                    markFnSuppressionWindow();
                }
            });
            break;
        case KeyTransition::release:
            releaseModifier(*keyCode, flags);
            break;
        case KeyTransition::none:
            if (shouldSuppressFlagsChanged(*keyCode, flags)) {
                markFnSuppressionWindow();
            }
            break;
    }
    if (debugEnabled) {
        writeDebugLine("flagsChanged keyCode=" + std::to_string(*keyCode) +
                       " flags=" + describeFlags(flags) + " transition=" + describe(transition));
    }
    return canSuppressEvents && shouldSuppressFlagsChanged(*keyCode, flags) ? nullptr : event;
}

bool KeyboardMonitor::shouldSuppressFlagsChanged(uint16_t keyCode, CGEventFlags flags) const {
    return detector.shouldSuppressFlagsChangedEvent(
        keyCode, flags, [this](size_t i) { return activeShortcutIds[watched[i].idSlot] != 0; });
}

void KeyboardMonitor::releaseModifier(uint16_t keyCode, CGEventFlags flags) {
    // Asked before the release lines, while the released shortcut is still active.
    if (shouldSuppressFlagsChanged(keyCode, flags)) {
        markFnSuppressionWindow();
    }
    forEachModifierShortcut(keyCode, [this](size_t i) { emitShortcutReleaseIfNeeded(i); });
    detector.handleKeyUp(keyCode);
    std::erase(confirmedModifiers, keyCode);
    emitCurrentKeys();
}

bool KeyboardMonitor::isConfirmed(uint16_t keyCode) const {
    return std::find(confirmedModifiers.begin(), confirmedModifiers.end(), keyCode) !=
           confirmedModifiers.end();
}

void KeyboardMonitor::confirmIfDown(uint16_t keyCode) {
    if (!isConfirmed(keyCode) &&
        CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, keyCode)) {
        confirmedModifiers.push_back(keyCode);
    }
}

void KeyboardMonitor::askHidSystemAboutHeldModifiers() {
    // Each release changes the held list; the usual list holds a key or two.
    const std::vector<uint16_t> held = detector.currentPressingKeyCodes();
    std::erase_if(confirmedModifiers, [&](uint16_t code) {
        return std::find(held.begin(), held.end(), code) == held.end();
    });
    for (const uint16_t code : held) {
        if (!ShortcutDetector::isModifierKey(code)) {
            continue;
        }
        const bool down = CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, code);
        if (!isConfirmed(code)) {
            if (down) {
                confirmedModifiers.push_back(code);
            }
        } else if (!down) {
            releaseModifier(code, 0);
        }
    }
}

void KeyboardMonitor::releaseModifiersMissed(CGEventRef event, uint16_t ownKey) {
    if (!afterGap) {
        return;  // the usual case: another keyboard's event says nothing of this one's keys
    }
    askHidSystemAboutHeldModifiers();
    if (!isFromKeyboard(event)) {
        return;  // a process's event says nothing of the keys the user holds
    }
    afterGap = false;
    // Keys the HID system never confirmed: the keyboard's event after the gap is all there is.
    const CGEventFlags eventFlags = CGEventGetFlags(event);
    const std::vector<uint16_t> held = detector.currentPressingKeyCodes();
    for (const uint16_t code : held) {
        if (code != ownKey && !isConfirmed(code) &&
            ShortcutDetector::isReportedUp(code, eventFlags)) {
            releaseModifier(code, normalizedFlags(eventFlags));
        }
    }
}

void KeyboardMonitor::handleTapDisabled() {
    afterGap = true;
    detector.cleanupStaleKeys();
    if (eventTap && ending == Ending::none) {
        CGEventTapEnable(eventTap.get(), true);
        diagnostics.add(reenabledMessage);
    }
}

void KeyboardMonitor::emitCurrentKeys() {
    // The line is a function of the held list alone, so an unchanged list (auto-repeat) prints
    // the text built last time.
    const uint64_t version = detector.pressingKeyCodesVersion();
    if (keysLineVersion != version) {
        keysLine.clear();
        keysLine.append(keysPrefix);
        keysLineValid = appendKeysJson(detector.currentPressingKeyCodes(), keysLine);
        keysLine += '\n';
        keysLineVersion = version;
    }
    if (keysLineValid) {
        writeLine(keysLine, true);
    }
}

void KeyboardMonitor::emitShortcutIfNeeded(size_t index) {
    const Watched& shortcut = watched[index];
    char& active = activeShortcutIds[shortcut.idSlot];
    if (active == 0) {
        active = 1;
        writeLine(shortcut.pressLine);
    }
}

void KeyboardMonitor::emitShortcutReleaseIfNeeded(size_t index) {
    const Watched& shortcut = watched[index];
    char& active = activeShortcutIds[shortcut.idSlot];
    if (active != 0) {
        active = 0;
        writeLine(shortcut.releaseLine);
    }
}

void KeyboardMonitor::writeLine(std::string_view line, bool isKeys) {
    lines.add(line, isKeys);
}

bool KeyboardMonitor::isFnWindowOpen() const {
    return monotonicNanoseconds() < suppressSystemDefinedUntil;
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
    suppressSystemDefinedUntil = monotonicNanoseconds() + fnSuppressionWindowNanoseconds;
}

void KeyboardMonitor::writeMessageNow(std::string_view message) {
    diagnostics.sendAll();  // what waits goes first, and the message then always finds room
    diagnostics.add(message);
    diagnostics.sendAll();
}

// Callers test debugEnabled first, so no message is built when debugging is off.
void KeyboardMonitor::writeDebugLine(const std::string& message) {
    diagnostics.add(debugPrefix + message + "\n");
}
