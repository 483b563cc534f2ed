// CoreFoundation's string services that need Unicode data, answered by ICU: lower-casing,
// the white-space-and-newline set, UTF-8 encoding, and the platform's non-literal comparison and
// search, which are close to canonical equivalence but not the same.
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

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

constexpr char32_t zeroWidthJoiner = 0x200D;
constexpr char32_t graphemeJoiner = 0x034F;

// The character at `at`; a surrogate pair is one only when both halves are there.
char32_t characterAt(std::u16string_view text, size_t at, size_t& width) {
    UChar32 c = 0;
    size_t next = at;
    U16_NEXT(text.data(), next, text.size(), c);
    width = next - at;
    return static_cast<char32_t>(c);
}

char32_t characterAt(std::u16string_view text, size_t at) {
    size_t width = 0;
    return characterAt(text, at, width);
}

// The first unit of the character that ends at `end`.
size_t characterStart(std::u16string_view text, size_t end) {
    U16_BACK_1(text.data(), 0, end);
    return end;
}

// What the platform folds into the character before it: the grapheme extenders and the emoji
// skin-tone modifiers (whose cluster break is Extend although their property is not).
bool isExtender(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_GRAPHEME_EXTEND) ||
           u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_EMOJI_MODIFIER);
}

uint8_t combiningClass(char32_t c) {
    return u_getCombiningClass(static_cast<UChar32>(c));
}

// Appends c's full canonical decomposition, or c itself; true when c decomposes.
bool appendDecomposition(char32_t c, std::u32string& out) {
    icu::UnicodeString decomposition;
    if (c < 0xC0 || !nfd().getDecomposition(static_cast<UChar32>(c), decomposition)) {
        out += c;
        return false;
    }
    for (int32_t i = 0; i < decomposition.length(); i = decomposition.moveIndex32(i, 1)) {
        out += static_cast<char32_t>(decomposition.char32At(i));
    }
    return true;
}

// How the platform reads a character where two texts differ: decomposed, with the grapheme
// extenders after it taken along (each decomposed). Empty when the character stands for itself.
struct Fold {
    // The platform folds into a buffer of 64 characters; a longer cluster is cut there.
    static constexpr size_t capacity = 64;

    std::u32string characters;
    size_t used = 0;   // units covered
    bool cut = false;  // the cluster goes on past what was folded
};

Fold foldAt(std::u16string_view text, size_t at) {
    Fold fold;
    size_t width = 0;
    bool changed = appendDecomposition(characterAt(text, at, width), fold.characters);
    size_t end = at + width;
    while (end < text.size() && !fold.cut) {
        const char32_t next = characterAt(text, end, width);
        if (!isExtender(next)) {
            break;
        }
        std::u32string decomposed;
        appendDecomposition(next, decomposed);
        if (fold.characters.size() + decomposed.size() > Fold::capacity) {
            fold.cut = true;
            break;
        }
        fold.characters += decomposed;
        end += width;
        changed = true;
        fold.cut = fold.characters.size() == Fold::capacity;
    }
    if (!changed) {
        return {};
    }
    // The trailing extenders go in combining-class order, leading class 0 ones staying put, as
    // the platform sorts them. Unlike canonical ordering, a class 0 extender (a Thai vowel sign)
    // moves ahead of classed marks.
    auto& chars = fold.characters;
    size_t from = chars.size() - 1;
    while (from > 0 && isExtender(chars[from])) {
        --from;
    }
    while (from < chars.size() && combiningClass(chars[from]) == 0) {
        ++from;
    }
    std::stable_sort(chars.begin() + static_cast<ptrdiff_t>(from), chars.end(),
                     [](char32_t a, char32_t b) { return combiningClass(a) < combiningClass(b); });
    fold.used = end - at;
    return fold;
}

// Where the run of grapheme extenders from `at` ends: the end of a cluster cut in a fold.
size_t extendersEnd(std::u16string_view text, size_t at) {
    size_t width = 0;
    while (at < text.size() && isExtender(characterAt(text, at, width))) {
        at += width;
    }
    return at;
}

