// Which keys are held, and which configured shortcuts an event completes.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "keywatch/shortcut_config.h"

enum class KeyTransition { none, press, release };

class ShortcutDetector {
  public:
    static constexpr double staleKeyThresholdSeconds = 10.0;
    static constexpr uint16_t invalidKeyCode = 0xFFFF;

    explicit ShortcutDetector(std::vector<ShortcutConfig> shortcuts);

    void handleKeyDown(uint16_t keyCode);
    void handleKeyUp(uint16_t keyCode);
    // Forgets held keys whose release was missed: older than the threshold, and neither a
    // shortcut's key nor a navigation key.
    void cleanupStaleKeys();

    bool isKeyPressed(uint16_t keyCode) const;
    std::vector<uint16_t> currentPressingKeyCodes() const { return pressingKeyCodes; }

    std::vector<ShortcutConfig> matchesKeyDownShortcut(uint16_t keyCode, CGEventFlags flags) const;
    std::vector<ShortcutConfig> matchesFlagsChangedShortcut(uint16_t keyCode,
                                                            CGEventFlags flags) const;
    KeyTransition resolveModifierTransition(uint16_t keyCode, CGEventFlags flags) const;
    bool shouldSuppressFlagsChangedEvent(uint16_t keyCode, CGEventFlags flags,
                                         const std::set<std::string>& activeShortcutIds) const;

    static bool isModifierKey(uint16_t keyCode);
    static bool isModifierActive(uint16_t keyCode, CGEventFlags flags);
    static uint16_t getOtherModifierKey(uint16_t keyCode);
    static bool isFnKeyCode(uint16_t keyCode) { return keyCode == 63 || keyCode == 179; }
    // The key that completes a shortcut: either Fn key for a Fn shortcut, else its own key.
    static bool shortcutMatchesKeyCode(const ShortcutConfig& shortcut, uint16_t keyCode);

  private:
    void removeKey(uint16_t keyCode);
    bool isKeyInTargetShortcuts(uint16_t keyCode) const;

    std::vector<ShortcutConfig> shortcuts;
    std::vector<uint16_t> pressingKeyCodes;
    std::unordered_map<uint16_t, double> keyPressedTimes;
};
