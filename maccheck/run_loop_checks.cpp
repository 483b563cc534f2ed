// What arrives through the run loop: a pipe's write callback, and a marked Shift press posted
// and read back by a listen-only tap of this process.
#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "maccheck/check.h"
#include "maccheck/prompts.h"
#include "maccheck/texts.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_events.h"

namespace {

constexpr CGKeyCode leftShift = 56;
constexpr CGEventFlags shiftDownFlags = kCGEventFlagMaskShift | NX_DEVICELSHIFTKEYMASK;
constexpr CGEventMask keyboardMask = (CGEventMask{1} << kCGEventKeyDown) |
                                     (CGEventMask{1} << kCGEventKeyUp) |
                                     (CGEventMask{1} << kCGEventFlagsChanged);
constexpr size_t postedCount = 2;
// Bounded: a run-loop pass at a time, for a second at most.
constexpr CFTimeInterval passSeconds = 0.1;
constexpr int passesAtMost = 10;

struct Heard {
    CGEventType type;
    int64_t keyCode;
    CGEventFlags flags;
    int64_t sourcePid;
    int64_t userData;
};

// Only the key it posted is recorded; anything else the user typed is only counted.
struct Listening {
    std::vector<Heard> heard;
    long others = 0;
};

CGEventRef listen(CGEventTapProxy, CGEventType type, CGEventRef event, void* info) {
    auto* listening = static_cast<Listening*>(info);
    if (listening == nullptr || event == nullptr) {
        return event;
    }
    if (CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode) != leftShift) {
        ++listening->others;
        return event;
    }
    listening->heard.push_back({type, leftShift, CGEventGetFlags(event),
                                CGEventGetIntegerValueField(event, kCGEventSourceUnixProcessID),
                                CGEventGetIntegerValueField(event, kCGEventSourceUserData)});
    return event;
}

bool post(CGEventSourceRef source, bool keyDown) {
    const CFRef<CGEventRef> event(CGEventCreateKeyboardEvent(source, leftShift, keyDown));
    if (!event) {
        return false;
    }
    CGEventSetFlags(event.get(), keyDown ? shiftDownFlags : 0);
    CGEventPost(kCGHIDEventTap, event.get());
    return true;
}

std::string describe(const Heard& heard) {
    char line[160];
    const bool ownPid = heard.sourcePid == ::getpid();
    std::snprintf(line, sizeof line,
                  "type %u key %" PRId64 " flags 0x%" PRIx64 " pid %s userData %s",
                  static_cast<unsigned>(heard.type), heard.keyCode, heard.flags,
                  ownPid ? "own" : std::to_string(heard.sourcePid).c_str(),
                  heard.userData == suiteEventUserData ? "suite's" : "other");
    return line;
}

Observation postedEventCheck() {
    constexpr std::string_view id = "posted-event";
    if (!CGPreflightPostEventAccess()) {
        return {id, noPostAccessText, Result::skipped};
    }
    Listening listening;
    const CFRef<CFMachPortRef> tap = listenOnlyTap(keyboardMask, listen, &listening);
    if (!tap) {
        return {id, noListenOnlyTapText, Result::skipped};
    }
    const CFRef<CFRunLoopSourceRef> loopSource(
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap.get(), 0));
    const CFRef<CGEventSourceRef> source(CGEventSourceCreate(kCGEventSourceStateHIDSystemState));
    std::string observed;
    Result result = Result::skipped;
    if (!loopSource || !source) {
        observed = noSourcesText;
    } else {
        CFRunLoopAddSource(CFRunLoopGetCurrent(), loopSource.get(), kCFRunLoopDefaultMode);
        CGEventSourceSetUserData(source.get(), suiteEventUserData);
        std::fputs(postedShiftNotice, stderr);
        const bool posted = post(source.get(), true) && post(source.get(), false);
        for (int pass = 0; pass < passesAtMost && listening.heard.size() < postedCount; ++pass) {
            CFRunLoopRunInMode(kCFRunLoopDefaultMode, passSeconds, true);
        }
        CFRunLoopRemoveSource(CFRunLoopGetCurrent(), loopSource.get(), kCFRunLoopDefaultMode);
        observed = std::to_string(listening.heard.size()) + " of 2 back";
        bool marked = listening.heard.size() == postedCount;
        for (const auto& heard : listening.heard) {
            observed += "; " + describe(heard);
            marked =
                marked && heard.sourcePid == ::getpid() && heard.userData == suiteEventUserData;
        }
        if (listening.others > 0) {
            observed += "; other keys: " + std::to_string(listening.others);
        }
        result = posted ? holdsWhen(marked) : Result::skipped;
        if (!posted) {
            observed = noKeyboardEventText;
        }
    }
    CGEventTapEnable(tap.get(), false);
    CFMachPortInvalidate(tap.get());
    return {id, observed, result};
}

void countWritable(CFFileDescriptorRef, CFOptionFlags types, void* info) {
    if ((types & kCFFileDescriptorWriteCallBack) != 0) {
        ++*static_cast<long*>(info);
    }
}

const char* yesNo(bool value) {
    return value ? "yes" : "no";
}

// As keywatch's output waits for a host that reads slowly: no callback while the pipe is full,
// one once it has room.
Observation descriptorWriteCheck() {
    constexpr std::string_view id = "descriptor-write";
    int ends[2];
    if (::pipe(ends) != 0) {
        return {id, noPipeText, Result::skipped};
    }
    for (const int end : ends) {
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    char block[4096] = {};
    long filled = 0;
    for (ssize_t n = 0; (n = ::write(ends[1], block, sizeof block)) > 0;) {
        filled += n;
    }
    long calls = 0;
    CFFileDescriptorContext context{0, &calls, nullptr, nullptr, nullptr};
    const CFRef<CFFileDescriptorRef> watched(
        CFFileDescriptorCreate(kCFAllocatorDefault, ends[1], false, countWritable, &context));
    const CFRef<CFRunLoopSourceRef> source(
        watched ? CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, watched.get(), 0)
                : nullptr);
    std::string observed = noDescriptorSourceText;
    Result result = Result::skipped;
    if (source) {
        CFRunLoopAddSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopDefaultMode);
        CFFileDescriptorEnableCallBacks(watched.get(), kCFFileDescriptorWriteCallBack);
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, passSeconds, true);
        const long whileFull = calls;
        while (::read(ends[0], block, sizeof block) > 0) {
        }
        for (int pass = 0; pass < passesAtMost && calls == whileFull; ++pass) {
            CFRunLoopRunInMode(kCFRunLoopDefaultMode, passSeconds, true);
        }
        CFRunLoopRemoveSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopDefaultMode);
        observed = "pipe filled with " + std::to_string(filled) +
                   " bytes; callback while full: " + yesNo(whileFull > 0) +
                   "; after draining: " + yesNo(calls > whileFull);
        result = holdsWhen(whileFull == 0 && calls > whileFull);
    }
    if (watched) {
        CFFileDescriptorInvalidate(watched.get());
    }
    ::close(ends[0]);
    ::close(ends[1]);
    return {id, observed, result};
}

}  // namespace

std::vector<Observation> runLoopChecks() {
    return {descriptorWriteCheck(), postedEventCheck()};
}
