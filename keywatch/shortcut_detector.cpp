#include "keywatch/shortcut_detector.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "platform/clock.h"

namespace {

struct ModifierKey {
    uint16_t keyCode;
    CGEventFlags flag;
    uint16_t partner;
    CGEventFlags sideBit;   // the device-dependent bit of this key; none for Fn
    CGEventFlags pairBits;  // the side bits of both keys of the pair
};

constexpr CGEventFlags commandSides = NX_DEVICELCMDKEYMASK | NX_DEVICERCMDKEYMASK;
constexpr CGEventFlags shiftSides = NX_DEVICELSHIFTKEYMASK | NX_DEVICERSHIFTKEYMASK;
constexpr CGEventFlags optionSides = NX_DEVICELALTKEYMASK | NX_DEVICERALTKEYMASK;
constexpr CGEventFlags controlSides = NX_DEVICELCTLKEYMASK | NX_DEVICERCTLKEYMASK;

constexpr ModifierKey modifierKeys[] = {
    {54, kCGEventFlagMaskCommand, 55, NX_DEVICERCMDKEYMASK, commandSides},
    {55, kCGEventFlagMaskCommand, 54, NX_DEVICELCMDKEYMASK, commandSides},
    {56, kCGEventFlagMaskShift, 60, NX_DEVICELSHIFTKEYMASK, shiftSides},
    {60, kCGEventFlagMaskShift, 56, NX_DEVICERSHIFTKEYMASK, shiftSides},
    {58, kCGEventFlagMaskAlternate, 61, NX_DEVICELALTKEYMASK, optionSides},
    {61, kCGEventFlagMaskAlternate, 58, NX_DEVICERALTKEYMASK, optionSides},
    {59, kCGEventFlagMaskControl, 62, NX_DEVICELCTLKEYMASK, controlSides},
    {62, kCGEventFlagMaskControl, 59, NX_DEVICERCTLKEYMASK, controlSides},
    {63, kCGEventFlagMaskSecondaryFn, 179, 0, 0},
    {179, kCGEventFlagMaskSecondaryFn, 63, 0, 0},
};

// Navigation keys whose key-up releases both members of the pair.
constexpr std::pair<uint16_t, uint16_t> keyUpPairs[] = {
    {115, 123},
    {119, 124},
    {116, 126},
    {121, 125},
};

// kVK_F1 to kVK_F20, kVK_LeftArrow to kVK_UpArrow, kVK_Home, kVK_End, kVK_PageUp,
// kVK_PageDown, kVK_ForwardDelete and kVK_Help (HIToolbox's Events.h).
constexpr uint16_t functionKeyCodes[] = {
    122, 120, 99,  118, 96,  97,  98, 100, 101, 109,  // F1 to F10
    103, 111, 105, 107, 113, 106, 64, 79,  80,  90,   // F11 to F20
    123, 124, 125, 126,                               // the arrows
    115, 119, 116, 121, 117, 114,                     // Home, End, Page Up/Down, Fwd Del, Help
};

const ModifierKey* findModifier(uint16_t keyCode) {
    for (const auto& key : modifierKeys) {
        if (key.keyCode == keyCode) {
            return &key;
        }
    }
    return nullptr;
}

std::optional<uint16_t> mappedKeyUpPair(uint16_t keyCode) {
    for (const auto& [a, b] : keyUpPairs) {
        if (keyCode == a) {
            return b;
        }
        if (keyCode == b) {
            return a;
        }
    }
    return std::nullopt;
}

// The eight navigation keys are exactly the members of the key-up pairs.
bool isStaleCleanupExempt(uint16_t keyCode) {
    return mappedKeyUpPair(keyCode).has_value();
}

}  // namespace

ShortcutDetector::ShortcutDetector(std::vector<ShortcutConfig> configured)
    : shortcuts(std::move(configured)), traits(shortcuts.begin(), shortcuts.end()) {}

void ShortcutDetector::handleKeyDown(uint16_t keyCode) {
    cleanupStaleKeys();
    const uint64_t now = monotonicNanoseconds();
    const auto held = std::find(pressingKeyCodes.begin(), pressingKeyCodes.end(), keyCode);
    if (held == pressingKeyCodes.end()) {
        pressingKeyCodes.push_back(keyCode);
        keyPressedTimes.push_back(now);
        ++pressingVersion;
    } else {
        keyPressedTimes[static_cast<size_t>(held - pressingKeyCodes.begin())] = now;
    }
}

void ShortcutDetector::handleKeyUp(uint16_t keyCode) {
    removeKey(keyCode);
    if (const auto pair = mappedKeyUpPair(keyCode)) {
        removeKey(*pair);
    }
}

void ShortcutDetector::cleanupStaleKeys() {
    if (pressingKeyCodes.empty()) {
        return;
    }
    const uint64_t now = monotonicNanoseconds();
    std::vector<uint16_t> stale;
    for (size_t i = 0; i < pressingKeyCodes.size(); ++i) {
        const uint16_t code = pressingKeyCodes[i];
        if (now - keyPressedTimes[i] > staleKeyThresholdNanoseconds &&
            !isKeyInTargetShortcuts(code) && !isStaleCleanupExempt(code)) {
            stale.push_back(code);
        }
    }
    for (const uint16_t code : stale) {
        handleKeyUp(code);
    }
}

