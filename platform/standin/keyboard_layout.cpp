// The current keyboard input source and its layout, from the scenario; every translation is
// logged.
#include "platform/keyboard_layout.h"

#include <algorithm>

#include "platform/standin/objects.h"

using standin::as;

namespace {

__CFString layoutDataProperty(u"TISPropertyUnicodeKeyLayoutData", true);

}  // namespace

__TISInputSource::~__TISInputSource() {
    if (layoutData != nullptr) {
        CFRelease(layoutData);
    }
}

extern "C" {

const CFStringRef kTISPropertyUnicodeKeyLayoutData = &layoutDataProperty;

CFTypeID CFDataGetTypeID(void) {
    return standin::dataType;
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
    return reinterpret_cast<const UInt8*>(&as<__CFData>(theData, "CFDataGetBytePtr")->layout);
}

TISInputSourceRef TISCopyCurrentKeyboardInputSource(void) {
    const auto& source = standin::world().scenario.inputSource;
    standin::log({{"op", "TISCopyCurrentKeyboardInputSource"}, {"granted", source.has_value()}});
    if (!source) {
        return nullptr;
    }
    auto* made = new __TISInputSource();
    if (source->layout) {
        made->layoutData = new __CFData(*source->layout);
    }
    return made;
}

void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey) {
    const auto* source = as<__TISInputSource>(inputSource, "TISGetInputSourceProperty");
    if (propertyKey != kTISPropertyUnicodeKeyLayoutData) {
        standin::misuse("TISGetInputSourceProperty (only the Unicode layout data is provided)");
    }
    return source->layoutData;  // borrowed, as the platform's Get rule says
}

UInt8 LMGetKbdType(void) {
    return standin::world().scenario.keyboardType;
}

OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode,
                        UInt16 keyAction, UInt32 modifierKeyState, UInt32 keyboardType,
                        OptionBits keyTranslateOptions, UInt32* deadKeyState,
                        UniCharCount maxStringLength, UniCharCount* actualStringLength,
                        UniChar unicodeString[]) {
    if (keyLayoutPtr == nullptr || deadKeyState == nullptr || actualStringLength == nullptr ||
        unicodeString == nullptr) {
        standin::misuse("UCKeyTranslate");
    }
    const auto& layout = *reinterpret_cast<const standin::KeyboardLayout*>(keyLayoutPtr);
    const UInt32 deadKeyStateGiven = *deadKeyState;
    OSStatus status = noErr;
    std::u16string text;
    UInt32 deadKeyStateLeft = 0;
    if (const auto key = layout.find(virtualKeyCode); key != layout.end()) {
        status = key->second.status;
        text = key->second.text;
        deadKeyStateLeft = key->second.deadKeyState;
    }
    if (text.size() > maxStringLength) {
        status = kUCOutputBufferTooSmall;
        text.clear();
    }
    std::copy(text.begin(), text.end(), unicodeString);
    *actualStringLength = text.size();
    *deadKeyState = deadKeyStateLeft;
    if (standin::logging()) {
        standin::log({{"op", "UCKeyTranslate"},
                      {"keyCode", virtualKeyCode},
                      {"deadKeyState", deadKeyStateGiven},
                      {"action", keyAction},
                      {"modifiers", modifierKeyState},
                      {"keyboardType", keyboardType},
                      {"options", keyTranslateOptions},
                      {"status", status},
                      {"text", standin::utf8(text)}});
    }
    return status;
}

}  // extern "C"
