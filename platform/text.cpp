#include "platform/text.h"

#include "platform/cf_string.h"

std::u16string lowercased(std::u16string_view text) {
    const CFRef<CFStringRef> original = makeCFString(text);
    const CFRef<CFMutableStringRef> lower(
        CFStringCreateMutableCopy(kCFAllocatorDefault, 0, original.get()));
    if (!lower) {
        return {};
    }
    CFStringLowercase(lower.get(), nullptr);
    return toUtf16(lower.get());
}

std::u16string_view trimmed(std::u16string_view text) {
    const CFCharacterSetRef blanks =
        CFCharacterSetGetPredefined(kCFCharacterSetWhitespaceAndNewline);
    const auto blank = [&](char16_t unit) { return CFCharacterSetIsCharacterMember(blanks, unit); };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<TextSpan> findCanonicallyEquivalent(std::u16string_view text,
                                                  std::u16string_view wanted) {
    if (wanted.empty() || text.empty()) {
        return std::nullopt;
    }
    const CFRef<CFStringRef> haystack = makeCFString(text);
    const CFRef<CFStringRef> needle = makeCFString(wanted);
    CFRange found{0, 0};
    if (!haystack || !needle ||
        !CFStringFindWithOptions(haystack.get(), needle.get(),
                                 CFRange{0, static_cast<CFIndex>(text.size())},
                                 kCFCompareNonliteral, &found)) {
        return std::nullopt;
    }
    // The platform reads a text that is not ASCII as U+0000 past its end, so a wanted text that
    // ends in U+0000 can match beyond it: that is no occurrence in the text.
    if (found.location < 0 || found.length < 0 ||
        static_cast<size_t>(found.location) + static_cast<size_t>(found.length) > text.size()) {
        return std::nullopt;
    }
    return TextSpan{static_cast<size_t>(found.location), static_cast<size_t>(found.length)};
}

bool canonicallyEqual(std::u16string_view first, std::u16string_view second) {
    if (first == second) {
        return true;
    }
    const CFRef<CFStringRef> a = makeCFString(first);
    const CFRef<CFStringRef> b = makeCFString(second);
    return a && b && CFStringCompare(a.get(), b.get(), kCFCompareNonliteral) == kCFCompareEqualTo;
}