bool ShortcutDetector::isKeyPressed(uint16_t keyCode) const {
    return std::find(pressingKeyCodes.begin(), pressingKeyCodes.end(), keyCode) !=
           pressingKeyCodes.end();
}

std::vector<ShortcutConfig> ShortcutDetector::matchesKeyDownShortcut(uint16_t keyCode,
                                                                     CGEventFlags flags) const {
    std::vector<ShortcutConfig> matches;
    forEachKeyDownMatch(keyCode, flags, [&](size_t i) { matches.push_back(shortcuts[i]); });
    return matches;
}

std::vector<ShortcutConfig> ShortcutDetector::matchesFlagsChangedShortcut(
    uint16_t keyCode, CGEventFlags flags) const {
    std::vector<ShortcutConfig> matches;
    forEachFlagsChangedMatch(keyCode, flags, [&](size_t i) { matches.push_back(shortcuts[i]); });
    return matches;
}

KeyTransition ShortcutDetector::resolveModifierTransition(uint16_t keyCode,
                                                          CGEventFlags flags) const {
    // One table look-up stands for isModifierKey, isModifierActive and getOtherModifierKey.
    const ModifierKey* key = findModifier(keyCode);
    if (key == nullptr) {
        return KeyTransition::none;
    }
    const bool active = (flags & key->flag) != 0;
    const bool pressed = isKeyPressed(keyCode);
    const bool otherPressed = isKeyPressed(key->partner);
    if (!active) {
        return pressed ? KeyTransition::release : KeyTransition::none;
    }
    if (!pressed) {
        return KeyTransition::press;
    }
    // The bit stays set while the other side is down: the held key is the one that went up.
    return otherPressed ? KeyTransition::release : KeyTransition::none;
}

std::optional<KeyTransition> ShortcutDetector::sideBitTransition(uint16_t keyCode,
                                                                 CGEventFlags eventFlags) const {
    const ModifierKey* key = findModifier(keyCode);
    if (key == nullptr || (eventFlags & key->pairBits) == 0) {
        return std::nullopt;
    }
    const bool down = (eventFlags & key->sideBit) != 0;
    if (down != isKeyPressed(keyCode)) {
        return down ? KeyTransition::press : KeyTransition::release;
    }
    return KeyTransition::none;
}

bool ShortcutDetector::isReportedUp(uint16_t keyCode, CGEventFlags eventFlags) {
    const ModifierKey* key = findModifier(keyCode);
    if (key == nullptr) {
        return false;
    }
    if ((eventFlags & key->pairBits) != 0) {
        return (eventFlags & key->sideBit) == 0;
    }
    return (eventFlags & key->flag) == 0;
}

bool ShortcutDetector::shouldSuppressFlagsChangedEvent(
    uint16_t keyCode, CGEventFlags flags, const std::set<std::string>& activeShortcutIds) const {
    return shouldSuppressFlagsChangedEvent(
        keyCode, flags, [&](size_t i) { return activeShortcutIds.count(shortcuts[i].id) > 0; });
}

bool ShortcutDetector::isModifierKey(uint16_t keyCode) {
    return findModifier(keyCode) != nullptr;
}

bool ShortcutDetector::isModifierActive(uint16_t keyCode, CGEventFlags flags) {
    const ModifierKey* key = findModifier(keyCode);
    return key != nullptr && (flags & key->flag) != 0;
}

uint16_t ShortcutDetector::getOtherModifierKey(uint16_t keyCode) {
    const ModifierKey* key = findModifier(keyCode);
    return key != nullptr ? key->partner : invalidKeyCode;
}

void ShortcutDetector::removeKey(uint16_t keyCode) {
    // Both lists shift together, so every remaining time stays beside its key.
    size_t kept = 0;
    for (size_t i = 0; i < pressingKeyCodes.size(); ++i) {
        if (pressingKeyCodes[i] != keyCode) {
            pressingKeyCodes[kept] = pressingKeyCodes[i];
            keyPressedTimes[kept] = keyPressedTimes[i];
            ++kept;
        }
    }
    if (kept != pressingKeyCodes.size()) {
        pressingKeyCodes.resize(kept);
        keyPressedTimes.resize(kept);
        ++pressingVersion;
    }
}

bool ShortcutDetector::isFunctionKeyCode(uint16_t keyCode) {
    return std::find(std::begin(functionKeyCodes), std::end(functionKeyCodes), keyCode) !=
           std::end(functionKeyCodes);
}

CGEventFlags ShortcutDetector::keyEventFlags(uint16_t keyCode, CGEventFlags flags) const {
    if (isFunctionKeyCode(keyCode) && !isKeyPressed(63) && !isKeyPressed(179)) {
        return flags & ~kCGEventFlagMaskSecondaryFn;
    }
    return flags;
}

bool ShortcutDetector::shortcutMatchesKeyCode(const ShortcutConfig& shortcut, uint16_t keyCode) {
    return shortcut.isFnShortcut() ? isFnKeyCode(keyCode) : keyCode == shortcut.keyCode;
}

bool ShortcutDetector::isKeyInTargetShortcuts(uint16_t keyCode) const {
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        if (matchesKeyCode(i, keyCode)) {
            return true;
        }
    }
    return false;
}