// One side of the platform's non-literal comparison. Both texts are read in step one UTF-16
// unit at a time while they agree, and a character is folded only where they differ: so a
// surrogate pair whose lead unit the other side shares is never folded, and a match may start
// anywhere, even on a mark or between the halves of a pair.
class Reader {
  public:
    Reader(std::u16string_view text, size_t at) : text_(text), at_(at) {}

    size_t position() const { return at_; }
    bool atEnd() const { return at_ >= text_.size(); }
    bool folding() const { return !fold_.characters.empty(); }

    // The next unit, or the next character of the fold being read.
    char32_t take() {
        if (folding()) {
            return fold_.characters[next_++];
        }
        width_ = 1;
        return text_[at_];
    }

    // Where the units differ, a whole pair is one character.
    char32_t widen(char32_t taken) { return folding() ? taken : characterAt(text_, at_, width_); }

    // Folds the character here; false when it stands for itself. After a fold the platform had
    // to cut, the rest of that cluster is read unit by unit, unfolded.
    bool fold() {
        if (unfoldedUntil_ != 0 && at_ != unfoldedUntil_) {
            return false;
        }
        unfoldedUntil_ = 0;
        fold_ = foldAt(text_, at_);
        next_ = 1;
        return folding();
    }

    char32_t first() const { return fold_.characters.front(); }
    bool foldLeft() const { return next_ < fold_.characters.size(); }
    char32_t peek() const { return fold_.characters[next_]; }
    void skip() { ++next_; }

    // Past what was compared; a fold is left only once all of it has been.
    void advance() {
        if (!folding()) {
            at_ += width_;
        } else if (!foldLeft()) {
            at_ += fold_.used;
            if (fold_.cut) {
                unfoldedUntil_ = extendersEnd(text_, at_);
            }
            fold_ = {};
        }
    }

  private:
    std::u16string_view text_;
    size_t at_;
    size_t width_ = 1;  // units of what take() or widen() read last
    Fold fold_;
    size_t next_ = 0;           // the fold's character that take() gives next
    size_t unfoldedUntil_ = 0;  // where folding may start again; 0: anywhere
};

int order(char32_t x, char32_t y) {
    return x < y ? -1 : 1;
}

// One step of the comparison: 0 when the sides agree so far, else their order. `a` is the text
// searched (or the first of two compared), `b` the wanted text (or the second): the platform
// folds a side's character first, and b's only when a's fold does not already agree.
int step(Reader& a, Reader& b) {
    char32_t x = a.take();
    char32_t y = b.take();
    if (x != y) {
        if (x < 0x80 && y < 0x80) {
            return order(x, y);  // ASCII never folds
        }
        x = a.widen(x);
        y = b.widen(y);
        const bool bWasFolding = b.folding();
        if (!a.folding() && a.fold()) {
            x = a.first();
        }
        // A fold must start with what the other side has here, even inside a fold of its own.
        if (x != y) {
            if (bWasFolding || !b.fold()) {
                return order(x, y);
            }
            y = b.first();
            if (x != y) {
                return order(x, y);
            }
        }
        while (a.folding() && b.folding() && a.foldLeft() && b.foldLeft()) {
            if (a.peek() != b.peek()) {
                return order(a.peek(), b.peek());
            }
            a.skip();
            b.skip();
        }
    }
    a.advance();
    b.advance();
    return 0;
}

int compareNonliteral(std::u16string_view first, std::u16string_view second) {
    Reader a(first, 0);
    Reader b(second, 0);
    while (!a.atEnd() && !b.atEnd()) {
        if (const int found = step(a, b); found != 0) {
            return found;
        }
    }
    return !a.atEnd() ? 1 : !b.atEnd() ? -1 : 0;
}

