// Keyboard layouts as a Mac hands them out: the 'uchr' bytes of UnicodeUtilities.h, built from a
// layout's parts (a .keylayout file or a scenario's key map), and UCKeyTranslate's walk of them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/keyboard_layout.h"

namespace standin {

// A layout as its parts, before it becomes bytes.
struct LayoutModel {
    static constexpr size_t keyCodes = 128;  // keyToCharTableSize, as for Apple's keyboards

    // What one key gives in one table: nothing, text, or the index of an action.
    struct Key {
        std::optional<std::u16string> output;
        std::optional<size_t> action;
    };
    using Table = std::array<Key, keyCodes>;

    // One dead-key state's answer within an action.
    struct When {
        uint16_t state = 0;  // not 0: state 0 is the action's own output and next state
        std::optional<std::u16string> output;
        uint16_t next = 0;
    };
    struct Action {
        std::optional<std::u16string> output;  // in state 0
        uint16_t next = 0;                     // from state 0
        std::vector<When> whens;
    };

    // The keyboard types first..last read their modifier byte through `tableOfModifiers`.
    struct KeyboardType {
        uint32_t first = 0;
        uint32_t last = 0;
        std::array<uint8_t, 256> tableOfModifiers{};
        uint8_t defaultTable = 0;
        std::vector<Table> tables;
    };

    std::vector<KeyboardType> keyboardTypes;  // the first is the default
    std::vector<Action> actions;
    std::vector<std::optional<std::u16string>> terminators;  // [0] ends state 1
};

// The 'uchr' bytes of a layout, native byte order, as kTISPropertyUnicodeKeyLayoutData holds.
std::vector<uint8_t> compileUchr(const LayoutModel& layout);

// A .keylayout file (Apple's XML format, TN2056) as its parts; throws std::runtime_error naming
// what is wrong with it.
LayoutModel readKeylayout(const std::string& path);

// UCKeyTranslate over 'uchr' bytes, as the platform walks them.
OSStatus translateUchr(const uint8_t* bytes, UInt16 virtualKeyCode, UInt16 keyAction,
                       UInt32 modifierKeyState, UInt32 keyboardType, OptionBits options,
                       UInt32* deadKeyState, UniCharCount maxStringLength,
                       UniCharCount* actualStringLength, UniChar unicodeString[]);

}  // namespace standin
