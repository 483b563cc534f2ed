// Finds an element near the keyboard focus that accepts inserted text: the focused element or
// one of its ancestors first, then its descendants breadth-first. Every read goes through
// axquery, so a failing request counts as its plain default and nothing here reports errors.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/accessibility.h"
#include "platform/cf_ref.h"
#include "targetprobe/insert_target_check.h"

struct InsertableElementSearch {
    // A role or subrole here accepts text whatever the attributes say.
    static constexpr std::array<std::u16string_view, 5> editableRoles = {
        u"AXTextField", u"AXTextArea", u"AXComboBox", u"AXSearchField", u"AXTextView"};
    // A role or subrole here (and not above) never accepts text; the searches pass through it.
    static constexpr std::array<std::u16string_view, 6> containerOnlyRoles = {
        u"AXApplication", u"AXWindow", u"AXGroup", u"AXScrollArea", u"AXSplitGroup", u"AXToolbar"};
    // A focused element with one of these is not searched below: its rows are not text targets.
    static constexpr std::array<std::u16string_view, 5> descendantSearchExcludedRoles = {
        u"AXBrowser", u"AXCollectionView", u"AXList", u"AXOutline", u"AXTable"};

    static constexpr const char* axEditableAttribute = "AXEditable";
    static constexpr const char* axDOMEditableAttribute = "AXDOMEditable";
    static constexpr const char* axTextMarkerRangeAttribute = "AXSelectedTextMarkerRange";
    // WebKit and Chromium answer a marker range on every element of a page that holds a caret
    // or a selection anywhere (both build it from the document's selection). It counts only with
    // an editable ancestor: Chromium names the element itself for an editable root, WebKit an
    // editable element around it; both answer none for a link, a button or the web area.
    static constexpr const char* axEditableAncestorAttribute = "AXEditableAncestor";
    // Chromium answers a range on every ancestor of a selection in the page, the web area
    // included: a web area's range counts only beside an editable ancestor too.
    static constexpr std::u16string_view axWebAreaRole = u"AXWebArea";
    static constexpr const char* axValueAttribute = "AXValue";
    static constexpr const char* axParentAttribute = "AXParent";
    static constexpr const char* axChildrenAttribute = "AXChildren";

    // The focused element and up to five ancestors.
    static constexpr int upwardElementsTested = 6;
    // Work-list entries taken at most, the focused element included.
    static constexpr size_t descendantEntriesTaken = 120;
    // Deepest level tested; its children are not read.
    static constexpr int descendantMaxDepth = 5;
};

// Whether the element accepts text; at most eight requests, none after the deciding one.
bool supportsTextInsertion(AXUIElementRef element);

// The first element that accepts text on the way up from `startingAt` (itself included).
CFRef<AXUIElementRef> findInsertableElement(AXUIElementRef startingAt);

// The first descendant of `startingAt` that accepts text, in breadth-first order.
CFRef<AXUIElementRef> findInsertableDescendant(AXUIElementRef startingAt);

// The whole decision: permission, focus, then the two searches.
InsertTargetCheck buildCheck();
