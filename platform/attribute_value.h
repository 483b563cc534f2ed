// One accessibility attribute read, owned at once: the one place that calls
// AXUIElementCopyAttributeValue, for every program that reads attributes.
#pragma once

#include <utility>

#include "platform/accessibility.h"
#include "platform/cf_ref.h"
#include "platform/cf_string.h"

// The value, or null unless the platform answered with success; `status` receives the answer.
inline CFRef<CFTypeRef> copyAttributeValue(AXUIElementRef element, const char* attribute,
                                           AXError* status = nullptr) {
    const CFRef<CFStringRef> name = makeCFString(attribute);
    CFRef<CFTypeRef> value;
    const AXError result =
        AXUIElementCopyAttributeValue(element, name.get(), value.initializeInto());
    if (status != nullptr) {
        *status = result;
    }
    return result == kAXErrorSuccess ? std::move(value) : CFRef<CFTypeRef>();
}
