#include "targetprobe/insertable_element_search.h"

#include <algorithm>
#include <deque>
#include <string>

#include "axquery/axquery.h"
#include "platform/attribute_value.h"
#include "platform/cf_cast.h"
#include "platform/cf_string.h"

namespace {

using Search = InsertableElementSearch;

// The empty text is in no table, so a missing role or subrole never matches.
template <size_t size>
bool holdsRoleOrSubrole(const std::array<std::u16string_view, size>& table,
                        std::u16string_view elementRole, std::u16string_view elementSubrole) {
    const auto holds = [&table](std::u16string_view text) {
        return std::find(table.begin(), table.end(), text) != table.end();
    };
    return holds(elementRole) || holds(elementSubrole);
}

InsertTargetCheck reportedCheck(bool canInsert, const char* reason, AXUIElementRef element) {
    // A braced list is evaluated in order: role first, then subrole.
    return {canInsert, reason, utf16ToUtf8(role(element)), utf16ToUtf8(subrole(element))};
}

// One work-list entry. It may hold something other than an element, when another application
// puts one in its children; such an entry keeps its place and its count, but is never handed
// to an accessibility call.
struct WorkEntry {
    CFRef<CFTypeRef> entry;
    int depth;
};

}  // namespace

bool supportsTextInsertion(AXUIElementRef element) {
    const std::u16string elementRole = role(element);
    const std::u16string elementSubrole = subrole(element);
    if (holdsRoleOrSubrole(Search::editableRoles, elementRole, elementSubrole)) {
        return true;
    }
    if (holdsRoleOrSubrole(Search::containerOnlyRoles, elementRole, elementSubrole)) {
        return false;
    }
    // In this order, each asked only when all before it said no.
    if (copyAttributeBool(element, Search::axEditableAttribute).value_or(false) ||
        copyAttributeBool(element, Search::axDOMEditableAttribute).value_or(false) ||
        isAttributeSettable(element, Search::axValueAttribute)) {
        return true;
    }
    // A range that places no caret (AppKit's static text answers {NSNotFound, 0}) is no evidence.
    const bool reportsRange = selectedTextRange(element).has_value();
    if (reportsRange && elementRole != Search::axWebAreaRole) {
        return true;
    }
    // What a page's selection makes an element answer (a web area's range, any element's marker
    // range) shows a caret here only beside an editable ancestor.
    return (reportsRange || hasAttribute(element, Search::axTextMarkerRangeAttribute)) &&
           copyAttributeElement(element, Search::axEditableAncestorAttribute);
}

CFRef<AXUIElementRef> findInsertableElement(AXUIElementRef startingAt) {
    CFRef<AXUIElementRef> current = CFRef<AXUIElementRef>::retain(startingAt);
    // The level bound also ends a cycle through "AXParent".
    for (int level = 0; current && level < Search::upwardElementsTested; ++level) {
        if (supportsTextInsertion(current.get())) {
            return current;
        }
        current = copyAttributeElement(current.get(), Search::axParentAttribute);
    }
    return {};
}

CFRef<AXUIElementRef> findInsertableDescendant(AXUIElementRef startingAt) {
    if (startingAt == nullptr) {
        return {};
    }
    // Read one after the other: the order of requests is part of what the host can observe.
    const std::u16string startRole = role(startingAt);
    const std::u16string startSubrole = subrole(startingAt);
    if (holdsRoleOrSubrole(Search::descendantSearchExcludedRoles, startRole, startSubrole)) {
        return {};
    }
    std::deque<WorkEntry> workList;
    workList.push_back({CFRef<CFTypeRef>::retain(startingAt), 0});
    size_t taken = 0;
    while (!workList.empty() && taken < Search::descendantEntriesTaken) {
        const WorkEntry next = std::move(workList.front());
        workList.pop_front();
        ++taken;
        const auto element = cfCast<AXUIElementRef>(next.entry.get());
        if (element == nullptr) {
            continue;  // fails every test and has no children
        }
        // The focused element itself was tested on the way up.
        if (next.depth >= 1 && supportsTextInsertion(element)) {
            return CFRef<AXUIElementRef>::retain(element);
        }
        if (next.depth < Search::descendantMaxDepth) {
            // Entries beyond the last that can still be taken would never reach the front, so
            // they are not kept: the list stays bounded whatever an application reports, and
            // the children are still read exactly once per expanded element.
            const size_t pending = taken + workList.size();
            const size_t room = pending < Search::descendantEntriesTaken
                                    ? Search::descendantEntriesTaken - pending
                                    : 0;
            if (room == 0) {
                continue;  // a list none of whose entries could be kept is not read
            }
            for (auto& child : copyAttributeElementsKeepingEveryEntry(
                     element, Search::axChildrenAttribute, room)) {
                workList.push_back({std::move(child), next.depth + 1});
            }
        }
    }
    return {};
}

InsertTargetCheck buildCheck() {
    const AccessibilityRun run;
    if (!AXIsProcessTrusted()) {
        return {false, InsertTargetCheck::accessibilityMissing, "", ""};
    }
    const CFRef<AXUIElementRef> focused = focusedElement();
    if (!focused) {
        return {false, InsertTargetCheck::noFocusedElement, "", ""};
    }
    if (const auto found = findInsertableElement(focused.get())) {
        return reportedCheck(true, InsertTargetCheck::ok, found.get());
    }
    if (const auto found = findInsertableDescendant(focused.get())) {
        return reportedCheck(true, InsertTargetCheck::okDescendant, found.get());
    }
    return reportedCheck(false, InsertTargetCheck::noEditableTarget, focused.get());
}
