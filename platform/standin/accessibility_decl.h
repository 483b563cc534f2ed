// The accessibility subset the programs use, with the platform's names, types and values.
#pragma once

#include <sys/types.h>
#include <cstdint>

#include "platform/standin/core_foundation_decl.h"

using AXUIElementRef = const struct __AXUIElement*;
using AXValueRef = const struct __AXValue*;
using CGFloat = double;

struct CGPoint {
    CGFloat x;
    CGFloat y;
};

enum AXError : int32_t {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorNoValue = -25212,
    kAXErrorAPIDisabled = -25211,
};

enum AXValueType : uint32_t {
    kAXValueTypeIllegal = 0,
    kAXValueTypeCGPoint = 1,
    kAXValueTypeCGSize = 2,
    kAXValueTypeCGRect = 3,
    kAXValueTypeCFRange = 4,
    kAXValueTypeAXError = 5,
};

extern "C" {

Boolean AXIsProcessTrusted(void);
AXUIElementRef AXUIElementCreateSystemWide(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);
AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable);
CFTypeID AXUIElementGetTypeID(void);

CFTypeID AXValueGetTypeID(void);
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

}  // extern "C"
