// The stand-in's platform objects. The platform's opaque struct names are defined here.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/accessibility.h"
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
    CGEventMask mask = 0;  // what the platform kept of the events asked for
    CGEventTapCallBack callback = nullptr;
    void* userInfo = nullptr;
    bool enabled = true;
    bool valid = true;  // an invalidated port delivers nothing more
    CFMachPortInvalidationCallBack invalidated = nullptr;
};

struct __CFFileDescriptor : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::fileDescriptorType;
    __CFFileDescriptor(int descriptor, bool closes, CFFileDescriptorCallBack call,
                       const CFFileDescriptorContext* given);
    ~__CFFileDescriptor() override;
    int fd;
    bool closeOnInvalidate;
    CFFileDescriptorCallBack callout;
    CFFileDescriptorContext context{};
    CFOptionFlags enabled = 0;  // callbacks fire once, then wait to be enabled again
    bool valid = true;
};

// A source of a tap's port or of a file descriptor.
struct __CFRunLoopSource : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::runLoopSourceType;
    explicit __CFRunLoopSource(__CFMachPort* tapPort);
    explicit __CFRunLoopSource(__CFFileDescriptor* watched);
    ~__CFRunLoopSource() override;
    __CFMachPort* port = nullptr;              // retained
    __CFFileDescriptor* descriptor = nullptr;  // retained
};

// A timer on Mach's absolute clock, as the platform's are: it stands still while the machine
// sleeps, and a step of the wall clock moves no timer.
struct __CFRunLoopTimer : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::runLoopTimerType;
    __CFRunLoopTimer(uint64_t due, uint64_t every, CFRunLoopTimerCallBack call,
                     const CFRunLoopTimerContext* given);
    ~__CFRunLoopTimer() override;
    uint64_t dueAt;     // absolute nanoseconds
    uint64_t interval;  // nanoseconds; 0 fires once
    double tolerance = 0;
    CFRunLoopTimerCallBack callout;
    CFRunLoopTimerContext context{};
    bool valid = true;
};

struct __CFRunLoop : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::runLoopType;
    __CFRunLoop() : Object(typeIdValue, true) {}
    std::vector<__CFRunLoopSource*> sources;  // retained
    std::vector<__CFRunLoopTimer*> timers;    // retained
    bool stopped = false;
};

namespace standin {

// The main thread's run loop, which lives as long as the process.
__CFRunLoop& mainRunLoop();

// Delivers the scenario's event at `index` to the tap's callback (or lets it happen to the tap),
// once its time has come; the HID system sees every event, delivered or not.
// `waited`: the part of the event's advance that has passed already.
void deliverScriptedEvent(__CFMachPort* tap, size_t index, double waited = 0);

// Hands the events the process posted to its own listen-only taps in the run loop; true when a
// callback was called.
bool deliverPostedEvents();

// Moves the clocks as a run loop lives through the time: timers due meanwhile fire in order.
// With `asleep`, the absolute clock stands still and no timer comes due.
void passTime(double seconds, bool asleep = false);

// Invalidates the port as the platform does: its sources leave the run loop and its
// invalidation callback is called.
void invalidatePort(__CFMachPort* port);

}  // namespace standin

struct __CGEvent : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::eventType;
    __CGEvent(CGEventType t, int64_t code, CGEventFlags f, int64_t pid, int64_t data)
        : Object(typeIdValue, false),
          type(t),
          keyCode(code),
          flags(f),
          sourcePid(pid),
          userData(data) {}
    CGEventType type;
    int64_t keyCode;
    CGEventFlags flags;
    int64_t sourcePid;  // kCGEventSourceUnixProcessID
    int64_t userData;   // kCGEventSourceUserData
};

struct __CGEventSource : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::eventSourceType;
    explicit __CGEventSource(CGEventSourceStateID id) : Object(typeIdValue, false), stateID(id) {}
    CGEventSourceStateID stateID;
    int64_t userData = 0;  // given to every event made from it
};

struct __CFAttributedString : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::attributedStringType;
    __CFAttributedString() : Object(typeIdValue, false) {}
};

struct __AXUIElement : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::elementType;
    explicit __AXUIElement(std::string elementId)
        : Object(typeIdValue, false), id(std::move(elementId)) {}
    std::string id;
};

struct __AXValue : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::axValueType;
    explicit __AXValue(AXValueType t) : Object(typeIdValue, false), type(t) {}
    AXValueType type;
    CFRange range{0, 0};
    CGPoint point{0, 0};
};

// The layout data of an input source: the 'uchr' bytes, and the keys a test makes fail.
struct __CFData : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::dataType;
    explicit __CFData(const standin::InputSourceScenario& source);
    ~__CFData() override;
    std::vector<uint8_t> bytes;
    std::map<uint16_t, standin::FailingKey> failingKeys;
};

struct __TISInputSource : standin::Object {
    static constexpr CFTypeID typeIdValue = standin::inputSourceType;
    __TISInputSource() : Object(typeIdValue, false) {}
    ~__TISInputSource() override;
    __CFData* layoutData = nullptr;  // owned; null for a source without Unicode layout data
};
