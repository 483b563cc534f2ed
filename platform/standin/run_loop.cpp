// The main thread's run loop: the scripted events go to the tap whose source was added, timers
// fire as the events' time passes, and file descriptors with callbacks enabled are served
// between the events and, while the process keeps running, until it ends.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>
#include <vector>

#include "platform/cf_ref.h"
#include "platform/standin/objects.h"
#include "platform/standin/standin.h"

using standin::as;

namespace {

// Calls the callbacks of the descriptors that are ready, each once; with `wait`, first waits
// until one is. False when no descriptor has a callback enabled.
bool serveDescriptors(bool wait) {
    std::vector<CFRef<CFFileDescriptorRef>> watched;
    std::vector<pollfd> polled;
    for (__CFRunLoopSource* source : standin::mainRunLoop().sources) {
        __CFFileDescriptor* descriptor = source->descriptor;
        if (descriptor != nullptr && descriptor->valid && descriptor->enabled != 0) {
            watched.push_back(CFRef<CFFileDescriptorRef>::retain(descriptor));
            const bool writes = (descriptor->enabled & kCFFileDescriptorWriteCallBack) != 0 &&
                                standin::world().scenario.writeCallBacks;
            const short events = static_cast<short>(
                ((descriptor->enabled & kCFFileDescriptorReadCallBack) != 0 ? POLLIN : 0) |
                (writes ? POLLOUT : 0));
            polled.push_back({descriptor->fd, events, 0});
        }
    }
    if (watched.empty()) {
        return false;
    }
    if (::poll(polled.data(), polled.size(), wait ? -1 : 0) <= 0) {
        return true;
    }
    constexpr short failed = POLLERR | POLLHUP | POLLNVAL;
    for (size_t i = 0; i < watched.size(); ++i) {
        __CFFileDescriptor* descriptor = watched[i].get();
        const short ready = polled[i].revents;
        CFOptionFlags fired = 0;
        if ((ready & (POLLIN | failed)) != 0) {
            fired |= descriptor->enabled & kCFFileDescriptorReadCallBack;
        }
        if ((ready & (POLLOUT | failed)) != 0 && standin::world().scenario.writeCallBacks) {
            fired |= descriptor->enabled & kCFFileDescriptorWriteCallBack;
        }
        if (fired == 0 || !descriptor->valid) {
            continue;
        }
        // As on the platform, a callback fires once and must be enabled again.
        descriptor->enabled &= ~fired;
        descriptor->callout(descriptor, fired, descriptor->context.info);
    }
    return true;
}

__CFMachPort* tapOfTheRunLoop() {
    for (__CFRunLoopSource* source : standin::mainRunLoop().sources) {
        if (source->port != nullptr) {
            return source->port;
        }
    }
    return nullptr;
}

// The valid timer that comes due first, by `until` (absolute nanoseconds); null for none.
__CFRunLoopTimer* nextTimer(uint64_t until) {
    __CFRunLoopTimer* next = nullptr;
    for (__CFRunLoopTimer* timer : standin::mainRunLoop().timers) {
        if (timer->valid && timer->dueAt <= until &&
            (next == nullptr || timer->dueAt < next->dueAt)) {
            next = timer;
        }
    }
    return next;
}

// Whether the run loop has anything left to run: a valid source or timer.
bool hasWork() {
    const auto& loop = standin::mainRunLoop();
    const bool timer = std::any_of(loop.timers.begin(), loop.timers.end(),
                                   [](const __CFRunLoopTimer* t) { return t->valid; });
    const bool source =
        std::any_of(loop.sources.begin(), loop.sources.end(), [](const __CFRunLoopSource* s) {
            return s->port != nullptr ? s->port->valid : s->descriptor->valid;
        });
    return timer || source;
}

uint64_t nanosecondsOf(double seconds) {
    return static_cast<uint64_t>(std::llround(seconds * 1e9));
}

// CFRunLoopRunInMode's time-out: the scripted events that come due within it go to the run
// loop's tap, each at its time, and the rest of the time passes. True when one was delivered.
bool runScriptedFor(double seconds) {
    auto& now = standin::world();
    const auto& events = now.scenario.events;
    double left = seconds;
    bool delivered = false;
    while (now.nextScripted < events.size() && !standin::mainRunLoop().stopped) {
        __CFMachPort* tap = tapOfTheRunLoop();
        const double due = events[now.nextScripted].advance - now.waitedForNext;
        if (tap == nullptr || !tap->valid || due > left) {
            break;
        }
        left -= due;
        const double waited = std::exchange(now.waitedForNext, 0.0);
        const auto held = CFRef<CFMachPortRef>::retain(tap);
        standin::deliverScriptedEvent(tap, now.nextScripted++, waited);
        delivered = true;
    }
    const uint64_t before = now.absolute;
    standin::passTime(left);  // less when a timer stopped the run loop
    now.waitedForNext += static_cast<double>(now.absolute - before) / 1e9;
    return delivered;
}

}  // namespace

