// The CoreGraphics event subset the programs use, with the platform's names, types and values.
#pragma once

#include <cstdint>

#include "platform/standin/core_foundation_decl.h"

using CGEventRef = struct __CGEvent*;
using CGEventSourceRef = struct __CGEventSource*;
using CGEventTapProxy = struct __CGEventTapProxy*;
using CGKeyCode = uint16_t;
using CGEventMask = uint64_t;

using CGEventFlags = uint64_t;

// The modifier flags; the device-dependent side bits (IOKit's NX_DEVICE... masks) ride in the
// low bits of the same mask.
enum : CGEventFlags {
    kCGEventFlagMaskAlphaShift = 0x00010000,
    kCGEventFlagMaskShift = 0x00020000,
    kCGEventFlagMaskControl = 0x00040000,
    kCGEventFlagMaskAlternate = 0x00080000,
    kCGEventFlagMaskCommand = 0x00100000,
    kCGEventFlagMaskSecondaryFn = 0x00800000,
};

// IOKit's IOLLEvent.h: which key of a modifier pair is down.
inline constexpr CGEventFlags NX_DEVICELCTLKEYMASK = 0x00000001;
inline constexpr CGEventFlags NX_DEVICELSHIFTKEYMASK = 0x00000002;
inline constexpr CGEventFlags NX_DEVICERSHIFTKEYMASK = 0x00000004;
inline constexpr CGEventFlags NX_DEVICELCMDKEYMASK = 0x00000008;
inline constexpr CGEventFlags NX_DEVICERCMDKEYMASK = 0x00000010;
inline constexpr CGEventFlags NX_DEVICELALTKEYMASK = 0x00000020;
inline constexpr CGEventFlags NX_DEVICERALTKEYMASK = 0x00000040;
inline constexpr CGEventFlags NX_DEVICERCTLKEYMASK = 0x00002000;

enum CGEventType : uint32_t {
    kCGEventNull = 0,
    kCGEventKeyDown = 10,
    kCGEventKeyUp = 11,
    kCGEventFlagsChanged = 12,
    kCGEventTapDisabledByTimeout = 0xFFFFFFFE,
    kCGEventTapDisabledByUserInput = 0xFFFFFFFF,
};

enum CGEventField : uint32_t {
    kCGKeyboardEventKeycode = 9,
    kCGEventSourceUnixProcessID = 41,
    kCGEventSourceUserData = 42,
};

enum CGEventTapLocation : uint32_t {
    kCGHIDEventTap = 0,
    kCGSessionEventTap = 1,
    kCGAnnotatedSessionEventTap = 2,
};

enum CGEventTapPlacement : uint32_t {
    kCGHeadInsertEventTap = 0,
    kCGTailAppendEventTap = 1,
};

enum CGEventTapOptions : uint32_t {
    kCGEventTapOptionDefault = 0,
    kCGEventTapOptionListenOnly = 1,
};

enum CGEventSourceStateID : int32_t {
    kCGEventSourceStatePrivate = -1,
    kCGEventSourceStateCombinedSessionState = 0,
    kCGEventSourceStateHIDSystemState = 1,
};

using CGEventTapCallBack = CGEventRef (*)(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                          void* userInfo);

extern "C" {

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo);
void CGEventTapEnable(CFMachPortRef tap, bool enable);
bool CGEventTapIsEnabled(CFMachPortRef tap);
bool CGPreflightListenEventAccess(void);
bool CGPreflightPostEventAccess(void);

int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
CGEventFlags CGEventGetFlags(CGEventRef event);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID);
void CGEventSourceSetUserData(CGEventSourceRef source, int64_t userData);
// Whether the key is down in the state's view (the HID system's: all keyboards together).
bool CGEventSourceKeyState(CGEventSourceStateID stateID, CGKeyCode key);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

}  // extern "C"
