// The main thread's run loop: the scripted events go to the tap whose source was added, and
// file descriptors with callbacks enabled are served between them and, while the process keeps
// running, until it ends.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/cf_ref.h"
#include "platform/standin/objects.h"

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
            const short events = static_cast<short>(
                ((descriptor->enabled & kCFFileDescriptorReadCallBack) != 0 ? POLLIN : 0) |
                ((descriptor->enabled & kCFFileDescriptorWriteCallBack) != 0 ? POLLOUT : 0));
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
        if ((ready & (POLLOUT | failed)) != 0) {
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

}  // namespace

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
    as<__CFMachPort>(port, "CFMachPortInvalidate")->valid = false;
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
    // The tap's events in order, the descriptors served between them as a run loop would.
    const size_t count = standin::world().scenario.events.size();
    for (size_t index = 0; index < count && !loop.stopped; ++index) {
        serveDescriptors(false);
        if (!loop.stopped && tap->valid) {
            standin::deliverScriptedEvent(tap, index);
        }
    }
    while (standin::world().scenario.keepRunning && !loop.stopped) {
        if (!serveDescriptors(true)) {
            pause();
        }
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
