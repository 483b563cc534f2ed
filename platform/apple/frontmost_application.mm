// NSWorkspace behind a plain C++ function. No retain or release of our own, so it is the same
// with and without ARC; the pool drains whatever the calls autoreleased.
#include "platform/frontmost_application.h"

#import <AppKit/AppKit.h>

std::optional<FrontmostApplication> frontmostApplication() {
    @autoreleasepool {
        NSRunningApplication* application = [[NSWorkspace sharedWorkspace] frontmostApplication];
        if (application == nil) {
            return std::nullopt;
        }
        FrontmostApplication found{application.processIdentifier, std::nullopt};
        NSString* bundleIdentifier = application.bundleIdentifier;
        if (bundleIdentifier != nil) {
            const char* utf8 = bundleIdentifier.UTF8String;
            if (utf8 != nullptr) {
                found.bundleIdentifier = std::string(utf8);
            }
        }
        return found;
    }
}
