// One accessibility attribute read, owned at once: the one place that asks applications about
// their elements (AXUIElementCopyAttributeValue, AXUIElementIsAttributeSettable), for every
// program that reads attributes.
#pragma once

#include <utility>

#include "platform/accessibility.h"
#include "platform/cf_ref.h"
#include "platform/cf_string.h"

// One program's questions to the applications, from its first request to its answer. Once an
// application has not answered (kAXErrorCannotComplete: busy or hung, and the request waited
// the platform's whole messaging time-out), nothing more is asked in the run: each request
// would wait as long again. Later requests answer that status at once, so the program answers
// from what it has. Outside a run every request is made.
class AccessibilityRun {
  public:
    AccessibilityRun() {
        active = true;
        unanswered = false;
    }
    ~AccessibilityRun() { active = false; }
    AccessibilityRun(const AccessibilityRun&) = delete;
    AccessibilityRun& operator=(const AccessibilityRun&) = delete;

    // Whether requests are no longer made.
    static bool stopped() { return active && unanswered; }
    static void answered(AXError status) {
        if (status == kAXErrorCannotComplete) {
            unanswered = true;
        }
    }

  private:
    static inline bool active = false;
    static inline bool unanswered = false;
};

// The value, or null unless the platform answered with success; `status` receives the answer.
inline CFRef<CFTypeRef> copyAttributeValue(AXUIElementRef element, const char* attribute,
                                           AXError* status = nullptr) {
    AXError result = kAXErrorCannotComplete;
    CFRef<CFTypeRef> value;
    if (!AccessibilityRun::stopped()) {
        const CFRef<CFStringRef> name = makeCFString(attribute);
        result = AXUIElementCopyAttributeValue(element, name.get(), value.initializeInto());
        AccessibilityRun::answered(result);
    }
    if (status != nullptr) {
        *status = result;
    }
    return result == kAXErrorSuccess ? std::move(value) : CFRef<CFTypeRef>();
}

// Whether the attribute can be set: true only when the platform says so with a success status.
inline bool copyAttributeSettable(AXUIElementRef element, const char* attribute) {
    if (AccessibilityRun::stopped()) {
        return false;
    }
    const CFRef<CFStringRef> name = makeCFString(attribute);
    Boolean settable = false;
    const AXError result = AXUIElementIsAttributeSettable(element, name.get(), &settable);
    AccessibilityRun::answered(result);
    return result == kAXErrorSuccess && settable;
}
