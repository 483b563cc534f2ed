#include "keypost/key_code_lookup.h"

#include <algorithm>
#include <optional>
#include <string>

#include "platform/cf_cast.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_layout.h"
#include "platform/text.h"

namespace {

// Every letter key of Apple's keyboards has a code below 128.
constexpr UInt16 keyCodesSearched = 128;
// UCKeyTranslate's modifier state is EventRecord's modifiers >> 8.
constexpr UInt32 commandHeld = (cmdKey >> 8) & 0xFF;
constexpr UInt32 noModifierKeys = 0;
constexpr OptionBits noTranslateOptions = 0;
constexpr UniCharCount typedUnitsAtMost = 4;

// A source held while its layout data is read.
struct HeldLayout {
    CFRef<TISInputSourceRef> source;
    const UCKeyboardLayout* layout = nullptr;
};

// The layout data of the first source that has some. An application reads a keystroke through
// the keyboard layout: the one an input method types through (the current source itself has no
// layout data then), else the last ASCII-capable one, else the current source's.
HeldLayout keyboardLayout() {
    for (const auto copy :
         {TISCopyCurrentKeyboardLayoutInputSource,
          TISCopyCurrentASCIICapableKeyboardLayoutInputSource, TISCopyCurrentKeyboardInputSource}) {
        CFRef<TISInputSourceRef> source(copy());
        if (!source) {
            continue;
        }
        // Borrowed from the source (a Get result).
        const auto data = cfCast<CFDataRef>(
            TISGetInputSourceProperty(source.get(), kTISPropertyUnicodeKeyLayoutData));
        const UInt8* bytes = data == nullptr ? nullptr : CFDataGetBytePtr(data);
        if (bytes != nullptr) {
            return {std::move(source), reinterpret_cast<const UCKeyboardLayout*>(bytes)};
        }
    }
    return {};
}

// The lowest key code whose key, with these modifiers, types `wanted` (lowercased).
std::optional<uint16_t> keyTyping(const UCKeyboardLayout* layout, const std::u16string& wanted,
                                  UInt32 modifierState) {
    for (UInt16 keyCode = 0; keyCode < keyCodesSearched; ++keyCode) {
        // A fresh state per key, so that no dead key carries over into the next one.
        UniChar typed[typedUnitsAtMost] = {};
        UInt32 deadKeyState = 0;
        UniCharCount length = 0;
        // The keyboard type is asked per key: it is what the platform answers now.
        const OSStatus status =
            UCKeyTranslate(layout, keyCode, kUCKeyActionDisplay, modifierState, LMGetKbdType(),
                           noTranslateOptions, &deadKeyState, typedUnitsAtMost, &length, typed);
        if (status != noErr || length == 0) {
            continue;
        }
        const std::u16string_view produced(reinterpret_cast<const char16_t*>(typed),
                                           std::min(length, typedUnitsAtMost));
        if (lowercased(produced) == wanted) {
            return keyCode;
        }
    }
    return std::nullopt;
}

}  // namespace

uint16_t keyCodeForCharacter(std::u16string_view character, uint16_t fallback) {
    const HeldLayout held = keyboardLayout();
    if (held.layout == nullptr) {
        return fallback;
    }
    const std::u16string wanted = lowercased(character);
    // The application reads the key through the layout's Command table ("Dvorak - QWERTY ⌘"
    // reads QWERTY there); a layout whose Command table lacks the letter, through its own.
    if (const auto key = keyTyping(held.layout, wanted, commandHeld)) {
        return *key;
    }
    return keyTyping(held.layout, wanted, noModifierKeys).value_or(fallback);
}
