#include "fieldscan/text_split.h"

#include <algorithm>

#include "platform/text.h"

TextSplit splitAroundRange(std::u16string_view fullText, SelectionRange range) {
    const auto length = static_cast<int64_t>(fullText.size());
    const int64_t start = std::clamp(range.location, int64_t{0}, length);
    const int64_t count = std::clamp(range.length, int64_t{0}, length - start);
    return TextSplit{
        .before = std::u16string(fullText.substr(0, static_cast<size_t>(start))),
        .after = std::u16string(fullText.substr(static_cast<size_t>(start + count))),
        .cursorPosition = start,
    };
}

std::optional<TextSplit> splitAroundSelection(std::u16string_view fullText,
                                              std::u16string_view selectedText) {
    const std::u16string_view wanted = trimmed(selectedText);
    if (wanted.empty()) {
        return std::nullopt;
    }
    const auto found = findCanonicallyEquivalent(fullText, wanted);
    if (!found) {
        return std::nullopt;
    }
    return TextSplit{
        .before = std::u16string(fullText.substr(0, found->location)),
        .after = std::u16string(fullText.substr(found->location + found->length)),
        .cursorPosition = static_cast<int64_t>(found->location),
    };
}
