// Typed reads of single accessibility attributes. Every failure (any status but success, a null
// value, a value of another type) folds into the plain default of the read; nothing is printed.
// Elements passed in are borrowed; elements returned carry one reference for the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"
#include "platform/cf_ref.h"

// The text of a string value; absent for any other type. An empty string is present.
std::optional<std::u16string> copyAttributeString(AXUIElementRef element, const char* attribute);

// A boolean, or a number equal to 1 (true) or 0 (false); absent for anything else.
std::optional<bool> copyAttributeBool(AXUIElementRef element, const char* attribute);

// An element value; null for anything else.
CFRef<AXUIElementRef> copyAttributeElement(AXUIElementRef element, const char* attribute);

// targetprobe's list read: a single element is a one-entry list, and a list is taken entry by
// entry without dropping any, so that every entry keeps its place in a search. An entry may
// therefore be something other than an element: callers test it (cfCast) before handing it to
// an accessibility call. At most `atMost` entries are returned (retained), from the front.
std::vector<CFRef<CFTypeRef>> copyAttributeElementsKeepingEveryEntry(AXUIElementRef element,
                                                                     const char* attribute,
                                                                     size_t atMost = SIZE_MAX);

// fieldscan's list read: only the entries of a list that are elements, in order; a single
// element (not in a list) gives an empty list. At most `atMost` elements are returned
// (retained), the first ones.
std::vector<CFRef<AXUIElementRef>> copyAttributeElementsOnly(AXUIElementRef element,
                                                             const char* attribute,
                                                             size_t atMost = SIZE_MAX);

// "AXSelectedTextRange" when it places a caret or a selection: a range (not a value of another
// type), with no negative member, and not at NSNotFound, where AppKit puts "no selection".
std::optional<CFRange> selectedTextRange(AXUIElementRef element);

// True only when the platform says so with a success status.
bool isAttributeSettable(AXUIElementRef element, const char* attribute);

// True exactly when the read succeeds, whatever the value.
bool hasAttribute(AXUIElementRef element, const char* attribute);

// "AXRole" / "AXSubrole" as text; "" when absent.
std::u16string role(AXUIElementRef element);
std::u16string subrole(AXUIElementRef element);

// "AXFocusedUIElement" of an element (as a rule an application element).
CFRef<AXUIElementRef> focusedElement(AXUIElementRef in);

// The element with the keyboard focus: asked of the system-wide element first, then of the
// frontmost application.
CFRef<AXUIElementRef> focusedElement();
