// CoreFoundation's string services that need Unicode data, answered by ICU: lower-casing,
// the white-space-and-newline set, UTF-8 encoding, and comparison and search under canonical
// equivalence.
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/standin/objects.h"

using standin::as;

namespace {

__CFCharacterSet whitespaceAndNewline(kCFCharacterSetWhitespaceAndNewline);

const std::u16string& unitsOf(CFStringRef string, const char* operation) {
    return as<__CFString>(string, operation)->units;
}

std::u16string_view within(const std::u16string& units, CFRange range, const char* operation) {
    if (range.location < 0 || range.length < 0 ||
        static_cast<size_t>(range.location) + static_cast<size_t>(range.length) > units.size()) {
        standin::misuse(operation);
    }
    return std::u16string_view(units).substr(static_cast<size_t>(range.location),
                                             static_cast<size_t>(range.length));
}

const icu::Normalizer2& nfd() {
    static const icu::Normalizer2* instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* found = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status)) {
            standin::misuse("Normalizer2::getNFDInstance");
        }
        return found;
    }();
    return *instance;
}

void appendDecomposed(std::u16string_view segment, std::u16string& out) {
    // Below U+00C0 every character is its own decomposition.
    if (segment.size() == 1 && segment[0] < 0xC0) {
        out += segment[0];
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString source(false, segment.data(), static_cast<int32_t>(segment.size()));
    const icu::UnicodeString decomposed = nfd().normalize(source, status);
    if (U_FAILURE(status)) {
        standin::misuse("Normalizer2::normalize");
    }
    out.append(reinterpret_cast<const char16_t*>(decomposed.getBuffer()),
               static_cast<size_t>(decomposed.length()));
}

// A text in canonical decomposition, cut into segments that normalize independently (each
// starts at a character with a normalization boundary before it). originOf[k] is the offset in
// the original text of the segment that starts at unit k, or noOrigin inside a segment, so a
// match found in the decomposed text maps back only when both its ends fall between segments.
struct Decomposed {
    static constexpr uint32_t noOrigin = std::numeric_limits<uint32_t>::max();
    std::u16string text;
    std::vector<uint32_t> originOf;
};

Decomposed decompose(std::u16string_view source, size_t base) {
    if (base + source.size() >= Decomposed::noOrigin) {
        standin::misuse("CFStringFindWithOptions (text too long)");
    }
    Decomposed out;
    out.text.reserve(source.size());
    out.originOf.reserve(source.size() + 1);
    const size_t length = source.size();
    size_t i = 0;
    while (i < length) {
        const size_t start = i;
        U16_FWD_1(source.data(), i, length);
        while (i < length) {
            size_t next = i;
            UChar32 c = 0;
            U16_NEXT(source.data(), next, length, c);
            if (nfd().hasBoundaryBefore(c)) {
                break;
            }
            i = next;
        }
        appendDecomposed(source.substr(start, i - start), out.text);
        out.originOf.push_back(static_cast<uint32_t>(base + start));
        out.originOf.resize(out.text.size(), Decomposed::noOrigin);
    }
    out.originOf.push_back(static_cast<uint32_t>(base + length));
    return out;
}

std::u16string decomposedText(std::u16string_view source) {
    return decompose(source, 0).text;
}

// A text's canonical decomposition, made one segment at a time as it is read, so that a
// comparison stops at the first difference without decomposing the rest.
class DecomposedUnits {
  public:
    explicit DecomposedUnits(std::u16string_view source) : text(source) {}

    // The next unit of the decomposition; false at the end.
    bool next(char16_t& unit) {
        while (at == segment.size()) {
            if (read == text.size()) {
                return false;
            }
            const size_t start = read;
            U16_FWD_1(text.data(), read, text.size());
            while (read < text.size()) {
                size_t after = read;
                UChar32 c = 0;
                U16_NEXT(text.data(), after, text.size(), c);
                if (nfd().hasBoundaryBefore(c)) {
                    break;
                }
                read = after;
            }
            segment.clear();
            appendDecomposed(text.substr(start, read - start), segment);
            at = 0;
        }
        unit = segment[at++];
        return true;
    }

  private:
    std::u16string_view text;
    size_t read = 0;
    std::u16string segment;
    size_t at = 0;
};

int compareDecomposed(std::u16string_view first, std::u16string_view second) {
    DecomposedUnits a(first);
    DecomposedUnits b(second);
    for (;;) {
        char16_t x = 0;
        char16_t y = 0;
        const bool more = a.next(x);
        if (more != b.next(y)) {
            return more ? 1 : -1;
        }
        if (!more) {
            return 0;
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
}

// Most texts are already decomposed (all of ASCII is), and a quick check says so without
// building anything.
bool isDecomposed(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString view(false, text.data(), static_cast<int32_t>(text.size()));
    return nfd().isNormalized(view, status) && U_SUCCESS(status);
}

void requireOptions(CFStringCompareFlags options, const char* operation) {
    if ((options & ~CFStringCompareFlags{kCFCompareNonliteral}) != 0) {
        standin::misuse(operation);  // only what the programs use is provided
    }
}

}  // namespace

std::u16string standin::utf16(std::string_view utf8) {
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
    std::u16string units(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(units.data()), length, nullptr, utf8.data(),
                  static_cast<int32_t>(utf8.size()), &status);
    if (U_FAILURE(status)) {
        misuse("utf16 (not UTF-8)");
    }
    return units;
}

std::string standin::utf8(std::u16string_view units) {
    std::string out(units.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                       reinterpret_cast<const UChar*>(units.data()),
                       static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &status);
    out.resize(U_FAILURE(status) ? 0 : static_cast<size_t>(length));
    return out;
}

extern "C" {

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen) {
    const std::u16string_view units =
        within(unitsOf(theString, "CFStringGetBytes"), range, "CFStringGetBytes");
    if (encoding != kCFStringEncodingUTF8 || isExternalRepresentation) {
        standin::misuse("CFStringGetBytes (only plain UTF-8 is provided)");
    }
    // Strict like the platform's converter: a lone surrogate is a loss, written as lossByte or,
    // without one, the end of the conversion.
    size_t i = 0;
    size_t used = 0;
    const size_t capacity = buffer == nullptr ? SIZE_MAX : static_cast<size_t>(maxBufLen);
    while (i < units.size()) {
        size_t next = i;
        UChar32 c = 0;
        U16_NEXT(units.data(), next, units.size(), c);
        uint8_t bytes[4];
        size_t count = 0;
        if (U_IS_SURROGATE(c)) {
            if (lossByte == 0) {
                break;
            }
            bytes[count++] = lossByte;
        } else {
            U8_APPEND_UNSAFE(bytes, count, c);
        }
        if (used + count > capacity) {
            break;
        }
        if (buffer != nullptr) {
            std::copy_n(bytes, count, buffer + used);
        }
        used += count;
        i = next;
    }
    if (usedBufLen != nullptr) {
        *usedBufLen = static_cast<CFIndex>(used);
    }
    return static_cast<CFIndex>(i);
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex maxLength,
                                             CFStringRef theString) {
    if (maxLength != 0) {
        standin::misuse("CFStringCreateMutableCopy (only unbounded copies are provided)");
    }
    return new __CFString(unitsOf(theString, "CFStringCreateMutableCopy"));
}

void CFStringLowercase(CFMutableStringRef theString, CFLocaleRef locale) {
    auto& units = as<__CFString>(theString, "CFStringLowercase")->units;
    if (locale != nullptr || theString->isConstant) {
        standin::misuse("CFStringLowercase");
    }
    if (units.size() > INT32_MAX / 3) {
        standin::misuse("CFStringLowercase (text too long)");
    }
    // The full mapping can grow a text, at most threefold. The root locale is the mapping
    // without language rules, as a null locale is on the platform.
    std::u16string lower(units.size() * 3, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        u_strToLower(reinterpret_cast<UChar*>(lower.data()), static_cast<int32_t>(lower.size()),
                     reinterpret_cast<const UChar*>(units.data()),
                     static_cast<int32_t>(units.size()), "", &status);
    if (U_FAILURE(status)) {
        standin::misuse("u_strToLower");
    }
    lower.resize(static_cast<size_t>(length));
    units = std::move(lower);
}

Boolean CFStringFindWithOptions(CFStringRef theString, CFStringRef stringToFind,
                                CFRange rangeToSearch, CFStringCompareFlags searchOptions,
                                CFRange* result) {
    requireOptions(searchOptions, "CFStringFindWithOptions");
    const std::u16string_view haystack = within(unitsOf(theString, "CFStringFindWithOptions"),
                                                rangeToSearch, "CFStringFindWithOptions");
    const std::u16string& needle = unitsOf(stringToFind, "CFStringFindWithOptions");
    if (needle.empty() || haystack.empty()) {
        return false;
    }
    if ((searchOptions & kCFCompareNonliteral) == 0) {
        const size_t at = haystack.find(needle);
        if (at == std::u16string_view::npos) {
            return false;
        }
        if (result != nullptr) {
            *result = CFRange{rangeToSearch.location + static_cast<CFIndex>(at),
                              static_cast<CFIndex>(needle.size())};
        }
        return true;
    }
    if (isDecomposed(haystack) && isDecomposed(needle)) {
        // Already decomposed (all of ASCII is): the text is its own decomposition, so a plain
        // search will do, keeping only matches whose ends fall between segments.
        const auto between = [&](size_t at) {
            if (at == 0 || at == haystack.size()) {
                return true;
            }
            // Between the halves of a pair is inside a character, never between segments.
            if (U16_IS_LEAD(haystack[at - 1]) && U16_IS_TRAIL(haystack[at])) {
                return false;
            }
            UChar32 c = 0;
            U16_GET(haystack.data(), 0, at, haystack.size(), c);
            return nfd().hasBoundaryBefore(c) != 0;
        };
        for (size_t at = haystack.find(needle); at != std::u16string_view::npos;
             at = haystack.find(needle, at + 1)) {
            if (between(at) && between(at + needle.size())) {
                if (result != nullptr) {
                    *result = CFRange{rangeToSearch.location + static_cast<CFIndex>(at),
                                      static_cast<CFIndex>(needle.size())};
                }
                return true;
            }
        }
        return false;
    }
    const Decomposed text = decompose(haystack, static_cast<size_t>(rangeToSearch.location));
    const std::u16string wanted = decomposedText(needle);
    const std::boyer_moore_horspool_searcher searcher(wanted.begin(), wanted.end());
    for (auto from = text.text.begin();;) {
        const auto [first, last] = searcher(from, text.text.end());
        if (first == text.text.end()) {
            return false;
        }
        const uint32_t start = text.originOf[static_cast<size_t>(first - text.text.begin())];
        const uint32_t end = text.originOf[static_cast<size_t>(last - text.text.begin())];
        if (start != Decomposed::noOrigin && end != Decomposed::noOrigin) {
            if (result != nullptr) {
                *result = CFRange{static_cast<CFIndex>(start), static_cast<CFIndex>(end - start)};
            }
            return true;
        }
        from = first + 1;
    }
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) {
    requireOptions(compareOptions, "CFStringCompare");
    const std::u16string& first = unitsOf(theString1, "CFStringCompare");
    const std::u16string& second = unitsOf(theString2, "CFStringCompare");
    const int order = (compareOptions & kCFCompareNonliteral) == 0
                          ? first.compare(second)
                          : compareDecomposed(first, second);
    return order < 0 ? kCFCompareLessThan : order > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}

CFCharacterSetRef CFCharacterSetGetPredefined(CFCharacterSetPredefinedSet theSetIdentifier) {
    if (theSetIdentifier != kCFCharacterSetWhitespaceAndNewline) {
        standin::misuse("CFCharacterSetGetPredefined (only white space and newline is provided)");
    }
    return &whitespaceAndNewline;
}

Boolean CFCharacterSetIsCharacterMember(CFCharacterSetRef theSet, UniChar theChar) {
    as<__CFCharacterSet>(theSet, "CFCharacterSetIsCharacterMember");
    // General category Z, U+0009 to U+000D and U+0085.
    const auto category = u_charType(theChar);
    return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR ||
           category == U_PARAGRAPH_SEPARATOR || (theChar >= 0x09 && theChar <= 0x0D) ||
           theChar == 0x85;
}

}  // extern "C"
