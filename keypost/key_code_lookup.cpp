#include "keypost/key_code_lookup.h"

#include <algorithm>
#include <string>

#include "platform/cf_cast.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_layout.h"
#include "platform/text.h"

namespace {

// Every letter key of Apple's keyboards has a code below 128.
constexpr UInt16 keyCodesSearched = 128;
constexpr UInt32 noModifierKeys = 0;
constexpr OptionBits noTranslateOptions = 0;
constexpr UniCharCount typedUnitsAtMost = 4;

}  // namespace

uint16_t keyCodeForCharacter(std::u16string_view character, uint16_t fallback) {
    const CFRef<TISInputSourceRef> source(TISCopyCurrentKeyboardInputSource());
    if (!source) {
        return fallback;
    }
    // Borrowed from the source (a Get result).
    const auto data = cfCast<CFDataRef>(
        TISGetInputSourceProperty(source.get(), kTISPropertyUnicodeKeyLayoutData));
    if (data == nullptr) {
        return fallback;
    }
    const auto* layout = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
    if (layout == nullptr) {
        return fallback;
    }
    const std::u16string wanted = lowercased(character);
    for (UInt16 keyCode = 0; keyCode < keyCodesSearched; ++keyCode) {
        // A fresh state per key, so that no dead key carries over into the next one.
        UniChar typed[typedUnitsAtMost] = {};
        UInt32 deadKeyState = 0;
        UniCharCount length = 0;
        // The keyboard type is asked per key: it is what the platform answers now.
        const OSStatus status =
            UCKeyTranslate(layout, keyCode, kUCKeyActionDisplay, noModifierKeys, LMGetKbdType(),
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
    return fallback;
}
