// NSWorkspace and NSRunningApplication behind plain C++ functions. No retain or release of our
// own, so it is the same with and without ARC; the pool drains whatever the calls autoreleased.
#include "platform/running_application.h"

#import <AppKit/AppKit.h>

namespace {

RunningApplication recordOf(NSRunningApplication* application) {
    RunningApplication found{application.processIdentifier, std::nullopt};
    NSString* bundleIdentifier = application.bundleIdentifier;
    if (bundleIdentifier != nil) {
        const char* utf8 = bundleIdentifier.UTF8String;
        if (utf8 != nullptr) {
            found.bundleIdentifier = std::string(utf8);
        }
    }
    return found;
}

}  // namespace

std::optional<RunningApplication> frontmostApplication() {
    @autoreleasepool {
        NSRunningApplication* application = [[NSWorkspace sharedWorkspace] frontmostApplication];
        if (application == nil) {
            return std::nullopt;
        }
        return recordOf(application);
    }
}

std::optional<RunningApplication> runningApplication(pid_t pid) {
    @autoreleasepool {
        NSRunningApplication* application =
            [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
        if (application == nil) {
            return std::nullopt;
        }
        return recordOf(application);
    }
}
