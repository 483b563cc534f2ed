#include "fieldscan/snapshot_assembly.h"

#include <algorithm>
#include <climits>
#include <string_view>

#include "axquery/axquery.h"
#include "fieldscan/attributes.h"
#include "fieldscan/visible_text.h"
#include "platform/attribute_value.h"
#include "platform/cf_cast.h"
#include "platform/cf_string.h"
#include "platform/running_application.h"

namespace {

// NSNotFound, the location AppKit gives a range that is no selection.
constexpr CFIndex notFound = LONG_MAX;

// The element's own value when it has one, even an empty one; then the selection; then what is
// visible around it.
std::u16string fieldTextOf(AXUIElementRef focused, const std::u16string& selected,
                           const std::u16string& visible) {
    if (auto value = copyAttributeString(focused, Attribute::value)) {
        return std::move(*value);
    }
    return selected.empty() ? visible : selected;
}

// Whether the range, clamped to the field text, holds the selected text: Chromium's offsets
// drift from its value at paragraph boundaries, and WebKit's text can be a character longer
// than its value, so a range can cut through a word.
bool describesSelection(const std::u16string& field, SelectionRange range,
                        const std::u16string& selected) {
    if (selected.empty()) {
        return true;  // a caret: nothing to hold it against
    }
    const auto length = static_cast<int64_t>(field.size());
    const int64_t start = std::clamp(range.location, int64_t{0}, length);
    const int64_t count = std::clamp(range.length, int64_t{0}, length - start);
    return std::u16string_view(field).substr(static_cast<size_t>(start),
                                             static_cast<size_t>(count)) == selected;
}

// Where the text is cut: at the reported range when it describes the text, else around the
// selected text found in what is written as the visible text.
std::optional<TextSplit> splitOf(AXUIElementRef focused, const std::u16string& field,
                                 const std::u16string& visible, const std::u16string& selected) {
    if (const auto range = selectedRange(focused);
        range && describesSelection(field, *range, selected)) {
        return splitAroundRange(field, *range);
    }
    return splitAroundSelection(visible.empty() ? field : visible, selected);
}

// The element with the keyboard focus, and its application. The system-wide element knows the
// focus even when it is in Spotlight, a launcher or a menu-bar panel, which NSWorkspace never
// reports in front; only when it names none is the frontmost application asked.
struct Focus {
    CFRef<AXUIElementRef> element;
    CFRef<AXUIElementRef> application;
    std::optional<std::string> bundleIdentifier;
};

std::optional<Focus> focusedField() {
    {
        const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
        CFRef<AXUIElementRef> focused = focusedElement(systemWide.get());
        pid_t pid = 0;
        // An element that cannot say whose it is (gone already): as if none were named.
        if (focused && AXUIElementGetPid(focused.get(), &pid) == kAXErrorSuccess) {
            // A process id that no running application has: not a browser.
            const auto owner = runningApplication(pid);
            return Focus{std::move(focused),
                         CFRef<AXUIElementRef>(AXUIElementCreateApplication(pid)),
                         owner ? owner->bundleIdentifier : std::nullopt};
        }
    }
    const auto application = frontmostApplication();
    if (!application) {
        return std::nullopt;
    }
    CFRef<AXUIElementRef> applicationElement(AXUIElementCreateApplication(application->pid));
    auto focused = focusedElement(applicationElement.get());
    if (!focused) {
        return std::nullopt;
    }
    return Focus{std::move(focused), std::move(applicationElement), application->bundleIdentifier};
}

}  // namespace

bool isBrowserBundle(const std::optional<std::string>& bundleIdentifier) {
    const auto& browsers = ContextSnapshot::browserBundleIdentifiers;
    return bundleIdentifier &&
           std::find(browsers.begin(), browsers.end(), *bundleIdentifier) != browsers.end();
}

std::optional<SelectionRange> selectedRange(AXUIElementRef of) {
    const CFRef<CFTypeRef> value = copyAttributeValue(of, Attribute::selectedTextRange);
    const auto packed = cfCast<AXValueRef>(value.get());
    if (packed == nullptr || AXValueGetType(packed) != kAXValueTypeCFRange) {
        return std::nullopt;
    }
    CFRange range{0, 0};
    // AppKit reports "no selection" as a location of NSNotFound (LONG_MAX).
    if (!AXValueGetValue(packed, kAXValueTypeCFRange, &range) || range.location < 0 ||
        range.length < 0 || range.location == notFound) {
        return std::nullopt;
    }
    return SelectionRange{.location = range.location, .length = range.length};
}

bool supportsTextInsertion(AXUIElementRef element, std::u16string_view elementRole) {
    if (copyAttributeBool(element, Attribute::editable) == true ||
        copyAttributeBool(element, Attribute::domEditable) == true ||
        isAttributeSettable(element, Attribute::value)) {
        return true;
    }
    // Chromium answers a range on every ancestor of a selection in the page: a web area's
    // counts only beside an editable ancestor (the web area itself, in an editable document).
    return selectedRange(element).has_value() &&
           (elementRole != VisibleText::axWebAreaRole ||
            copyAttributeElement(element, Attribute::editableAncestor));
}

ContextSnapshot buildSnapshot() {
    const AccessibilityRun run;
    if (!AXIsProcessTrusted()) {
        return {};
    }
    const auto focus = focusedField();
    if (!focus) {
        return {};
    }
    const AXUIElementRef focused = focus->element.get();
    const bool browser = isBrowserBundle(focus->bundleIdentifier);
    std::u16string visible = resolveVisibleText(focused, focus->application.get(), browser);
    std::u16string selected = copyAttributeString(focused, Attribute::selectedText).value_or(u"");
    std::u16string field = fieldTextOf(focused, selected, visible);

    ContextSnapshot snapshot;
    snapshot.hasTextSelected = !selected.empty();
    if (field.empty()) {
        snapshot.visibleText = std::move(visible);
    } else {
        if (auto split = splitOf(focused, field, visible, selected)) {
            snapshot.beforeText = std::move(split->before);
            snapshot.afterText = std::move(split->after);
            snapshot.cursorPosition = split->cursorPosition;
        }
        snapshot.visibleText = visible.empty() ? field : std::move(visible);
        snapshot.fullFieldContent = std::move(field);
    }
    snapshot.selectedText = std::move(selected);
    snapshot.role = role(focused);
    snapshot.subrole = subrole(focused);
    snapshot.editable = supportsTextInsertion(focused, snapshot.role);
    return snapshot;
}
