#include "axquery/axquery.h"

#include <algorithm>
#include <climits>

#include "platform/attribute_value.h"
#include "platform/cf_cast.h"
#include "platform/cf_string.h"
#include "platform/running_application.h"

namespace {

// NSNotFound, the location AppKit gives a range that is no selection.
constexpr CFIndex notFound = LONG_MAX;

constexpr const char* selectedTextRangeAttribute = "AXSelectedTextRange";
constexpr const char* roleAttribute = "AXRole";
constexpr const char* subroleAttribute = "AXSubrole";
constexpr const char* focusedElementAttribute = "AXFocusedUIElement";

}  // namespace

std::optional<std::u16string> copyAttributeString(AXUIElementRef element, const char* attribute) {
    const CFRef<CFTypeRef> value = copyAttributeValue(element, attribute);
    if (const auto string = cfCast<CFStringRef>(value.get())) {
        return toUtf16(string);
    }
    return std::nullopt;
}

std::optional<bool> copyAttributeBool(AXUIElementRef element, const char* attribute) {
    const CFRef<CFTypeRef> value = copyAttributeValue(element, attribute);
    if (const auto boolean = cfCast<CFBooleanRef>(value.get())) {
        return CFBooleanGetValue(boolean) != 0;
    }
    if (const auto number = cfCast<CFNumberRef>(value.get())) {
        double read = 0;
        if (CFNumberGetValue(number, kCFNumberDoubleType, &read)) {
            if (read == 1) {
                return true;
            }
            if (read == 0) {
                return false;
            }
        }
    }
    return std::nullopt;
}

CFRef<AXUIElementRef> copyAttributeElement(AXUIElementRef element, const char* attribute) {
    CFRef<CFTypeRef> value = copyAttributeValue(element, attribute);
    if (cfCast<AXUIElementRef>(value.get()) == nullptr) {
        return {};
    }
    return CFRef<AXUIElementRef>(static_cast<AXUIElementRef>(value.release()));
}

std::vector<CFRef<CFTypeRef>> copyAttributeElementsKeepingEveryEntry(AXUIElementRef element,
                                                                     const char* attribute,
                                                                     size_t atMost) {
    CFRef<CFTypeRef> value = copyAttributeValue(element, attribute);
    std::vector<CFRef<CFTypeRef>> entries;
    if (cfCast<AXUIElementRef>(value.get()) != nullptr) {
        if (atMost > 0) {
            entries.push_back(std::move(value));
        }
    } else if (const auto list = cfCast<CFArrayRef>(value.get())) {
        const auto count = std::min(static_cast<size_t>(CFArrayGetCount(list)), atMost);
        entries.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            entries.push_back(
                CFRef<CFTypeRef>::retain(CFArrayGetValueAtIndex(list, static_cast<CFIndex>(i))));
        }
    }
    return entries;
}

std::vector<CFRef<AXUIElementRef>> copyAttributeElementsOnly(AXUIElementRef element,
                                                             const char* attribute, size_t atMost) {
    const CFRef<CFTypeRef> value = copyAttributeValue(element, attribute);
    std::vector<CFRef<AXUIElementRef>> elements;
    if (const auto list = cfCast<CFArrayRef>(value.get())) {
        const CFIndex count = CFArrayGetCount(list);
        for (CFIndex i = 0; i < count && elements.size() < atMost; ++i) {
            if (const auto entry = cfCast<AXUIElementRef>(CFArrayGetValueAtIndex(list, i))) {
                elements.push_back(CFRef<AXUIElementRef>::retain(entry));
            }
        }
    }
    return elements;
}

std::optional<CFRange> selectedTextRange(AXUIElementRef element) {
    const CFRef<CFTypeRef> value = copyAttributeValue(element, selectedTextRangeAttribute);
    const auto packed = cfCast<AXValueRef>(value.get());
    if (packed == nullptr || AXValueGetType(packed) != kAXValueTypeCFRange) {
        return std::nullopt;
    }
    CFRange range{0, 0};
    if (!AXValueGetValue(packed, kAXValueTypeCFRange, &range) || range.location < 0 ||
        range.length < 0 || range.location == notFound) {
        return std::nullopt;
    }
    return range;
}

bool isAttributeSettable(AXUIElementRef element, const char* attribute) {
    return copyAttributeSettable(element, attribute);
}

bool hasAttribute(AXUIElementRef element, const char* attribute) {
    AXError status = kAXErrorFailure;
    copyAttributeValue(element, attribute, &status);
    return status == kAXErrorSuccess;
}

std::u16string role(AXUIElementRef element) {
    return copyAttributeString(element, roleAttribute).value_or(u"");
}

std::u16string subrole(AXUIElementRef element) {
    return copyAttributeString(element, subroleAttribute).value_or(u"");
}

CFRef<AXUIElementRef> focusedElement(AXUIElementRef in) {
    return copyAttributeElement(in, focusedElementAttribute);
}

CFRef<AXUIElementRef> focusedElement() {
    {
        const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
        if (auto focused = focusedElement(systemWide.get())) {
            return focused;
        }
    }
    const auto application = frontmostApplication();
    if (!application) {
        return {};
    }
    const CFRef<AXUIElementRef> applicationElement(AXUIElementCreateApplication(application->pid));
    return focusedElement(applicationElement.get());
}
