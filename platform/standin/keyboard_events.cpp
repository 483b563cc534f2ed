#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

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
                                int64_t sourcePid, int64_t userData) {
    return new __CGEvent(type, keyCode, flags, sourcePid, userData);
}

namespace {

struct ModifierKey {
    int64_t keyCode;
    CGEventFlags flag;
    CGEventFlags sideBit;   // none for Fn
    CGEventFlags pairBits;  // the side bits of both keys of its pair
};

constexpr CGEventFlags commandSides = NX_DEVICELCMDKEYMASK | NX_DEVICERCMDKEYMASK;
constexpr CGEventFlags shiftSides = NX_DEVICELSHIFTKEYMASK | NX_DEVICERSHIFTKEYMASK;
constexpr CGEventFlags optionSides = NX_DEVICELALTKEYMASK | NX_DEVICERALTKEYMASK;
constexpr CGEventFlags controlSides = NX_DEVICELCTLKEYMASK | NX_DEVICERCTLKEYMASK;

constexpr ModifierKey modifierKeys[] = {
    {54, kCGEventFlagMaskCommand, NX_DEVICERCMDKEYMASK, commandSides},
    {55, kCGEventFlagMaskCommand, NX_DEVICELCMDKEYMASK, commandSides},
    {56, kCGEventFlagMaskShift, NX_DEVICELSHIFTKEYMASK, shiftSides},
    {60, kCGEventFlagMaskShift, NX_DEVICERSHIFTKEYMASK, shiftSides},
    {58, kCGEventFlagMaskAlternate, NX_DEVICELALTKEYMASK, optionSides},
    {61, kCGEventFlagMaskAlternate, NX_DEVICERALTKEYMASK, optionSides},
    {59, kCGEventFlagMaskControl, NX_DEVICELCTLKEYMASK, controlSides},
    {62, kCGEventFlagMaskControl, NX_DEVICERCTLKEYMASK, controlSides},
    {63, kCGEventFlagMaskSecondaryFn, 0, 0},
    {179, kCGEventFlagMaskSecondaryFn, 0, 0},
};

// What the HID system knows of a key after one of its events: a key-down or key-up says it, a
// modifier's flags-changed says it by the key's side bit (or its modifier's bit without one).
void noteInHidState(const standin::ScriptedEvent& event) {
    auto& down = standin::world().keysDown;
    std::optional<bool> isDown;
    if (event.type == kCGEventKeyDown || event.type == kCGEventKeyUp) {
        isDown = event.type == kCGEventKeyDown;
    } else if (event.type == kCGEventFlagsChanged) {
        for (const auto& key : modifierKeys) {
            if (key.keyCode == event.keyCode) {
                isDown = (event.flags & key.pairBits) != 0 ? (event.flags & key.sideBit) != 0
                                                           : (event.flags & key.flag) != 0;
            }
        }
    }
    if (!isDown) {
        return;
    }
    const auto found = std::find(down.begin(), down.end(), event.keyCode);
    if (*isDown && found == down.end()) {
        down.push_back(event.keyCode);
    } else if (!*isDown && found != down.end()) {
        down.erase(found);
    }
}

}  // namespace

void standin::deliverScriptedEvent(__CFMachPort* tap, size_t index, double waited) {
    using Kind = ScriptedEvent::Kind;
    const ScriptedEvent& scripted = world().scenario.events[index];
    if (scripted.afterOutputClosed) {
        waitUntilOutputIsClosed();
    }
    passTime(scripted.asleep, true);
    passTime(std::max(0.0, scripted.advance - waited));
    if (mainRunLoop().stopped) {
        return;  // a timer ended the run before this event's time
    }
    stepWallClock(scripted.wallStep);
    nlohmann::ordered_json record{{"op", "deliver"}, {"index", index}};
    if (scripted.kind != Kind::event) {
        record["type"] =
            scripted.kind == Kind::tapInvalidated ? "tapInvalidated" : "tapDisabledSilently";
        record["effect"] = "none";
        log(record);
        if (scripted.kind == Kind::tapInvalidated) {
            invalidatePort(tap);
        } else {
            tap->enabled = false;
        }
        return;
    }
    record["type"] = scripted.type;
    noteInHidState(scripted);
    const bool notification = isTapDisabledNotification(scripted.type);
    if (scripted.unseen || !tap->valid || (!notification && !tap->enabled) ||
        (!notification && (tap->mask & maskBit(scripted.type)) == 0)) {
        // An event no tap sees, an invalid or disabled tap, or one that may not see this kind
        // of event: the callback is not called.
        record["returned"] = "null";
        record["effect"] = scripted.unseen ? "unseen" : "dropped";
        log(record);
        return;
    }
    if (notification) {
        tap->enabled = false;
    }
    CFRef<CGEventRef> event(createEvent(static_cast<CGEventType>(scripted.type), scripted.keyCode,
                                        scripted.flags, scripted.sourcePid,
                                        scripted.sourceUserData));
    const CGEventRef returned =
        tap->callback(nullptr, static_cast<CGEventType>(scripted.type), event.get(),
                      scripted.withoutUserInfo ? nullptr : tap->userInfo);
    const bool swallowed = returned == nullptr && tap->options == kCGEventTapOptionDefault;
    record["returned"] = returned == nullptr ? "null" : "event";
    record["effect"] = swallowed ? "swallowed" : "passed";
    log(record);
}