void standin::passTime(double seconds, bool asleep) {
    auto& now = world();
    const uint64_t length = nanosecondsOf(seconds);
    if (asleep) {
        now.clock += seconds;
        now.monotonic += length;
        standin::changeFocusAsDue();
        return;
    }
    const uint64_t until = now.absolute + length;
    while (!mainRunLoop().stopped) {
        const auto held = CFRef<CFRunLoopTimerRef>::retain(nextTimer(until));
        __CFRunLoopTimer* timer = held.get();  // kept alive through its own callback
        if (timer == nullptr) {
            break;
        }
        advanceClock(static_cast<double>(timer->dueAt - now.absolute) / 1e9);
        if (timer->interval > 0) {
            timer->dueAt += timer->interval;
        } else {
            timer->valid = false;
        }
        standin::log({{"op", "timer"},
                      {"interval", static_cast<double>(timer->interval) / 1e9},
                      {"tolerance", timer->tolerance}});
        timer->callout(timer, timer->context.info);
    }
    // A stop returns at once, as the real run loop does, with the rest of the wait not passed.
    if (until > now.absolute && !mainRunLoop().stopped) {
        advanceClock(static_cast<double>(until - now.absolute) / 1e9);
    }
}

void standin::invalidatePort(__CFMachPort* port) {
    if (!port->valid) {
        return;
    }
    port->valid = false;
    // As CoreFoundation does: the callback first, then the port's sources go.
    if (port->invalidated != nullptr) {
        port->invalidated(port, nullptr);
    }
    auto& sources = mainRunLoop().sources;
    for (size_t i = sources.size(); i-- > 0;) {
        if (sources[i]->port == port) {
            __CFRunLoopSource* removed = sources[i];
            sources.erase(sources.begin() + static_cast<std::ptrdiff_t>(i));
            CFRelease(removed);
        }
    }
}

__CFRunLoop& standin::mainRunLoop() {
    // Never destroyed: the sources added to it live as long as the process.
    static auto* loop = new __CFRunLoop();
    return *loop;
}

__CFRunLoopSource::__CFRunLoopSource(__CFMachPort* tapPort)
    : Object(typeIdValue, false), port(tapPort) {
    CFRetain(port);
}

__CFRunLoopSource::__CFRunLoopSource(__CFFileDescriptor* watched)
    : Object(typeIdValue, false), descriptor(watched) {
    CFRetain(descriptor);
}

__CFRunLoopSource::~__CFRunLoopSource() {
    if (port != nullptr) {
        CFRelease(port);
    }
    if (descriptor != nullptr) {
        CFRelease(descriptor);
    }
}

__CFFileDescriptor::__CFFileDescriptor(int descriptor, bool closes, CFFileDescriptorCallBack call,
                                       const CFFileDescriptorContext* given)
    : Object(typeIdValue, false), fd(descriptor), closeOnInvalidate(closes), callout(call) {
    if (given != nullptr) {
        context = *given;
        if (context.retain != nullptr) {
            context.info = context.retain(context.info);
        }
    }
}

__CFRunLoopTimer::__CFRunLoopTimer(uint64_t due, uint64_t every, CFRunLoopTimerCallBack call,
                                   const CFRunLoopTimerContext* given)
    : Object(typeIdValue, false), dueAt(due), interval(every), callout(call) {
    if (given != nullptr) {
        context = *given;
        if (context.retain != nullptr) {
            context.info = const_cast<void*>(context.retain(context.info));
        }
    }
}

__CFRunLoopTimer::~__CFRunLoopTimer() {
    if (context.release != nullptr) {
        context.release(context.info);
    }
}

__CFFileDescriptor::~__CFFileDescriptor() {
    if (context.release != nullptr) {
        context.release(context.info);
    }
}

