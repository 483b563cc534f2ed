// The stand-in's platform objects. The platform's opaque struct names are defined here.
#pragma once

#include <string>
#include <vector>

#include "platform/standin/world.h"

struct __CFString : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::stringType;
    explicit __CFString(std::u16string text, bool isConstant = false)
        : Object(typeIdValue, isConstant), units(std::move(text)) {}
    std::u16string units;
};

struct __CFCharacterSet : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::characterSetType;
    explicit __CFCharacterSet(CFCharacterSetPredefinedSet which)
        : Object(typeIdValue, true), predefined(which) {}
    CFCharacterSetPredefinedSet predefined;
};

struct __CFArray : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::arrayType;
    // Takes over one reference to each value.
    explicit __CFArray(std::vector<CFTypeRef> owned)
        : Object(typeIdValue, false), values(std::move(owned)) {}
    ~__CFArray() override;
    std::vector<CFTypeRef> values;
};

struct __CFBoolean : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::booleanType;
    explicit __CFBoolean(bool v) : Object(typeIdValue, true), value(v) {}
    bool value;
};

struct __CFNumber : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::numberType;
    explicit __CFNumber(double v) : Object(typeIdValue, false), value(v) {}
    double value;
};

struct __CFMachPort : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::machPortType;
    __CFMachPort() : Object(typeIdValue, false) {}
    CGEventTapOptions options = kCGEventTapOptionDefault;
    CGEventTapCallBack callback = nullptr;
    void* userInfo = nullptr;
    bool enabled = true;
};

struct __CFRunLoopSource : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::runLoopSourceType;
    explicit __CFRunLoopSource(__CFMachPort* tapPort);
    ~__CFRunLoopSource() override;
    __CFMachPort* port;  // retained
};

struct __CFRunLoop : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::runLoopType;
    __CFRunLoop() : Object(typeIdValue, true) {}
    std::vector<__CFRunLoopSource*> sources;  // retained
};

struct __CGEvent : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::eventType;
    __CGEvent(CGEventType t, int64_t code, CGEventFlags f)
        : Object(typeIdValue, false), type(t), keyCode(code), flags(f) {}
    CGEventType type;
    int64_t keyCode;
    CGEventFlags flags;
};

struct __CGEventSource : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::eventSourceType;
    explicit __CGEventSource(CGEventSourceStateID id) : Object(typeIdValue, false), stateID(id) {}
    CGEventSourceStateID stateID;
};
