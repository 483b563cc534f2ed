// The text-input-source and keyboard-layout subset the programs use, with the platform's names,
// types and values.
#pragma once

#include <cstdint>

#include "platform/standin/core_foundation_decl.h"

using UInt16 = uint16_t;
using UInt32 = uint32_t;
using OSStatus = int32_t;
using OptionBits = UInt32;
using UniCharCount = unsigned long;
using TISInputSourceRef = struct __TISInputSource*;

// Opaque: only the platform walks its tables.
struct UCKeyboardLayout;

enum : UInt16 {
    kUCKeyActionDown = 0,
    kUCKeyActionUp = 1,
    kUCKeyActionAutoKey = 2,
    kUCKeyActionDisplay = 3,
};

enum : OptionBits {
    kUCKeyTranslateNoDeadKeysBit = 0,
    kUCKeyTranslateNoDeadKeysMask = 1,
};

// The modifier byte of UCKeyTranslate is EventRecord's modifiers shifted right by 8.
enum : UInt32 {
    cmdKey = 1 << 8,
    shiftKey = 1 << 9,
    alphaLock = 1 << 10,
    optionKey = 1 << 11,
    controlKey = 1 << 12,
};

enum : OSStatus {
    noErr = 0,
    paramErr = -50,
    kUCOutputBufferTooSmall = -25340,
};

extern "C" {

extern const CFStringRef kTISPropertyUnicodeKeyLayoutData;

TISInputSourceRef TISCopyCurrentKeyboardInputSource(void);
TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void);
TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource(void);
void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey);
UInt8 LMGetKbdType(void);
OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode,
                        UInt16 keyAction, UInt32 modifierKeyState, UInt32 keyboardType,
                        OptionBits keyTranslateOptions, UInt32* deadKeyState,
                        UniCharCount maxStringLength, UniCharCount* actualStringLength,
                        UniChar unicodeString[]);

}  // extern "C"