// Where `wanted` ends when it matches `text` from `from`: not inside a fold of the text. Past
// its end the text reads as U+0000, as on the platform's path for texts that are not both ASCII
// (its buffer gives 0 there): so a wanted text ending in U+0000 may match beyond the text.
std::optional<size_t> matchEnd(std::u16string_view text, size_t from, std::u16string_view wanted) {
    Reader a(text, from);
    Reader b(wanted, 0);
    while (!b.atEnd()) {
        if (a.atEnd()) {
            if (b.folding()) {
                return std::nullopt;
            }
            const auto rest = wanted.substr(b.position());
            if (rest.find_first_not_of(u'\0') != std::u16string_view::npos) {
                return std::nullopt;
            }
            return text.size() + rest.size();
        }
        if (step(a, b) != 0) {
            return std::nullopt;
        }
    }
    if (a.folding()) {
        return std::nullopt;
    }
    return a.position();
}

bool isAscii(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x80; });
}

bool isLetter(char32_t c) {
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_M_MASK)) != 0;
}

// The platform reads one unit here, so it sees no virama beyond the BMP; it counts the grapheme
// joiner as one.
bool isVirama(char16_t unit) {
    return unit == graphemeJoiner || u_getCombiningClass(unit) == 9;
}

// The platform knows the jamo of the Hangul Jamo block up to U+11F9 and the precomposed
// syllables, not the jamo that Unicode 5.2 added elsewhere.
UHangulSyllableType hangulType(char32_t c) {
    const bool known = (c >= 0x1100 && c <= 0x11F9) || (c >= 0xAC00 && c <= 0xD7A3);
    return known ? static_cast<UHangulSyllableType>(
                       u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_HANGUL_SYLLABLE_TYPE))
                 : U_HST_NOT_APPLICABLE;
}

bool isJamo(char32_t c) {
    const auto type = hangulType(c);
    return type == U_HST_LEADING_JAMO || type == U_HST_VOWEL_JAMO || type == U_HST_TRAILING_JAMO;
}

bool hangulJoins(char32_t before, char32_t next) {
    const auto a = hangulType(before);
    const auto b = hangulType(next);
    switch (a) {
        case U_HST_LEADING_JAMO:
            return b != U_HST_NOT_APPLICABLE && b != U_HST_TRAILING_JAMO;
        case U_HST_VOWEL_JAMO:
            return b == U_HST_VOWEL_JAMO || b == U_HST_TRAILING_JAMO;
        case U_HST_TRAILING_JAMO:
            return b == U_HST_TRAILING_JAMO;
        default:
            return false;
    }
}

// What a cluster takes after a character: extenders, and Apple's private variant tags.
bool clusterMark(char32_t c) {
    return isExtender(c) || (c >= 0xF870 && c <= 0xF87F);
}

// The first unit of the composed character that holds the unit at `at`.
size_t baseOf(std::u16string_view text, size_t at) {
    at = characterStart(text, at + 1);
    while (at > 0) {
        if (!clusterMark(characterAt(text, at))) {
            break;
        }
        at = characterStart(text, at);
    }
    return at;
}

bool joinsLetters(std::u16string_view text, size_t base) {
    const char32_t c = characterAt(text, base);
    return c == zeroWidthJoiner || isLetter(c);
}

// Whether a virama (perhaps with a zero width joiner after it) joins the character at `base` to a
// letter before it. The platform reads one unit there, so only a letter of the BMP counts.
bool joinedBack(std::u16string_view text, size_t base) {
    if (base < 2) {
        return false;
    }
    size_t before = base - 1;
    if (text[before] == zeroWidthJoiner) {
        --before;
    }
    return before > 0 && isVirama(text[before]) && isLetter(text[baseOf(text, before - 1)]);
}

// Whether the text before `end` is a pictograph and then only extenders, or, with `anyTail`,
// only what a pictographic cluster takes after it (extenders, joiners, spacing marks).
bool pictographBefore(std::u16string_view text, size_t end, bool anyTail) {
    while (end > 0) {
        const size_t start = characterStart(text, end);
        const auto c = static_cast<UChar32>(characterAt(text, start));
        if (u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC)) {
            return true;
        }
        const bool tail = isExtender(static_cast<char32_t>(c)) ||
                          (anyTail && (c == zeroWidthJoiner ||
                                       u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK) ==
                                           U_GCB_SPACING_MARK));
        if (!tail) {
            return false;
        }
        end = start;
    }
    return false;
}

