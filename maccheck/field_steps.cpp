// Steps with the user at a text field: each asks for a click into one kind of field, polls the
// system-wide focus until it is there, and records what the field and its application answer.
// Of the field's text only its length is written, and whether it is all bullets.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>

#include "axquery/axquery.h"
#include "maccheck/check.h"
#include "maccheck/prompts.h"
#include "platform/accessibility.h"
#include "platform/attribute_value.h"
#include "platform/cf_cast.h"
#include "platform/cf_string.h"
#include "platform/clock.h"
#include "platform/running_application.h"

namespace {

constexpr CFTimeInterval pollSeconds = 0.5;
constexpr int pollsAtMost = 60;  // 30 s
constexpr uint64_t stepNanoseconds = 30'000'000'000;
constexpr CFIndex notFound = LONG_MAX;  // NSNotFound
constexpr const char* focusedApplicationAttribute = "AXFocusedApplication";
constexpr const char* editableAncestorAttribute = "AXEditableAncestor";
constexpr const char* selectedTextRangeAttribute = "AXSelectedTextRange";
constexpr const char* valueAttribute = "AXValue";
constexpr std::u16string_view secureTextFieldSubrole = u"AXSecureTextField";
constexpr const char* parentAttribute = "AXParent";
constexpr std::u16string_view textRoles[] = {u"AXTextField", u"AXTextArea", u"AXComboBox"};
constexpr std::u16string_view searchFieldSubrole = u"AXSearchField";
constexpr std::u16string_view webAreaRole = u"AXWebArea";
constexpr int ancestorsAsked = 32;  // a page field sits a few levels under its web area
constexpr char16_t bullets[] = {u'\u2022', u'\u25CF'};

// A process as the workspace knows it.
struct Process {
    pid_t pid = 0;
    std::optional<RunningApplication> running;
};

// What one poll found at the focus.
struct FocusSeen {
    std::u16string role;
    std::u16string subrole;
    std::optional<CFRange> range;  // as answered, NSNotFound included
    const char* editableAncestor = "none";
    std::optional<size_t> valueLength;
    bool allBullets = false;
    std::optional<Process> element;
    std::optional<Process> focusedApplication;
    std::optional<Process> frontmost;
    bool inWebArea = false;  // a page's field, not the browser's own (its address bar)
};

std::optional<Process> processOf(AXUIElementRef element) {
    pid_t pid = 0;
    if (element == nullptr || AXUIElementGetPid(element, &pid) != kAXErrorSuccess) {
        return std::nullopt;
    }
    return Process{pid, runningApplication(pid)};
}

std::optional<CFRange> rangeOf(AXUIElementRef element) {
    const CFRef<CFTypeRef> value = copyAttributeValue(element, selectedTextRangeAttribute);
    const auto packed = cfCast<AXValueRef>(value.get());
    CFRange range{0, 0};
    if (packed == nullptr || !AXValueGetValue(packed, kAXValueTypeCFRange, &range)) {
        return std::nullopt;
    }
    return range;
}

bool isInWebArea(AXUIElementRef element) {
    CFRef<AXUIElementRef> current = copyAttributeElement(element, parentAttribute);
    for (int level = 0; current && level < ancestorsAsked; ++level) {
        if (role(current.get()) == webAreaRole) {
            return true;
        }
        current = copyAttributeElement(current.get(), parentAttribute);
    }
    return false;
}

std::optional<FocusSeen> seeFocus() {
    const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
    const CFRef<AXUIElementRef> focused = focusedElement(systemWide.get());
    if (!focused) {
        return std::nullopt;
    }
    FocusSeen seen;
    seen.role = role(focused.get());
    seen.subrole = subrole(focused.get());
    seen.range = rangeOf(focused.get());
    if (const auto ancestor = copyAttributeElement(focused.get(), editableAncestorAttribute)) {
        seen.editableAncestor = CFEqual(ancestor.get(), focused.get()) ? "self" : "another element";
    }
    if (const auto value = copyAttributeString(focused.get(), valueAttribute)) {
        seen.valueLength = value->size();
        seen.allBullets =
            !value->empty() && std::all_of(value->begin(), value->end(), [](char16_t c) {
                return std::find(std::begin(bullets), std::end(bullets), c) != std::end(bullets);
            });
    }
    seen.element = processOf(focused.get());
    seen.focusedApplication =
        processOf(copyAttributeElement(systemWide.get(), focusedApplicationAttribute).get());
    if (const auto front = frontmostApplication()) {
        seen.frontmost = Process{front->pid, front};
    }
    seen.inWebArea =
        std::string_view(seen.editableAncestor) != "none" || isInWebArea(focused.get());
    return seen;
}

bool isBundle(const std::optional<Process>& process, std::string_view bundleIdentifier) {
    return process && process->running && process->running->bundleIdentifier == bundleIdentifier;
}

bool isPasswordLike(const FocusSeen& seen) {
    return seen.subrole == secureTextFieldSubrole || seen.allBullets;
}

// Whether the focus is where the step asked the user to put it.
bool isAsked(const FieldStep& step, const FocusSeen& seen) {
    if (step.kind == FieldStep::Kind::password) {
        return isPasswordLike(seen);
    }
    const bool inApplication = isBundle(seen.element, step.bundleIdentifier) ||
                               isBundle(seen.focusedApplication, step.bundleIdentifier) ||
                               isBundle(seen.frontmost, step.bundleIdentifier);
    const bool textField =
        std::find(std::begin(textRoles), std::end(textRoles), seen.role) != std::end(textRoles) ||
        std::string_view(seen.editableAncestor) != "none";
    // A page step wants the page's field, not the address bar; the caret step wants the
    // document, not a panel's search field.
    const bool ofTheKind = step.kind == FieldStep::Kind::pageField
                               ? seen.inWebArea
                               : seen.subrole != searchFieldSubrole;
    return inApplication && textField && ofTheKind && !isPasswordLike(seen);
}

std::string textOf(std::u16string_view text) {
    return text.empty() ? std::string("none") : utf16ToUtf8(text);
}

std::string describe(const char* name, const std::optional<Process>& process) {
    if (!process) {
        return std::string(name) + " none";
    }
    std::string running = "no running application";
    if (process->running) {
        running = process->running->bundleIdentifier.value_or("no bundle identifier");
    }
    return std::string(name) + " pid " + std::to_string(process->pid) + " (" + running + ")";
}

std::string describe(const FocusSeen& seen) {
    std::string range = "none";
    if (seen.range) {
        range = "{" +
                (seen.range->location == notFound ? std::string("NSNotFound")
                                                  : std::to_string(seen.range->location)) +
                ", " + std::to_string(seen.range->length) + "}";
    }
    const std::string value = seen.valueLength ? std::to_string(*seen.valueLength) + " characters" +
                                                     (seen.allBullets ? ", all bullets" : "")
                                               : std::string("none");
    return "role " + textOf(seen.role) + ", subrole " + textOf(seen.subrole) + ", range " + range +
           ", AXEditableAncestor " + seen.editableAncestor + ", value " + value + "; " +
           describe("element", seen.element) + ", " +
           describe("AXFocusedApplication", seen.focusedApplication) + ", " +
           describe("frontmost", seen.frontmost);
}

// What the suite assumes of the field once it is there.
bool asAssumed(const FieldStep& step, const FocusSeen& seen) {
    switch (step.kind) {
        case FieldStep::Kind::caret:
            return seen.range && seen.range->length == 0 && seen.range->location >= 0 &&
                   seen.range->location != notFound;
        case FieldStep::Kind::pageField:
            return seen.focusedApplication && seen.frontmost &&
                   seen.focusedApplication->pid == seen.frontmost->pid &&
                   isBundle(seen.focusedApplication, step.bundleIdentifier);
        case FieldStep::Kind::password:
            return seen.subrole == secureTextFieldSubrole;
    }
    return false;
}

void keepWaiting(CFRunLoopTimerRef, void*) {}

Observation runStep(const FieldStep& step) {
    // A run loop with nothing in its mode returns at once: the timer makes each pass wait.
    const CFRef<CFRunLoopTimerRef> timer(
        CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + pollSeconds,
                             pollSeconds, 0, 0, keepWaiting, nullptr));
    if (!timer) {
        return {step.id, "no run-loop timer", Result::skipped};
    }
    std::fputs(step.prompt, stderr);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer.get(), kCFRunLoopDefaultMode);
    // The clock bounds the step too: an application slow to answer makes each poll long.
    const uint64_t start = monotonicNanoseconds();
    std::optional<FocusSeen> last;
    bool found = false;
    for (int poll = 0; poll < pollsAtMost && monotonicNanoseconds() - start < stepNanoseconds;
         ++poll) {
        last = seeFocus();
        found = last && isAsked(step, *last);
        if (found) {
            break;
        }
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, pollSeconds, false);
    }
    CFRunLoopTimerInvalidate(timer.get());
    if (!found) {
        return {
            step.id,
            "nothing within 30 s; last focus: " + (last ? describe(*last) : std::string("none")),
            Result::skipped};
    }
    return {step.id, describe(*last), holdsWhen(asAssumed(step, *last))};
}

}  // namespace

std::vector<Observation> fieldSteps() {
    std::vector<Observation> checks;
    for (const auto& step : askedFields) {
        checks.push_back(runStep(step));
    }
    return checks;
}
