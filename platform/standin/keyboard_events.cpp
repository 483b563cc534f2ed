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

void deliver(__CFMachPort* tap, size_t index, const standin::ScriptedEvent& scripted) {
    if (scripted.afterOutputClosed) {
        waitUntilOutputIsClosed();
    }
    standin::world().clock += scripted.advance;
    nlohmann::ordered_json record{{"op", "deliver"}, {"index", index}, {"type", scripted.type}};
    if (isTapDisabledNotification(scripted.type)) {
        tap->enabled = false;
    } else if (!tap->enabled) {
        record["returned"] = "null";
        record["effect"] = "dropped";
        standin::log(record);
        return;
    }
    CFRef<CGEventRef> event(standin::createEvent(static_cast<CGEventType>(scripted.type),
                                                 scripted.keyCode, scripted.flags));
    const CGEventRef returned =
        tap->callback(nullptr, static_cast<CGEventType>(scripted.type), event.get(),
                      scripted.withoutUserInfo ? nullptr : tap->userInfo);
    const bool swallowed = returned == nullptr && tap->options == kCGEventTapOptionDefault;
    record["returned"] = returned == nullptr ? "null" : "event";
    record["effect"] = swallowed ? "swallowed" : "passed";
    standin::log(record);
}

}  // namespace

CGEventRef standin::createEvent(CGEventType type, int64_t keyCode, CGEventFlags flags) {
    return new __CGEvent(type, keyCode, flags);
}

extern "C" {

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo) {
    const auto& granted = standin::world().scenario.grantedTaps;
    const bool isGranted =
        std::find(granted.begin(), granted.end(), tapName(tap, options)) != granted.end();
    standin::log({{"op", "CGEventTapCreate"},
                  {"location", tap},
                  {"options", options},
                  {"mask", eventsOfInterest},
                  {"granted", isGranted}});
    if (!isGranted) {
        return nullptr;
    }
    auto* port = new __CFMachPort();
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

void CFRunLoopRun(void) {
    const auto& sources = CFRunLoopGetCurrent()->sources;
    // With no source the run loop has nothing to run and returns at once.
    if (sources.empty()) {
        return;
    }
    __CFMachPort* tap = sources.front()->port;
    if (!tap->valid) {
        return;
    }
    const auto events = standin::world().scenario.events;
    for (size_t index = 0; index < events.size(); ++index) {
        deliver(tap, index, events[index]);
    }
    while (standin::world().scenario.keepRunning) {
        pause();
    }
}

int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
    const auto* read = as<__CGEvent>(event, "CGEventGetIntegerValueField");
    return field == kCGKeyboardEventKeycode ? read->keyCode : 0;
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
                                world.scenario.heldFlags);
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    const auto* posted = as<__CGEvent>(event, "CGEventPost");
    standin::log({{"op", "CGEventPost"},
                  {"tap", tap},
                  {"keyCode", posted->keyCode},
                  {"keyDown", posted->type == kCGEventKeyDown},
                  {"flags", posted->flags},
                  {"monotonic", monotonicSeconds()}});
}

}  // extern "C"
