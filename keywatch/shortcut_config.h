// The shortcuts keywatch watches for, read once from the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/keyboard_events.h"

struct ShortcutConfig {
    std::string id;
    uint16_t keyCode = 0;
    std::vector<std::string> modifiers;
    std::optional<std::vector<uint16_t>> modifierKeyCodes;
    std::string eventType;

    // The modifier bits the names ask for; unrecognised names add nothing.
    CGEventFlags requiredFlags() const;
    bool isFlagsChangedShortcut() const { return eventType == "flagsChanged"; }
    // Fn alone, as a modifier-key shortcut.
    bool isFnShortcut() const;
    std::vector<uint16_t> requiredModifierKeyCodes() const {
        return modifierKeyCodes.value_or(std::vector<uint16_t>{});
    }

    bool operator==(const ShortcutConfig&) const = default;
};

// A record's derived properties, read once for the per-event path. The list never changes after
// start-up and the derivations are pure, so a holder answers exactly as the record would.
struct ShortcutTraits {
    explicit ShortcutTraits(const ShortcutConfig& shortcut)
        : requiredFlags(shortcut.requiredFlags()),
          isFlagsChangedShortcut(shortcut.isFlagsChangedShortcut()),
          isFnShortcut(shortcut.isFnShortcut()) {}

    CGEventFlags requiredFlags;
    bool isFlagsChangedShortcut;
    bool isFnShortcut;
};

// The right Command key pressed alone.
std::vector<ShortcutConfig> defaultShortcuts();

// The value after the first "--config-json" of the whole argument list (the program path
// included) when it is a non-empty array of valid shortcut objects; otherwise the default list.
// Never empty.
std::vector<ShortcutConfig> parseShortcuts(const std::vector<std::string>& arguments);

// The same list, and what was not used of the configuration, for the debug lines: why the whole
// of it was dropped for the default, or which modifier names mean nothing.
struct ShortcutsRead {
    std::vector<ShortcutConfig> shortcuts;
    std::vector<std::string> notes;
};
ShortcutsRead readShortcuts(const std::vector<std::string>& arguments);
