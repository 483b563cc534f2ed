// The text around the focused field: the focused element's own value, or, in a browser, the
// page's, gathered line by line from the web area when it has no value of its own. Both walks
// look seven levels deep at most; the gathering also stops once it holds enough lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"
#include "platform/cf_ref.h"

// Gathered lines: trimmed, not empty, no two canonically equivalent, in pre-order.
using TextBucket = std::vector<std::u16string>;

struct VisibleText {
    // The role of the element that holds a web page's content.
    static constexpr std::u16string_view axWebAreaRole = u"AXWebArea";
    // Both walks look at depths 0 to this, never below.
    static constexpr int deepestLevel = 6;
    // The gathering descends no further once the bucket holds this many lines. The three texts
    // of one element go in without a test between them, so it can end with two more.
    static constexpr size_t lineLimit = 120;
    // Elements one walk enters at most. A page stays far below it; children lists that name the
    // same elements over and over (a cycle, a child listed many times) would otherwise make a
    // walk exponential in the depth.
    static constexpr size_t elementsPerWalk = 10000;
    // Children one walk takes from all the lists it reads, at most: with the bound above, what a
    // walk costs is bounded even when each of its elements lists thousands of children. A list
    // longer than what is left is cut to its first entries; later lists are not read.
    static constexpr size_t childrenPerWalk = 100000;
    static constexpr char16_t lineSeparator = u'\n';
};

// The visible text of the snapshot (possibly empty). Only a browser walks the page.
std::u16string resolveVisibleText(AXUIElementRef focused, AXUIElementRef application,
                                  bool isBrowser);

// The first element in pre-order, `startingAt` itself included, whose role is the web area's.
CFRef<AXUIElementRef> findWebArea(AXUIElementRef startingAt, int depth = 0);

// Offers the value, description and title of `from` and its descendants to `bucket`, in
// pre-order, until the depth or the line limit is reached.
void collectVisibleTexts(AXUIElementRef from, int depth, size_t limit, TextBucket& bucket);

// Appends the trimmed text unless it is absent, blank or already in the bucket.
void appendIfMeaningful(std::optional<std::u16string> text, TextBucket& into);
