#include "keywatch/shortcut_config.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "platform/cf_string.h"
#include "platform/text.h"

namespace {

using nlohmann::json;

constexpr const char* configOption = "--config-json";

struct ModifierName {
    const char* name;
    CGEventFlags mask;
};

constexpr ModifierName modifierNames[] = {
    {"command", kCGEventFlagMaskCommand},  {"shift", kCGEventFlagMaskShift},
    {"option", kCGEventFlagMaskAlternate}, {"alternate", kCGEventFlagMaskAlternate},
    {"control", kCGEventFlagMaskControl},  {"fn", kCGEventFlagMaskSecondaryFn},
};

// Locale-independent full lower-case mapping. ASCII text maps to ASCII alone, so it skips the
// platform's string services.
std::string lowercasedName(const std::string& text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        std::string out = text;
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return out;
    }
    return utf16ToUtf8(lowercased(utf8ToUtf16(text)));
}

// The strict readers below throw on anything the field table does not allow; the caller
// rejects the whole document then.
struct Rejected {};

const json& member(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw Rejected{};
    }
    return *found;
}

std::string readString(const json& value) {
    if (!value.is_string()) {
        throw Rejected{};
    }
    return value.get<std::string>();
}

// Integers only: negative, fractional, too large and non-numbers are all rejected.
uint16_t readKeyCode(const json& value) {
    if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFFFF) {
        throw Rejected{};
    }
    return static_cast<uint16_t>(value.get<uint64_t>());
}

std::vector<std::string> readStrings(const json& value) {
    if (!value.is_array()) {
        throw Rejected{};
    }
    std::vector<std::string> strings;
    strings.reserve(value.size());
    for (const auto& element : value) {
        strings.push_back(readString(element));
    }
    return strings;
}

std::vector<uint16_t> readKeyCodes(const json& value) {
    if (!value.is_array()) {
        throw Rejected{};
    }
    std::vector<uint16_t> codes;
    codes.reserve(value.size());
    for (const auto& element : value) {
        codes.push_back(readKeyCode(element));
    }
    return codes;
}

ShortcutConfig readShortcut(const json& object) {
    if (!object.is_object()) {
        throw Rejected{};
    }
    ShortcutConfig shortcut;
    shortcut.id = readString(member(object, "id"));
    shortcut.keyCode = readKeyCode(member(object, "keyCode"));
    shortcut.modifiers = readStrings(member(object, "modifiers"));
    if (const auto codes = object.find("modifierKeyCodes");
        codes != object.end() && !codes->is_null()) {
        shortcut.modifierKeyCodes = readKeyCodes(*codes);
    }
    shortcut.eventType = readString(member(object, "eventType"));
    return shortcut;
}

// Nothing when the document is not a valid, non-empty shortcut list.
std::optional<std::vector<ShortcutConfig>> decodeShortcuts(const std::string& document) {
    // Non-throwing parse: malformed text (and invalid UTF-8) comes back as a discarded value.
    const json parsed = json::parse(document, nullptr, false);
    if (!parsed.is_array() || parsed.empty()) {
        return std::nullopt;
    }
    try {
        std::vector<ShortcutConfig> shortcuts;
        shortcuts.reserve(parsed.size());
        for (const auto& element : parsed) {
            shortcuts.push_back(readShortcut(element));
        }
        return shortcuts;
    } catch (const Rejected&) {
        return std::nullopt;
    }
}

}  // namespace

CGEventFlags ShortcutConfig::requiredFlags() const {
    CGEventFlags flags = 0;
    for (const auto& modifier : modifiers) {
        const std::string name = lowercasedName(modifier);
        for (const auto& known : modifierNames) {
            if (name == known.name) {
                flags |= known.mask;
            }
        }
    }
    return flags;
}

bool ShortcutConfig::isFnShortcut() const {
    return isFlagsChangedShortcut() && requiredFlags() == kCGEventFlagMaskSecondaryFn;
}

std::vector<ShortcutConfig> defaultShortcuts() {
    return {ShortcutConfig{
        .id = "transcript-start",
        .keyCode = 54,
        .modifiers = {"command"},
        .modifierKeyCodes = std::nullopt,
        .eventType = "flagsChanged",
    }};
}

std::vector<ShortcutConfig> parseShortcuts(const std::vector<std::string>& arguments) {
    // The program path is searched too: a host may start keywatch under any name.
    const auto option = std::find(arguments.begin(), arguments.end(), configOption);
    if (option == arguments.end() || option + 1 == arguments.end()) {
        return defaultShortcuts();
    }
    return decodeShortcuts(*(option + 1)).value_or(defaultShortcuts());
}
