#include "fieldscan/snapshot_assembly.h"

#include <algorithm>

#include "axquery/axquery.h"
#include "fieldscan/attributes.h"
#include "fieldscan/visible_text.h"
#include "platform/attribute_value.h"
#include "platform/cf_cast.h"
#include "platform/cf_string.h"
#include "platform/frontmost_application.h"

namespace {

// The element's own value when it has one, even an empty one; then the selection; then what is
// visible around it.
std::u16string fieldTextOf(AXUIElementRef focused, const std::u16string& selected,
                           const std::u16string& visible) {
    if (auto value = copyAttributeString(focused, Attribute::value)) {
        return std::move(*value);
    }
    return selected.empty() ? visible : selected;
}

// Where the text is cut: at the reported range, else around the selected text found in what is
// written as the visible text.
std::optional<TextSplit> splitOf(AXUIElementRef focused, const std::u16string& field,
                                 const std::u16string& visible, const std::u16string& selected) {
    if (const auto range = selectedRange(focused)) {
        return splitAroundRange(field, *range);
    }
    return splitAroundSelection(visible.empty() ? field : visible, selected);
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
    if (!AXValueGetValue(packed, kAXValueTypeCFRange, &range) || range.location < 0 ||
        range.length < 0) {
        return std::nullopt;
    }
    return SelectionRange{.location = range.location, .length = range.length};
}

bool supportsTextInsertion(AXUIElementRef element) {
    return copyAttributeBool(element, Attribute::editable) == true ||
           copyAttributeBool(element, Attribute::domEditable) == true ||
           isAttributeSettable(element, Attribute::value) || selectedRange(element).has_value();
}

ContextSnapshot buildSnapshot() {
    if (!AXIsProcessTrusted()) {
        return {};
    }
    const auto application = frontmostApplication();
    if (!application) {
        return {};
    }
    const CFRef<AXUIElementRef> applicationElement(AXUIElementCreateApplication(application->pid));
    const CFRef<AXUIElementRef> focused = focusedElement(applicationElement.get());
    if (!focused) {
        return {};
    }
    const bool browser = isBrowserBundle(application->bundleIdentifier);
    std::u16string visible = resolveVisibleText(focused.get(), applicationElement.get(), browser);
    std::u16string selected =
        copyAttributeString(focused.get(), Attribute::selectedText).value_or(u"");
    std::u16string field = fieldTextOf(focused.get(), selected, visible);

    ContextSnapshot snapshot;
    snapshot.hasTextSelected = !selected.empty();
    if (field.empty()) {
        snapshot.visibleText = std::move(visible);
    } else {
        if (auto split = splitOf(focused.get(), field, visible, selected)) {
            snapshot.beforeText = std::move(split->before);
            snapshot.afterText = std::move(split->after);
            snapshot.cursorPosition = split->cursorPosition;
        }
        snapshot.visibleText = visible.empty() ? field : std::move(visible);
        snapshot.fullFieldContent = std::move(field);
    }
    snapshot.selectedText = std::move(selected);
    snapshot.role = role(focused.get());
    snapshot.subrole = subrole(focused.get());
    snapshot.editable = supportsTextInsertion(focused.get());
    return snapshot;
}
