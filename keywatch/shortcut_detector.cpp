#include "keywatch/shortcut_detector.h"

#include <algorithm>
#include <optional>

#include "platform/core_foundation.h"

namespace {

struct ModifierKey {
    uint16_t keyCode;
    CGEventFlags flag;
    uint16_t partner;
};

constexpr ModifierKey modifierKeys[] = {
    {54, kCGEventFlagMaskCommand, 55},      {55, kCGEventFlagMaskCommand, 54},
    {56, kCGEventFlagMaskShift, 60},        {60, kCGEventFlagMaskShift, 56},
    {58, kCGEventFlagMaskAlternate, 61},    {61, kCGEventFlagMaskAlternate, 58},
    {59, kCGEventFlagMaskControl, 62},      {62, kCGEventFlagMaskControl, 59},
    {63, kCGEventFlagMaskSecondaryFn, 179}, {179, kCGEventFlagMaskSecondaryFn, 63},
};

// Navigation keys whose key-up releases both members of the pair.
constexpr std::pair<uint16_t, uint16_t> keyUpPairs[] = {
    {115, 123},
    {119, 124},
    {116, 126},
    {121, 125},
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
    : shortcuts(std::move(configured)) {}

void ShortcutDetector::handleKeyDown(uint16_t keyCode) {
    cleanupStaleKeys();
    if (!isKeyPressed(keyCode)) {
        pressingKeyCodes.push_back(keyCode);
    }
    keyPressedTimes[keyCode] = CFAbsoluteTimeGetCurrent();
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
    const double now = CFAbsoluteTimeGetCurrent();
    std::vector<uint16_t> stale;
    for (const uint16_t code : pressingKeyCodes) {
        const auto pressed = keyPressedTimes.find(code);
        if (pressed != keyPressedTimes.end() && now - pressed->second > staleKeyThresholdSeconds &&
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
    for (const auto& shortcut : shortcuts) {
        if (shortcut.isFlagsChangedShortcut() || shortcut.keyCode != keyCode ||
            shortcut.requiredFlags() != flags) {
            continue;
        }
        const auto& required = shortcut.modifierKeyCodes;
        if (required && !std::all_of(required->begin(), required->end(),
                                     [this](uint16_t code) { return isKeyPressed(code); })) {
            continue;
        }
        matches.push_back(shortcut);
    }
    return matches;
}

std::vector<ShortcutConfig> ShortcutDetector::matchesFlagsChangedShortcut(
    uint16_t keyCode, CGEventFlags flags) const {
    std::vector<ShortcutConfig> matches;
    for (const auto& shortcut : shortcuts) {
        if (shortcut.isFlagsChangedShortcut() && shortcutMatchesKeyCode(shortcut, keyCode) &&
            shortcut.requiredFlags() == flags) {
            matches.push_back(shortcut);
        }
    }
    return matches;
}

KeyTransition ShortcutDetector::resolveModifierTransition(uint16_t keyCode,
                                                          CGEventFlags flags) const {
    if (!isModifierKey(keyCode)) {
        return KeyTransition::none;
    }
    const bool active = isModifierActive(keyCode, flags);
    const bool pressed = isKeyPressed(keyCode);
    const uint16_t other = getOtherModifierKey(keyCode);
    const bool otherPressed = other != invalidKeyCode && isKeyPressed(other);
    if (!active) {
        return pressed ? KeyTransition::release : KeyTransition::none;
    }
    if (!pressed) {
        return KeyTransition::press;
    }
    // The bit stays set while the other side is down: the held key is the one that went up.
    return otherPressed ? KeyTransition::release : KeyTransition::none;
}

bool ShortcutDetector::shouldSuppressFlagsChangedEvent(
    uint16_t keyCode, CGEventFlags flags, const std::set<std::string>& activeShortcutIds) const {
    if (!isFnKeyCode(keyCode)) {
        return false;
    }
    if ((flags & kCGEventFlagMaskSecondaryFn) != 0) {
        return true;
    }
    return std::any_of(shortcuts.begin(), shortcuts.end(), [&](const ShortcutConfig& shortcut) {
        return shortcut.isFnShortcut() && activeShortcutIds.count(shortcut.id) > 0;
    });
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
    pressingKeyCodes.erase(std::remove(pressingKeyCodes.begin(), pressingKeyCodes.end(), keyCode),
                           pressingKeyCodes.end());
    keyPressedTimes.erase(keyCode);
}

bool ShortcutDetector::shortcutMatchesKeyCode(const ShortcutConfig& shortcut, uint16_t keyCode) {
    return shortcut.isFnShortcut() ? isFnKeyCode(keyCode) : keyCode == shortcut.keyCode;
}

bool ShortcutDetector::isKeyInTargetShortcuts(uint16_t keyCode) const {
    return std::any_of(shortcuts.begin(), shortcuts.end(), [&](const ShortcutConfig& shortcut) {
        return shortcutMatchesKeyCode(shortcut, keyCode);
    });
}
