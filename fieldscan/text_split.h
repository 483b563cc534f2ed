// Cutting a field text around the selection: at the range the element reports or, without one,
// around the first place the selected text occurs. Offsets count UTF-16 code units, the unit of
// the accessibility interface, and cuts stay exactly there, even inside a surrogate pair.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A selection as the element reports it; both members are non-negative.
struct SelectionRange {
    int64_t location;
    int64_t length;
};

struct TextSplit {
    std::u16string before;
    std::u16string after;
    int64_t cursorPosition;  // UTF-16 code units of `before`'s end into the text
};

// Before and after the range, which is first clamped to the text; the selected span is in
// neither part.
TextSplit splitAroundRange(std::u16string_view fullText, SelectionRange range);

// Around the first occurrence of the trimmed selected text (case-sensitive, canonically
// equivalent sequences matching); nothing when the trimmed text is empty or does not occur.
std::optional<TextSplit> splitAroundSelection(std::u16string_view fullText,
                                              std::u16string_view selectedText);
