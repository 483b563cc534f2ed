// The input sources of the scenario and their layouts, handed out as a Mac does: 'uchr' bytes
// that UCKeyTranslate walks. Every translation is logged.
#include "platform/keyboard_layout.h"

#include <algorithm>
#include <set>

#include "platform/standin/objects.h"
#include "platform/standin/uchr.h"

using standin::as;

namespace {

__CFString layoutDataProperty(u"TISPropertyUnicodeKeyLayoutData", true);

// Live layout data by its first byte: UCKeyTranslate is handed that pointer alone.
std::set<const __CFData*>& liveLayoutData() {
    static std::set<const __CFData*> live;
    return live;
}

const __CFData* layoutDataAt(const UCKeyboardLayout* start) {
    for (const __CFData* data : liveLayoutData()) {
        if (reinterpret_cast<const UCKeyboardLayout*>(data->bytes.data()) == start) {
            return data;
        }
    }
    return nullptr;
}

TISInputSourceRef copySource(const char* operation,
                             const std::optional<standin::InputSourceScenario>& source) {
    standin::log({{"op", operation}, {"granted", source.has_value()}});
    if (!source) {
        return nullptr;
    }
    auto* made = new __TISInputSource();
    if (source->layoutData) {
        made->layoutData = new __CFData(*source);
    }
    return made;
}

}  // namespace

__CFData::__CFData(const standin::InputSourceScenario& source)
    : Object(typeIdValue, false), bytes(*source.layoutData), failingKeys(source.failingKeys) {
    liveLayoutData().insert(this);
}

__CFData::~__CFData() {
    liveLayoutData().erase(this);
}

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
    return as<__CFData>(theData, "CFDataGetBytePtr")->bytes.data();
}

TISInputSourceRef TISCopyCurrentKeyboardInputSource(void) {
    return copySource("TISCopyCurrentKeyboardInputSource", standin::world().scenario.inputSource);
}

TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void) {
    return copySource("TISCopyCurrentKeyboardLayoutInputSource",
                      standin::world().scenario.keyboardLayoutInputSource);
}

TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource(void) {
    return copySource("TISCopyCurrentASCIICapableKeyboardLayoutInputSource",
                      standin::world().scenario.asciiCapableInputSource);
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
    const __CFData* data = layoutDataAt(keyLayoutPtr);
    if (data == nullptr || deadKeyState == nullptr || actualStringLength == nullptr ||
        unicodeString == nullptr) {
        standin::misuse("UCKeyTranslate");
    }
    const UInt32 deadKeyStateGiven = *deadKeyState;
    OSStatus status = noErr;
    if (const auto failing = data->failingKeys.find(virtualKeyCode);
        failing != data->failingKeys.end()) {
        // A failure the test asked for, with whatever it leaves in the buffer.
        const std::u16string& left = failing->second.text;
        const size_t kept = std::min<size_t>(left.size(), maxStringLength);
        std::copy_n(left.begin(), kept, unicodeString);
        *actualStringLength = kept;
        status = failing->second.status;
    } else {
        status = standin::translateUchr(
            data->bytes.data(), virtualKeyCode, keyAction, modifierKeyState, keyboardType,
            keyTranslateOptions, deadKeyState, maxStringLength, actualStringLength, unicodeString);
    }
    if (standin::logging()) {
        standin::log(
            {{"op", "UCKeyTranslate"},
             {"keyCode", virtualKeyCode},
             {"deadKeyState", deadKeyStateGiven},
             {"action", keyAction},
             {"modifiers", modifierKeyState},
             {"keyboardType", keyboardType},
             {"options", keyTranslateOptions},
             {"status", status},
             {"text", standin::utf8(std::u16string(reinterpret_cast<const char16_t*>(unicodeString),
                                                   *actualStringLength))}});
    }
    return status;
}

}  // extern "C"