extern "C" {

CFRunLoopRef CFRunLoopGetCurrent(void) {
    return &standin::mainRunLoop();
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
    auto* loop = as<__CFRunLoop>(rl, "CFRunLoopAddSource");
    auto* added = as<__CFRunLoopSource>(source, "CFRunLoopAddSource");
    if (std::find(loop->sources.begin(), loop->sources.end(), added) == loop->sources.end()) {
        CFRetain(added);
        loop->sources.push_back(added);
    }
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
    auto* loop = as<__CFRunLoop>(rl, "CFRunLoopRemoveSource");
    auto* removed = as<__CFRunLoopSource>(source, "CFRunLoopRemoveSource");
    if (const auto found = std::find(loop->sources.begin(), loop->sources.end(), removed);
        found != loop->sources.end()) {
        loop->sources.erase(found);
        CFRelease(removed);
    }
}

void CFMachPortInvalidate(CFMachPortRef port) {
    standin::invalidatePort(as<__CFMachPort>(port, "CFMachPortInvalidate"));
}

Boolean CFMachPortIsValid(CFMachPortRef port) {
    return as<__CFMachPort>(port, "CFMachPortIsValid")->valid;
}

void CFMachPortSetInvalidationCallBack(CFMachPortRef port, CFMachPortInvalidationCallBack callout) {
    auto* set = as<__CFMachPort>(port, "CFMachPortSetInvalidationCallBack");
    // CoreFoundation calls it at once for a port already invalid, when it had none before.
    const bool first = set->invalidated == nullptr;
    set->invalidated = callout;
    if (!set->valid && callout != nullptr && first) {
        callout(set, nullptr);
    }
}

void CFRunLoopStop(CFRunLoopRef rl) {
    as<__CFRunLoop>(rl, "CFRunLoopStop")->stopped = true;
}

void CFRunLoopRun(void) {
    auto& loop = standin::mainRunLoop();
    loop.stopped = false;
    // With no source the run loop has nothing to run and returns at once.
    const auto tapRef = CFRef<CFMachPortRef>::retain(tapOfTheRunLoop());
    __CFMachPort* tap = tapRef.get();
    if (tap == nullptr || !tap->valid) {
        return;
    }
    // The tap's events in order, the descriptors served between them as a run loop would. With
    // nothing left to run (the tap invalidated, no timer), the run loop returns.
    const size_t count = standin::world().scenario.events.size();
    for (size_t index = 0; index < count && !loop.stopped && hasWork(); ++index) {
        serveDescriptors(false);
        if (!loop.stopped) {
            standin::deliverScriptedEvent(tap, index);
        }
    }
    while (standin::world().scenario.keepRunning && !loop.stopped) {
        if (!serveDescriptors(true)) {
            pause();
        }
    }
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
    auto& loop = standin::mainRunLoop();
    loop.stopped = false;
    CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
    if (!hasWork()) {
        result = kCFRunLoopRunFinished;
    } else {
        // What is ready goes first; then the time-out passes on the virtual clock, timers due
        // meanwhile firing, and what became ready in it is handed over before returning.
        bool handled = standin::deliverPostedEvents();
        serveDescriptors(false);
        if (!(handled && returnAfterSourceHandled != 0)) {
            handled = runScriptedFor(std::max(0.0, seconds)) || handled;
            handled = standin::deliverPostedEvents() || handled;
            serveDescriptors(false);
        }
        result = loop.stopped                               ? kCFRunLoopRunStopped
                 : handled && returnAfterSourceHandled != 0 ? kCFRunLoopRunHandledSource
                                                            : kCFRunLoopRunTimedOut;
    }
    standin::log({{"op", "CFRunLoopRunInMode"}, {"seconds", seconds}, {"result", result}});
    return result;
}

CFRunLoopTimerRef CFRunLoopTimerCreate(CFAllocatorRef, CFAbsoluteTime fireDate,
                                       CFTimeInterval interval, CFOptionFlags, CFIndex,
                                       CFRunLoopTimerCallBack callout,
                                       CFRunLoopTimerContext* context) {
    // The fire date is read once, against the wall clock now; from then on the timer keeps to
    // the absolute clock.
    auto& now = standin::world();
    const double wait = std::max(0.0, fireDate - now.clock);
    return new __CFRunLoopTimer(now.absolute + nanosecondsOf(wait),
                                interval > 0 ? nanosecondsOf(interval) : 0, callout, context);
}

void CFRunLoopAddTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode) {
    auto* loop = as<__CFRunLoop>(rl, "CFRunLoopAddTimer");
    auto* added = as<__CFRunLoopTimer>(timer, "CFRunLoopAddTimer");
    if (added->valid &&
        std::find(loop->timers.begin(), loop->timers.end(), added) == loop->timers.end()) {
        CFRetain(added);
        loop->timers.push_back(added);
    }
}

void CFRunLoopTimerSetTolerance(CFRunLoopTimerRef timer, CFTimeInterval tolerance) {
    as<__CFRunLoopTimer>(timer, "CFRunLoopTimerSetTolerance")->tolerance = tolerance;
}

void CFRunLoopTimerInvalidate(CFRunLoopTimerRef timer) {
    auto* invalidated = as<__CFRunLoopTimer>(timer, "CFRunLoopTimerInvalidate");
    invalidated->valid = false;
    auto& timers = standin::mainRunLoop().timers;
    if (const auto found = std::find(timers.begin(), timers.end(), invalidated);
        found != timers.end()) {
        timers.erase(found);
        CFRelease(invalidated);
    }
}

CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate,
                                           CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context) {
    if (fd < 0 || callout == nullptr) {
        return nullptr;
    }
    return new __CFFileDescriptor(fd, closeOnInvalidate != 0, callout, context);
}

void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
    auto* descriptor = as<__CFFileDescriptor>(f, "CFFileDescriptorEnableCallBacks");
    if (descriptor->valid) {
        descriptor->enabled |=
            callBackTypes & (kCFFileDescriptorReadCallBack | kCFFileDescriptorWriteCallBack);
    }
}

void CFFileDescriptorInvalidate(CFFileDescriptorRef f) {
    auto* descriptor = as<__CFFileDescriptor>(f, "CFFileDescriptorInvalidate");
    if (descriptor->valid && descriptor->closeOnInvalidate) {
        ::close(descriptor->fd);
    }
    descriptor->valid = false;
    descriptor->enabled = 0;
}

CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef, CFFileDescriptorRef f,
                                                       CFIndex) {
    return new __CFRunLoopSource(as<__CFFileDescriptor>(f, "CFFileDescriptorCreateRunLoopSource"));
}

}  // extern "C"
