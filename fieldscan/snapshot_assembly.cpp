#include "fieldscan/snapshot_assembly.h"

#include <algorithm>
#include <string_view>

#include "axquery/axquery.h"
#include "fieldscan/attributes.h"
#include "fieldscan/visible_text.h"
#include "platform/attribute_value.h"
#include "platform/cf_cast.h"
#include "platform/cf_string.h"
#include "platform/running_application.h"

namespace {

// AXRoleConstants.h: a password field, whose text is never written out.
constexpr std::u16string_view secureTextFieldSubrole = u"AXSecureTextField";
constexpr const char* focusedApplicationAttribute = "AXFocusedApplication";

// The focused element's own value, and whether the application answered the question: a value
// never answered is unknown, not absent.
struct OwnValue {
    std::optional<std::u16string> text;
    bool answered = false;
};

OwnValue ownValueOf(AXUIElementRef focused) {
    AXError status = kAXErrorCannotComplete;
    const CFRef<CFTypeRef> value = copyAttributeValue(focused, Attribute::value, &status);
    OwnValue own;
    own.answered = status != kAXErrorCannotComplete;
    if (const auto string = cfCast<CFStringRef>(value.get())) {
        own.text = toUtf16(string);
    }
    return own;
}

// The element's own value when it has one, even an empty one; then the selection; then what is
// visible around it, but only when the element said it has no value.
std::u16string fieldTextOf(OwnValue&& own, const std::u16string& selected,
                           const std::u16string& visible) {
    if (own.text) {
        return std::move(*own.text);
    }
    if (!selected.empty()) {
        return selected;
    }
    return own.answered ? visible : std::u16string();
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
std::optional<TextSplit> splitOf(const std::optional<SelectionRange>& range,
                                 const std::u16string& field, const std::u16string& visible,
                                 const std::u16string& selected) {
    if (range && describesSelection(field, *range, selected)) {
        return splitAroundRange(field, *range);
    }
    return splitAroundSelection(visible.empty() ? field : visible, selected);
}

// The element with the keyboard focus, and its application. The system-wide element knows the
// focus even when it is in Spotlight, a launcher or a menu-bar panel, which NSWorkspace never
// reports in front; only when it names none is the frontmost application asked.
struct Focus {
    CFRef<AXUIElementRef> element;
    // The system-wide element when it named the focus; then the application is asked of it
    // once the field has been read, since only the page search needs it.
    CFRef<AXUIElementRef> systemWide;
    pid_t owner = 0;
    CFRef<AXUIElementRef> application;
    std::optional<std::string> bundleIdentifier;

    // The application whose page and window are searched, and its bundle identifier. The
    // focused application names it: a page's element may answer the pid of a process of its
    // own (WebKit's WebContent) that is no browser, or none. Without one, the element's owner.
    void resolveApplication() {
        if (!systemWide) {
            return;  // the frontmost application's, known already
        }
        pid_t pid = owner;
        application = copyAttributeElement(systemWide.get(), focusedApplicationAttribute);
        if (application && AXUIElementGetPid(application.get(), &pid) != kAXErrorSuccess) {
            application.reset();
            pid = owner;
        }
        // A process id that no running application has: not a browser.
        const auto running = runningApplication(pid);
        bundleIdentifier = running ? running->bundleIdentifier : std::nullopt;
        if (!application) {
            application.reset(AXUIElementCreateApplication(pid));
        }
    }
};

std::optional<Focus> focusedField() {
    {
        CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
        CFRef<AXUIElementRef> focused = focusedElement(systemWide.get());
        pid_t pid = 0;
        // An element that cannot say whose it is (gone already): as if none were named.
        if (focused && AXUIElementGetPid(focused.get(), &pid) == kAXErrorSuccess) {
            return Focus{std::move(focused), std::move(systemWide), pid, {}, std::nullopt};
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
    return Focus{std::move(focused),
                 {},
                 application->pid,
                 std::move(applicationElement),
                 application->bundleIdentifier};
}

}  // namespace

bool isBrowserBundle(const std::optional<std::string>& bundleIdentifier) {
    const auto& browsers = ContextSnapshot::browserBundleIdentifiers;
    return bundleIdentifier &&
           std::find(browsers.begin(), browsers.end(), *bundleIdentifier) != browsers.end();
}

std::optional<SelectionRange> selectedRange(AXUIElementRef of) {
    const auto range = selectedTextRange(of);
    if (!range) {
        return std::nullopt;
    }
    return SelectionRange{.location = range->location, .length = range->length};
}

namespace {

bool saysItIsEditable(AXUIElementRef element) {
    return copyAttributeBool(element, Attribute::editable) == true ||
           copyAttributeBool(element, Attribute::domEditable) == true ||
           isAttributeSettable(element, Attribute::value);
}

// Chromium answers a range on every ancestor of a selection in the page: a web area's counts
// only beside an editable ancestor (the web area itself, in an editable document).
bool rangeShowsACaret(AXUIElementRef element, std::u16string_view elementRole,
                      const std::optional<SelectionRange>& range) {
    return range.has_value() && (elementRole != VisibleText::axWebAreaRole ||
                                 copyAttributeElement(element, Attribute::editableAncestor));
}

}  // namespace

bool supportsTextInsertion(AXUIElementRef element, std::u16string_view elementRole) {
    return saysItIsEditable(element) ||
           rangeShowsACaret(element, elementRole, selectedRange(element));
}

bool supportsTextInsertion(AXUIElementRef element, std::u16string_view elementRole,
                           const std::optional<SelectionRange>& range) {
    return saysItIsEditable(element) || rangeShowsACaret(element, elementRole, range);
}

ContextSnapshot buildSnapshot() {
    const AccessibilityRun run;
    if (!AXIsProcessTrusted()) {
        return {};
    }
    auto focus = focusedField();
    if (!focus) {
        return {};
    }
    // The field itself first, so that an application that stops answering on its page still
    // leaves the field read; each of its attributes is read once.
    const AXUIElementRef focused = focus->element.get();
    ContextSnapshot snapshot;
    snapshot.role = role(focused);
    snapshot.subrole = subrole(focused);
    if (snapshot.subrole == secureTextFieldSubrole) {
        // A password: no text of it is read or written.
        snapshot.editable = supportsTextInsertion(focused, snapshot.role);
        return snapshot;
    }
    std::u16string selected = copyAttributeString(focused, Attribute::selectedText).value_or(u"");
    OwnValue own = ownValueOf(focused);
    const auto range = selectedRange(focused);
    snapshot.editable = supportsTextInsertion(focused, snapshot.role, range);
    focus->resolveApplication();

    std::u16string visible =
        resolveVisibleText(FocusedElement{focused, snapshot.role, own.text},
                           focus->application.get(), isBrowserBundle(focus->bundleIdentifier));
    std::u16string field = fieldTextOf(std::move(own), selected, visible);
    snapshot.hasTextSelected = !selected.empty();
    if (field.empty()) {
        snapshot.visibleText = std::move(visible);
    } else {
        if (auto split = splitOf(range, field, visible, selected)) {
            snapshot.beforeText = std::move(split->before);
            snapshot.afterText = std::move(split->after);
            snapshot.cursorPosition = split->cursorPosition;
        }
        snapshot.visibleText = visible.empty() ? field : std::move(visible);
        snapshot.fullFieldContent = std::move(field);
    }
    snapshot.selectedText = std::move(selected);
    return snapshot;
}
