// Builds the snapshot of the focused field from the frontmost application's accessibility
// interface. Every failed or mistyped read folds into a fallback; nothing here reports errors.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "fieldscan/context_snapshot.h"
#include "fieldscan/text_split.h"
#include "platform/accessibility.h"

// Whether the frontmost application, by its bundle identifier, is a web browser.
bool isBrowserBundle(const std::optional<std::string>& bundleIdentifier);

// The selection the element reports, or nothing when it reports none, reports something that is
// not a range, or a range with a negative member.
std::optional<SelectionRange> selectedRange(AXUIElementRef of);

// Whether the element, of this role, accepts inserted text; reads stop at the first test that
// holds. The second form is handed the selection range read already.
bool supportsTextInsertion(AXUIElementRef element, std::u16string_view elementRole);
bool supportsTextInsertion(AXUIElementRef element, std::u16string_view elementRole,
                           const std::optional<SelectionRange>& range);

// The snapshot of the focused field; the empty one when there is no permission, no frontmost
// application or no focused element.
ContextSnapshot buildSnapshot();
