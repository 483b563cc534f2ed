// The one checked cast of a platform value of unknown type: the typed reference when the
// value's type identifier is T's, null otherwise (also for null).
#pragma once

#include "platform/accessibility.h"
#include "platform/core_foundation.h"

template <typename T>
struct CFTypeOf;
template <>
struct CFTypeOf<CFStringRef> {
    static CFTypeID id() { return CFStringGetTypeID(); }
};
template <>
struct CFTypeOf<CFArrayRef> {
    static CFTypeID id() { return CFArrayGetTypeID(); }
};
template <>
struct CFTypeOf<CFBooleanRef> {
    static CFTypeID id() { return CFBooleanGetTypeID(); }
};
template <>
struct CFTypeOf<CFNumberRef> {
    static CFTypeID id() { return CFNumberGetTypeID(); }
};
template <>
struct CFTypeOf<CFDataRef> {
    static CFTypeID id() { return CFDataGetTypeID(); }
};
template <>
struct CFTypeOf<AXUIElementRef> {
    static CFTypeID id() { return AXUIElementGetTypeID(); }
};
template <>
struct CFTypeOf<AXValueRef> {
    static CFTypeID id() { return AXValueGetTypeID(); }
};

template <typename T>
T cfCast(CFTypeRef value) {
    return value != nullptr && CFGetTypeID(value) == CFTypeOf<T>::id() ? static_cast<T>(value)
                                                                       : nullptr;
}
