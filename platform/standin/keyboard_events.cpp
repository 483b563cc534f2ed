#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "platform/cf_ref.h"
#include "platform/standin/objects.h"
#include "platform/standin/standin.h"

using standin::as;

namespace {

// The name a tap attempt goes by in the scenario and the log.
std::string tapName(CGEventTapLocation location, CGEventTapOptions options) {
    const std::string where = location == kCGHIDEventTap       ? "hid"
                              : location == kCGSessionEventTap ? "session"
                                                               : "annotated-session";
    return where + (options == kCGEventTapOptionListenOnly ? "-listen-only" : "-default");
}

bool isTapDisabledNotification(uint32_t type) {
    return type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput;
}

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Returns once the reader of standard output has gone: a pipe without a reader polls as an
// error, whatever events are asked for.
void waitUntilOutputIsClosed() {
    pollfd output{STDOUT_FILENO, 0, 0};
    while (::poll(&output, 1, -1) <= 0 || (output.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) {
    }
}

// Bit of an event type in a tap's mask (CGEventMaskBit).
constexpr CGEventMask maskBit(uint32_t type) {
    return type < 64 ? CGEventMask{1} << type : 0;
}

constexpr CGEventMask keyEvents = maskBit(kCGEventKeyDown) | maskBit(kCGEventKeyUp);

}  // namespace

CGEventRef standin::createEvent(CGEventType type, int64_t keyCode, CGEventFlags flags,
                                int64_t sourcePid) {
    return new __CGEvent(type, keyCode, flags, sourcePid);
}

void standin::deliverScriptedEvent(__CFMachPort* tap, size_t index) {
    const ScriptedEvent& scripted = world().scenario.events[index];
    if (scripted.afterOutputClosed) {
        waitUntilOutputIsClosed();
    }
    advanceClock(scripted.advance);
    stepWallClock(scripted.wallStep);
    nlohmann::ordered_json record{{"op", "deliver"}, {"index", index}, {"type", scripted.type}};
    if (isTapDisabledNotification(scripted.type)) {
        tap->enabled = false;
    } else if (!tap->enabled || (tap->mask & maskBit(scripted.type)) == 0) {
        // A disabled tap, or one that may not see this kind of event, is not called.
        record["returned"] = "null";
        record["effect"] = "dropped";
        log(record);
        return;
    }
    CFRef<CGEventRef> event(createEvent(static_cast<CGEventType>(scripted.type), scripted.keyCode,
                                        scripted.flags, scripted.sourcePid));
    const CGEventRef returned =
        tap->callback(nullptr, static_cast<CGEventType>(scripted.type), event.get(),
                      scripted.withoutUserInfo ? nullptr : tap->userInfo);
    const bool swallowed = returned == nullptr && tap->options == kCGEventTapOptionDefault;
    record["returned"] = returned == nullptr ? "null" : "event";
    record["effect"] = swallowed ? "swallowed" : "passed";
    log(record);
}

extern "C" {

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo) {
    const auto& scenario = standin::world().scenario;
    // Key-downs and key-ups reach a filter tap only with the Accessibility permission, a
    // listening one with that or Input Monitoring; without, their bits are cleared from the mask
    // and an empty mask gives no tap (CGEvent.h).
    const bool mayReadKeys = options == kCGEventTapOptionDefault
                                 ? scenario.trusted
                                 : scenario.trusted || scenario.listenAccess;
    const CGEventMask kept = mayReadKeys ? eventsOfInterest : eventsOfInterest & ~keyEvents;
    const auto& granted = scenario.grantedTaps;
    const bool isGranted =
        std::find(granted.begin(), granted.end(), tapName(tap, options)) != granted.end() &&
        kept != 0;
    standin::log({{"op", "CGEventTapCreate"},
                  {"location", tap},
                  {"options", options},
                  {"mask", eventsOfInterest},
                  {"keptMask", kept},
                  {"granted", isGranted}});
    if (!isGranted) {
        return nullptr;
    }
    auto* port = new __CFMachPort();
    port->mask = kept;
    port->options = options;
    port->callback = callback;
    port->userInfo = userInfo;
    return port;
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, CFMachPortRef port, CFIndex) {
    auto* tap = as<__CFMachPort>(port, "CFMachPortCreateRunLoopSource");
    const bool isGranted = standin::world().scenario.runLoopSource;
    standin::log({{"op", "CFMachPortCreateRunLoopSource"}, {"granted", isGranted}});
    return isGranted ? new __CFRunLoopSource(tap) : nullptr;
}

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
    as<__CFMachPort>(tap, "CGEventTapEnable")->enabled = enable;
    standin::log({{"op", "CGEventTapEnable"}, {"enable", enable}});
}

bool CGPreflightListenEventAccess(void) {
    const bool access = standin::world().scenario.listenAccess;
    standin::log({{"op", "CGPreflightListenEventAccess"}, {"result", access}});
    return access;
}

bool CGPreflightPostEventAccess(void) {
    const bool access = standin::world().scenario.postAccess;
    standin::log({{"op", "CGPreflightPostEventAccess"}, {"result", access}});
    return access;
}

int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
    const auto* read = as<__CGEvent>(event, "CGEventGetIntegerValueField");
    switch (field) {
        case kCGKeyboardEventKeycode:
            return read->keyCode;
        case kCGEventSourceUnixProcessID:
            return read->sourcePid;
    }
    return 0;
}

CGEventFlags CGEventGetFlags(CGEventRef event) {
    return as<__CGEvent>(event, "CGEventGetFlags")->flags;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
    as<__CGEvent>(event, "CGEventSetFlags")->flags = flags;
}

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID) {
    const bool isGranted = standin::world().scenario.eventSource;
    standin::log({{"op", "CGEventSourceCreate"}, {"stateID", stateID}, {"granted", isGranted}});
    return isGranted ? new __CGEventSource(stateID) : nullptr;
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    auto& world = standin::world();
    const long call = ++world.keyboardEventsCreated;
    const auto& failing = world.scenario.failKeyboardEvents;
    const bool isGranted = std::find(failing.begin(), failing.end(), call) == failing.end();
    nlohmann::ordered_json sourceState;  // null for no source
    if (source != nullptr) {
        sourceState = as<__CGEventSource>(source, "CGEventCreateKeyboardEvent")->stateID;
    }
    standin::log({{"op", "CGEventCreateKeyboardEvent"},
                  {"source", sourceState},
                  {"keyCode", virtualKey},
                  {"keyDown", keyDown},
                  {"granted", isGranted}});
    if (!isGranted) {
        return nullptr;
    }
    return standin::createEvent(keyDown ? kCGEventKeyDown : kCGEventKeyUp, virtualKey,
                                world.scenario.heldFlags, ::getpid());
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    const auto* posted = as<__CGEvent>(event, "CGEventPost");
    nlohmann::ordered_json record{
        {"op", "CGEventPost"},        {"tap", tap},
        {"keyCode", posted->keyCode}, {"keyDown", posted->type == kCGEventKeyDown},
        {"flags", posted->flags},     {"monotonic", monotonicSeconds()}};
    // Without the right to post events the system drops them, and says nothing.
    if (!standin::world().scenario.postAccess) {
        record["dropped"] = true;
    }
    standin::log(record);
}

}  // extern "C"
