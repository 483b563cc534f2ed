// The text around the focused field: the focused element's own value, or, in a browser, the
// page's, gathered line by line from the web area when it has no value of its own. The page is
// looked for among the focus's ancestors first, then below the focus and its window; the walks
// down look seven levels deep at most, and the gathering stops once it holds enough lines. The
// whole search has a time budget: every request is a round trip to the application, and a slow
// page must not cost the host its reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"
#include "platform/cf_ref.h"

// Gathered lines: trimmed, not empty, no two canonically equivalent, in pre-order.
using TextBucket = std::vector<std::u16string>;

// What has been read of the focused element itself. The walks recognise it among the page's
// elements (CFEqual) and use this rather than ask it again: a long document's value would be
// copied across twice.
struct FocusedElement {
    AXUIElementRef element = nullptr;
    std::u16string role;
    std::optional<std::u16string> value;  // absent: none, or never answered
};

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
    // Parents asked at most on the way up to the page around the focus.
    static constexpr int ancestorsSearched = 20;
    // The whole search for the visible text, from its start on the monotonic clock: once spent,
    // nothing more is asked and what was gathered is used. Chromium and Electron take 10 to
    // 50 ms a request; hosts kill a reader after a few seconds.
    static constexpr uint64_t searchBudgetNanoseconds = 1000000000;
};

// The visible text of the snapshot (possibly empty). Only a browser walks the page.
std::u16string resolveVisibleText(const FocusedElement& focused, AXUIElementRef application,
                                  bool isBrowser);

// The first element in pre-order, `startingAt` itself included, whose role is the web area's.
CFRef<AXUIElementRef> findWebArea(AXUIElementRef startingAt, int depth = 0);

// Offers the value, description and title of `from` and its descendants to `bucket`, in
// pre-order, until the depth or the line limit is reached.
void collectVisibleTexts(AXUIElementRef from, int depth, size_t limit, TextBucket& bucket);

// Appends the trimmed text unless it is absent, blank or already in the bucket.
void appendIfMeaningful(std::optional<std::u16string> text, TextBucket& into);
