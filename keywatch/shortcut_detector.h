// Which keys are held, and which configured shortcuts an event completes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "keywatch/shortcut_config.h"

enum class KeyTransition { none, press, release };

class ShortcutDetector {
  public:
    static constexpr double staleKeyThresholdSeconds = 10.0;
    static constexpr auto staleKeyThresholdNanoseconds =
        static_cast<uint64_t>(staleKeyThresholdSeconds * 1e9);
    static constexpr uint16_t invalidKeyCode = 0xFFFF;

    explicit ShortcutDetector(std::vector<ShortcutConfig> shortcuts);

    void handleKeyDown(uint16_t keyCode);
    void handleKeyUp(uint16_t keyCode);
    // Forgets held keys whose release was missed: older than the threshold, and neither a
    // shortcut's key nor a navigation key.
    void cleanupStaleKeys();

    bool isKeyPressed(uint16_t keyCode) const;
    // Valid until the next key-down, key-up or clean-up.
    const std::vector<uint16_t>& currentPressingKeyCodes() const { return pressingKeyCodes; }
    // Changes whenever currentPressingKeyCodes() does, and only then.
    uint64_t pressingKeyCodesVersion() const { return pressingVersion; }

    std::vector<ShortcutConfig> matchesKeyDownShortcut(uint16_t keyCode, CGEventFlags flags) const;
    std::vector<ShortcutConfig> matchesFlagsChangedShortcut(uint16_t keyCode,
                                                            CGEventFlags flags) const;
    // The same matches without copies: `visit(index)` for each, index into the configured list,
    // in configuration order. Nothing the visitor does to other objects changes what matches.
    template <typename Visit>
    void forEachKeyDownMatch(uint16_t keyCode, CGEventFlags flags, Visit&& visit) const;
    template <typename Visit>
    void forEachFlagsChangedMatch(uint16_t keyCode, CGEventFlags flags, Visit&& visit) const;

    KeyTransition resolveModifierTransition(uint16_t keyCode, CGEventFlags flags) const;
    // What a keyboard's flags-changed event says of its own key when it carries a side bit of
    // the key's pair (left or right, IOLLEvent.h): the key's own bit set is a press of a key not
    // held, clear a release of a held one. Nothing when the event has no side bit of the pair.
    std::optional<KeyTransition> sideBitTransition(uint16_t keyCode, CGEventFlags eventFlags) const;
    // Whether a keyboard's event, by its full flags, says this modifier key is up: by the key's
    // own side bit when the event carries one of its pair, else by its modifier's bit (Fn: the
    // Fn bit). False for a key that is not a modifier key.
    static bool isReportedUp(uint16_t keyCode, CGEventFlags eventFlags);
    bool shouldSuppressFlagsChangedEvent(uint16_t keyCode, CGEventFlags flags,
                                         const std::set<std::string>& activeShortcutIds) const;
    // The same answer, with `isActive(index)` telling whether the id of the configured shortcut
    // at that index is active.
    template <typename IsActive>
    bool shouldSuppressFlagsChangedEvent(uint16_t keyCode, CGEventFlags flags,
                                         IsActive&& isActive) const;

    static bool isModifierKey(uint16_t keyCode);
    static bool isModifierActive(uint16_t keyCode, CGEventFlags flags);
    static uint16_t getOtherModifierKey(uint16_t keyCode);
    static bool isFnKeyCode(uint16_t keyCode) { return keyCode == 63 || keyCode == 179; }
    // F1 to F20, the arrows, Home, End, Page Up, Page Down, Forward Delete and Help: a Mac sets
    // the Fn bit in their key events whether or not a Fn key is held.
    static bool isFunctionKeyCode(uint16_t keyCode);
    // The flags a key event counts with: the Fn bit of a function key's event only while a Fn
    // key is held; every other key's as they come.
    CGEventFlags keyEventFlags(uint16_t keyCode, CGEventFlags flags) const;
    // The key that completes a shortcut: either Fn key for a Fn shortcut, else its own key.
    static bool shortcutMatchesKeyCode(const ShortcutConfig& shortcut, uint16_t keyCode);

  private:
    void removeKey(uint16_t keyCode);
    bool isKeyInTargetShortcuts(uint16_t keyCode) const;
    bool matchesKeyCode(size_t index, uint16_t keyCode) const {
        return traits[index].isFnShortcut ? isFnKeyCode(keyCode)
                                          : keyCode == shortcuts[index].keyCode;
    }

    std::vector<ShortcutConfig> shortcuts;
    std::vector<ShortcutTraits> traits;  // one per shortcut, same order
    std::vector<uint16_t> pressingKeyCodes;
    // The monotonic time of each held key's latest key-down, at the key's index in
    // pressingKeyCodes: a map's node per press would cost an allocation on every modifier press.
    std::vector<uint64_t> keyPressedTimes;
    uint64_t pressingVersion = 0;
};

template <typename Visit>
void ShortcutDetector::forEachKeyDownMatch(uint16_t keyCode, CGEventFlags flags,
                                           Visit&& visit) const {
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        const auto& shortcut = shortcuts[i];
        if (traits[i].isFlagsChangedShortcut || shortcut.keyCode != keyCode ||
            traits[i].requiredFlags != flags) {
            continue;
        }
        const auto& required = shortcut.modifierKeyCodes;
        if (required && !std::all_of(required->begin(), required->end(),
                                     [this](uint16_t code) { return isKeyPressed(code); })) {
            continue;
        }
        visit(i);
    }
}

template <typename Visit>
void ShortcutDetector::forEachFlagsChangedMatch(uint16_t keyCode, CGEventFlags flags,
                                                Visit&& visit) const {
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        if (traits[i].isFlagsChangedShortcut && matchesKeyCode(i, keyCode) &&
            traits[i].requiredFlags == flags) {
            visit(i);
        }
    }
}

template <typename IsActive>
bool ShortcutDetector::shouldSuppressFlagsChangedEvent(uint16_t keyCode, CGEventFlags flags,
                                                       IsActive&& isActive) const {
    if (!isFnKeyCode(keyCode)) {
        return false;
    }
    if ((flags & kCGEventFlagMaskSecondaryFn) != 0) {
        return true;
    }
    for (size_t i = 0; i < shortcuts.size(); ++i) {
        if (traits[i].isFnShortcut && isActive(i)) {
            return true;
        }
    }
    return false;
}
