// Accessibility over the scenario's elements: every request is answered from the element's
// attribute table and logged, in the order made.
#include <string>

#include "platform/standin/objects.h"

using standin::AttributeValue;

namespace {

// The element behind a reference, or null when the object is not an element.
const __AXUIElement* elementOf(const void* ref) {
    const auto* object = static_cast<const standin::Object*>(ref);
    if (object == nullptr || object->typeId != __AXUIElement::typeIdValue) {
        return nullptr;
    }
    return static_cast<const __AXUIElement*>(object);
}

nlohmann::json idOf(const __AXUIElement* element) {
    return element == nullptr ? nlohmann::json(nullptr) : nlohmann::json(element->id);
}

// A new platform object for a scenario value, owned by the caller; null for `null`.
CFTypeRef makeValue(const AttributeValue& value) {
    using Kind = AttributeValue::Kind;
    switch (value.kind) {
        case Kind::text:
            return new __CFString(value.text);
        case Kind::boolean:
            return value.boolean ? kCFBooleanTrue : kCFBooleanFalse;
        case Kind::number:
            return new __CFNumber(value.number);
        case Kind::element:
            return new __AXUIElement(value.element);
        case Kind::array: {
            std::vector<CFTypeRef> items;
            items.reserve(value.items.size());
            for (const auto& item : value.items) {
                // A null entry cannot stand in a platform list.
                if (CFTypeRef made = makeValue(item)) {
                    items.push_back(made);
                }
            }
            return new __CFArray(std::move(items));
        }
        case Kind::range: {
            auto* made = new __AXValue(kAXValueTypeCFRange);
            made->range = CFRange{value.range[0], value.range[1]};
            return made;
        }
        case Kind::point: {
            auto* made = new __AXValue(kAXValueTypeCGPoint);
            made->point = CGPoint{value.point[0], value.point[1]};
            return made;
        }
        case Kind::attributedString:
            return new __CFAttributedString();
        case Kind::null:
        case Kind::error:
            break;
    }
    return nullptr;
}

std::string nameOf(CFStringRef attribute, const char* operation) {
    return standin::utf8(standin::as<__CFString>(attribute, operation)->units);
}

const standin::ElementScenario* scenarioOf(const __AXUIElement* element) {
    return standin::findElement(standin::world().scenario, element->id);
}

// An element whose window closed or whose page reloaded: the platform answers -25202.
bool isGone(const __AXUIElement* element) {
    const auto* scenario = scenarioOf(element);
    return scenario != nullptr && scenario->gone;
}

}  // namespace

extern "C" {

Boolean AXIsProcessTrusted(void) {
    const bool trusted = standin::world().scenario.trusted;
    standin::log({{"op", "AXIsProcessTrusted"}, {"result", trusted}});
    return trusted;
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
    standin::world();
    standin::log({{"op", "AXUIElementCreateSystemWide"}});
    return new __AXUIElement("systemWide");
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    standin::world();
    standin::log({{"op", "AXUIElementCreateApplication"}, {"pid", pid}});
    return new __AXUIElement(standin::applicationElementId(pid));
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
    const std::string name = nameOf(attribute, "AXUIElementCopyAttributeValue");
    standin::countAccessibilityRequest();
    const __AXUIElement* asked = elementOf(element);
    AXError status = kAXErrorIllegalArgument;
    *value = nullptr;
    if (asked != nullptr && isGone(asked)) {
        status = kAXErrorInvalidUIElement;
    } else if (asked != nullptr) {
        const auto* scenario = scenarioOf(asked);
        const auto found = scenario == nullptr
                               ? std::map<std::string, AttributeValue>::const_iterator{}
                               : scenario->attributes.find(name);
        if (scenario == nullptr || found == scenario->attributes.end()) {
            status = kAXErrorAttributeUnsupported;
        } else if (found->second.kind == AttributeValue::Kind::error) {
            status = static_cast<AXError>(found->second.error);
        } else {
            status = kAXErrorSuccess;
            *value = makeValue(found->second);
        }
    }
    if (standin::logging()) {
        standin::log({{"op", "AXUIElementCopyAttributeValue"},
                      {"element", idOf(asked)},
                      {"attribute", name},
                      {"status", status}});
    }
    return status;
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
    const std::string name = nameOf(attribute, "AXUIElementIsAttributeSettable");
    standin::countAccessibilityRequest();
    const __AXUIElement* asked = elementOf(element);
    AXError status = kAXErrorIllegalArgument;
    *settable = false;
    if (asked != nullptr && isGone(asked)) {
        status = kAXErrorInvalidUIElement;
    } else if (asked != nullptr) {
        const auto* scenario = scenarioOf(asked);
        status = kAXErrorAttributeUnsupported;
        if (scenario != nullptr) {
            if (const auto listed = scenario->settable.find(name);
                listed != scenario->settable.end()) {
                status = listed->second.error ? static_cast<AXError>(*listed->second.error)
                                              : kAXErrorSuccess;
                *settable = status == kAXErrorSuccess && listed->second.flag;
            } else if (scenario->attributes.count(name) > 0) {
                status = kAXErrorSuccess;
            }
        }
    }
    if (standin::logging()) {
        standin::log({{"op", "AXUIElementIsAttributeSettable"},
                      {"element", idOf(asked)},
                      {"attribute", name},
                      {"status", status}});
    }
    return status;
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
    const __AXUIElement* asked = elementOf(element);
    const auto& scenario = standin::world().scenario;
    AXError status = kAXErrorSuccess;
    *pid = 0;
    if (asked == nullptr || asked->id == "systemWide") {
        status = kAXErrorIllegalArgument;
    } else if (isGone(asked)) {
        status = kAXErrorInvalidUIElement;
    } else if (const auto application = standin::applicationPidOf(asked->id)) {
        *pid = *application;
    } else if (const auto* described = scenarioOf(asked); described && described->pid) {
        *pid = *described->pid;
    } else if (scenario.frontmostApplication) {
        *pid = scenario.frontmostApplication->pid;
    } else {
        status = kAXErrorInvalidUIElement;
    }
    standin::log(
        {{"op", "AXUIElementGetPid"}, {"element", idOf(asked)}, {"status", status}, {"pid", *pid}});
    return status;
}

CFTypeID AXUIElementGetTypeID(void) {
    return standin::elementType;
}

CFTypeID AXValueGetTypeID(void) {
    return standin::axValueType;
}

AXValueType AXValueGetType(AXValueRef value) {
    return standin::as<__AXValue>(value, "AXValueGetType")->type;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
    const auto* read = standin::as<__AXValue>(value, "AXValueGetValue");
    if (read->type != theType || valuePtr == nullptr) {
        return false;
    }
    if (theType == kAXValueTypeCFRange) {
        *static_cast<CFRange*>(valuePtr) = read->range;
    } else {
        *static_cast<CGPoint*>(valuePtr) = read->point;
    }
    return true;
}

}  // extern "C"