// Whether the grapheme cluster that holds the unit before `end` goes on past it, as the platform
// cuts clusters: Hangul jamo that combine, letters joined by a virama or a joiner (a conjunct, in
// any script), and a pictographic sequence.
bool clusterGoesOn(std::u16string_view text, size_t end) {
    const char32_t next = characterAt(text, end);
    // Every cluster takes a following zero width joiner.
    if (next == zeroWidthJoiner || clusterMark(next)) {
        return true;
    }
    const char16_t before = text[end - 1];
    if (isJamo(before)) {
        return hangulJoins(before, next);
    }
    const size_t base = baseOf(text, end - 1);
    if (joinsLetters(text, base) && (base < end - 1 || joinedBack(text, base)) && isLetter(next)) {
        return true;
    }
    const auto c = static_cast<UChar32>(next);
    if (before == zeroWidthJoiner && u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC) &&
        pictographBefore(text, end - 1, false)) {
        return true;
    }
    return u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK) == U_GCB_SPACING_MARK &&
           pictographBefore(text, end, true);
}

// Whether a match may end at `end`: never before a grapheme extender, and after a joiner (a
// virama, a joiner, a Hangul jamo) never inside the grapheme cluster.
bool mayEndAt(std::u16string_view text, size_t end) {
    if (end >= text.size()) {
        return true;
    }
    if (isExtender(characterAt(text, end))) {
        return false;
    }
    const char16_t before = text[end - 1];
    const bool joiner = before == zeroWidthJoiner || isVirama(before) || isJamo(before);
    return !joiner || !clusterGoesOn(text, end);
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
    u_strFromUTF8WithSub(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()),
                         0xFFFD, nullptr, &status);
    std::u16string units(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(units.data()), length, nullptr, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        misuse("utf16");
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
    const std::u16string& units = unitsOf(theString, "CFStringFindWithOptions");
    const std::u16string_view haystack = within(units, rangeToSearch, "CFStringFindWithOptions");
    const std::u16string& needle = unitsOf(stringToFind, "CFStringFindWithOptions");
    if (needle.empty() || haystack.empty()) {
        return false;
    }
    // Two ASCII texts take the platform's 8-bit path, where nothing folds, extends or joins.
    const bool ascii = isAscii(units) && isAscii(needle);
    if ((searchOptions & kCFCompareNonliteral) == 0 || ascii) {
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
    // The text before the range is seen (clusters reach back into it), the text after is not.
    const std::u16string_view text = std::u16string_view(units).substr(
        0, static_cast<size_t>(rangeToSearch.location + rangeToSearch.length));
    // A match can start on an ASCII unit only when the wanted text starts with it or its first
    // character folds to it: every other such start is passed over unread.
    const Fold lead = foldAt(needle, 0);
    const char32_t leadCharacter = lead.characters.empty() ? needle[0] : lead.characters[0];
    for (size_t from = static_cast<size_t>(rangeToSearch.location); from < text.size(); ++from) {
        if (text[from] < 0x80 && text[from] != needle[0] && text[from] != leadCharacter) {
            continue;
        }
        const auto end = matchEnd(text, from, needle);
        if (end && mayEndAt(text, *end)) {
            if (result != nullptr) {
                *result = CFRange{static_cast<CFIndex>(from), static_cast<CFIndex>(*end - from)};
            }
            return true;
        }
    }
    return false;
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) {
    requireOptions(compareOptions, "CFStringCompare");
    const std::u16string& first = unitsOf(theString1, "CFStringCompare");
    const std::u16string& second = unitsOf(theString2, "CFStringCompare");
    const bool literal =
        (compareOptions & kCFCompareNonliteral) == 0 || (isAscii(first) && isAscii(second));
    const int order = literal ? first.compare(second) : compareNonliteral(first, second);
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
    // General category Z, U+0009 to U+000D and U+0085, and the zero width space, which the
    // platform still counts as it was a space separator before Unicode 4.0.1.
    const auto category = u_charType(theChar);
    return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR ||
           category == U_PARAGRAPH_SEPARATOR || (theChar >= 0x09 && theChar <= 0x0D) ||
           theChar == 0x85 || theChar == 0x200B;
}

}  // extern "C"