bool standin::deliverPostedEvents() {
    auto& posted = world().posted;
    bool called = false;
    while (!posted.empty()) {
        const World::Posted next = posted.front();
        posted.erase(posted.begin());
        std::vector<CFRef<CFMachPortRef>> taps;
        for (__CFRunLoopSource* source : mainRunLoop().sources) {
            __CFMachPort* tap = source->port;
            if (tap != nullptr && tap->valid && tap->enabled &&
                tap->options == kCGEventTapOptionListenOnly &&
                (tap->mask & maskBit(next.type)) != 0) {
                taps.push_back(CFRef<CFMachPortRef>::retain(tap));
            }
        }
        for (const auto& tap : taps) {
            CFRef<CGEventRef> event(createEvent(static_cast<CGEventType>(next.type), next.keyCode,
                                                next.flags, next.sourcePid, next.userData));
            tap.get()->callback(nullptr, static_cast<CGEventType>(next.type), event.get(),
                                tap.get()->userInfo);
            called = true;
        }
        log({{"op", "deliverPosted"},
             {"type", next.type},
             {"keyCode", next.keyCode},
             {"taps", taps.size()}});
    }
    return called;
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

bool CGEventTapIsEnabled(CFMachPortRef tap) {
    return as<__CFMachPort>(tap, "CGEventTapIsEnabled")->enabled;
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
        case kCGEventSourceUserData:
            return read->userData;
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

void CGEventSourceSetUserData(CGEventSourceRef source, int64_t userData) {
    as<__CGEventSource>(source, "CGEventSourceSetUserData")->userData = userData;
    standin::log({{"op", "CGEventSourceSetUserData"}, {"userData", userData}});
}

bool CGEventSourceKeyState(CGEventSourceStateID, CGKeyCode key) {
    const auto& world = standin::world();
    return world.scenario.keyState &&
           std::find(world.keysDown.begin(), world.keysDown.end(), key) != world.keysDown.end();
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    auto& world = standin::world();
    const long call = ++world.keyboardEventsCreated;
    const auto& failing = world.scenario.failKeyboardEvents;
    const bool isGranted = std::find(failing.begin(), failing.end(), call) == failing.end();
    nlohmann::ordered_json sourceState;  // null for no source
    int64_t userData = 0;
    if (source != nullptr) {
        const auto* from = as<__CGEventSource>(source, "CGEventCreateKeyboardEvent");
        sourceState = from->stateID;
        userData = from->userData;
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
                                world.scenario.heldFlags, ::getpid(), userData);
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    const auto* posted = as<__CGEvent>(event, "CGEventPost");
    nlohmann::ordered_json record{{"op", "CGEventPost"},
                                  {"tap", tap},
                                  {"keyCode", posted->keyCode},
                                  {"keyDown", posted->type == kCGEventKeyDown},
                                  {"flags", posted->flags},
                                  {"userData", posted->userData},
                                  {"monotonic", monotonicSeconds()}};
    // Without the right to post events the system drops them, and says nothing.
    auto& world = standin::world();
    if (!world.scenario.postAccess) {
        record["dropped"] = true;
    } else if (world.scenario.postedToOwnTaps) {
        world.posted.push_back({posted->type, posted->keyCode, posted->flags,
                                world.scenario.postedSourcePid.value_or(posted->sourcePid),
                                world.scenario.postedUserData.value_or(posted->userData)});
    }
    standin::log(record);
}

}  // extern "C"
