// Field texts, selected texts and selection ranges come from other applications: any of them
// must split without crashing, and the pieces must always put the text back together.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "fieldscan/text_split.h"
#include "fuzz/fuzz_input.h"
#include "platform/cf_string.h"
#include "platform/text.h"

using fuzz::require;

namespace {

// A non-negative offset: mostly near the text, sometimes anywhere up to the largest.
int64_t offset(fuzz::Input& in, size_t textLength) {
    if (in.byte() < 0xF0) {
        return static_cast<int64_t>(in.below(textLength + 3));
    }
    return static_cast<int64_t>(in.raw64() & uint64_t(std::numeric_limits<int64_t>::max()));
}

void checkRange(std::u16string_view full, SelectionRange range) {
    const auto n = static_cast<int64_t>(full.size());
    const int64_t start = std::min(range.location, n);
    const int64_t count = std::min(range.length, n - start);
    const TextSplit split = splitAroundRange(full, range);
    require(split.cursorPosition == start);
    require(split.cursorPosition >= 0 && split.cursorPosition <= n);
    require(split.before == full.substr(0, static_cast<size_t>(start)));
    require(split.after == full.substr(static_cast<size_t>(start + count)));
    require(
        split.before +
            std::u16string(full.substr(static_cast<size_t>(start), static_cast<size_t>(count))) +
            split.after ==
        full);
}

bool isAscii(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t u) { return u < 0x80; });
}

void checkSelection(std::u16string_view full, std::u16string_view selected) {
    const std::u16string_view wanted = fuzz::trimBlanks(selected);
    const auto split = splitAroundSelection(full, selected);
    if (wanted.empty()) {
        require(!split);
        return;
    }
    // Without characters that decompose or combine, the match is the plain first occurrence.
    if (isAscii(full) && isAscii(wanted)) {
        const size_t at = full.find(wanted);
        require(split.has_value() == (at != std::u16string_view::npos));
        if (split) {
            require(split->before.size() == at);
            require(split->after.size() == full.size() - at - wanted.size());
        }
    }
    // A text always contains itself.
    if (wanted == full) {
        require(split && split->before.empty() && split->after.empty());
    }
    if (!split) {
        return;
    }
    require(split->cursorPosition == static_cast<int64_t>(split->before.size()));
    require(split->before.size() + split->after.size() <= full.size());
    require(full.substr(0, split->before.size()) == split->before);
    require(full.substr(full.size() - split->after.size()) == split->after);
    const std::u16string_view match =
        full.substr(split->before.size(), full.size() - split->before.size() - split->after.size());
    require(!match.empty());
    require(split->before + std::u16string(match) + split->after == full);
    require(canonicallyEqual(match, wanted));
    // The platform's match may start or end between the halves of a pair (it reads units): the
    // pieces still come out as UTF-8, a cut half as U+FFFD.
    const std::u16string_view before = split->before;
    const std::u16string_view after = split->after;
    for (const std::u16string_view piece : {before, after, match}) {
        require(utf16ToUtf8(piece) == fuzz::expectedUtf8(piece));
    }
}

// The same search once the text ends in a character that decomposes but neither extends nor
// joins what comes before it (U+2260, "=" and a mark): the match must not move. Only a match
// that reaches into the added character is new.
void checkAddedCharacter(std::u16string_view full, std::u16string_view selected) {
    const auto split = splitAroundSelection(full, selected);
    const auto extended = splitAroundSelection(std::u16string(full) + u"\u2260", selected);
    if (split) {
        require(extended && extended->before == split->before);
    } else if (extended) {
        require(extended->after.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const std::u16string full = in.text(256);
    std::u16string selected;
    if (in.flag()) {
        // A piece of the text, perhaps with white space around it: the usual selection.
        const size_t from = in.below(full.size() + 1);
        const size_t to = from + in.below(full.size() - from + 1);
        selected = in.text(3) + full.substr(from, to - from) + in.text(3);
    } else {
        selected = in.text(64);
    }
    const int64_t location = offset(in, full.size());
    const int64_t length = offset(in, full.size());
    checkRange(full, SelectionRange{location, length});
    checkSelection(full, selected);
    checkAddedCharacter(full, selected);
    return 0;
}
