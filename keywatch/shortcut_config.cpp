#include "keywatch/shortcut_config.h"

#include <algorithm>
#include <iterator>
#include <nlohmann/json.hpp>
#include <variant>

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

// The strict readers below throw on anything the field table does not allow, saying what; the
// caller rejects the whole document then.
struct Rejected {
    std::string what;
};

const json& member(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw Rejected{std::string(key) + " is missing"};
    }
    return *found;
}

std::string readString(const json& value, const std::string& name) {
    if (!value.is_string()) {
        throw Rejected{name + " is not a string"};
    }
    return value.get<std::string>();
}

// Integers only: negative, fractional, too large and non-numbers are all rejected.
uint16_t readKeyCode(const json& value, const std::string& name) {
    if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFFFF) {
        throw Rejected{name + " is not an integer 0-65535"};
    }
    return static_cast<uint16_t>(value.get<uint64_t>());
}

// A list whose every entry `read(entry, name)` takes.
template <typename Read>
auto readList(const json& value, const std::string& name, Read read) {
    if (!value.is_array()) {
        throw Rejected{name + " is not a list"};
    }
    std::vector<decltype(read(value, name))> entries;
    entries.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        entries.push_back(read(value[i], name + "[" + std::to_string(i) + "]"));
    }
    return entries;
}

ShortcutConfig readShortcut(const json& object) {
    if (!object.is_object()) {
        throw Rejected{"is not an object"};
    }
    ShortcutConfig shortcut;
    shortcut.id = readString(member(object, "id"), "id");
    shortcut.keyCode = readKeyCode(member(object, "keyCode"), "keyCode");
    shortcut.modifiers = readList(member(object, "modifiers"), "modifiers", readString);
    if (const auto codes = object.find("modifierKeyCodes");
        codes != object.end() && !codes->is_null()) {
        shortcut.modifierKeyCodes = readList(*codes, "modifierKeyCodes", readKeyCode);
    }
    shortcut.eventType = readString(member(object, "eventType"), "eventType");
    return shortcut;
}

// The list, or why the document is not a valid, non-empty shortcut list.
std::variant<std::vector<ShortcutConfig>, std::string> decodeShortcuts(
    const std::string& document) {
    json parsed;
    try {
        parsed = json::parse(document);
    } catch (const json::parse_error& error) {
        // Malformed text and invalid UTF-8 alike; the byte (1-based) says where to look.
        return "it is not JSON, at byte " + std::to_string(error.byte);
    } catch (const json::out_of_range&) {
        return std::string("it holds a number beyond any a shortcut can have");  // 1e999
    }
    if (!parsed.is_array()) {
        return std::string("it is not a list");
    }
    if (parsed.empty()) {
        return std::string("the list is empty");
    }
    std::vector<ShortcutConfig> shortcuts;
    shortcuts.reserve(parsed.size());
    for (size_t i = 0; i < parsed.size(); ++i) {
        try {
            shortcuts.push_back(readShortcut(parsed[i]));
        } catch (const Rejected& rejected) {
            return "shortcut " + std::to_string(i + 1) + " " + rejected.what;  // the first is 1
        }
    }
    return shortcuts;
}

bool isModifierName(const std::string& modifier) {
    const std::string name = lowercasedName(modifier);
    return std::any_of(std::begin(modifierNames), std::end(modifierNames),
                       [&](const ModifierName& known) { return name == known.name; });
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

ShortcutsRead readShortcuts(const std::vector<std::string>& arguments) {
    // The program path is searched too: a host may start keywatch under any name.
    const auto option = std::find(arguments.begin(), arguments.end(), configOption);
    if (option == arguments.end()) {
        return {defaultShortcuts(), {}};
    }
    if (option + 1 == arguments.end()) {
        return {defaultShortcuts(), {"--config-json has no value: the default shortcut is used"}};
    }
    auto decoded = decodeShortcuts(*(option + 1));
    if (auto* why = std::get_if<std::string>(&decoded)) {
        return {defaultShortcuts(),
                {"--config-json not used (" + *why + "): the default shortcut is used"}};
    }
    ShortcutsRead read{std::move(std::get<std::vector<ShortcutConfig>>(decoded)), {}};
    for (const auto& shortcut : read.shortcuts) {
        for (const auto& modifier : shortcut.modifiers) {
            if (!isModifierName(modifier)) {
                read.notes.push_back("modifier \"" + modifier + "\" of shortcut \"" + shortcut.id +
                                     "\" is no modifier name: ignored");
            }
        }
    }
    return read;
}

std::vector<ShortcutConfig> parseShortcuts(const std::vector<std::string>& arguments) {
    return readShortcuts(arguments).shortcuts;
}
