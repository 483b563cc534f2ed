#include "platform/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "platform/cf_string.h"
#include "platform/standin/standin.h"

namespace {

TEST(PlatformText, LowercasesByTheFullMappingWithoutLanguageRules) {
    EXPECT_EQ(lowercased(u"COMMAND Fn"), u"command fn");
    EXPECT_EQ(lowercased(u"\u00C9T\u00C9"), u"\u00E9t\u00E9");
    // Full mapping: one capital can become two units; no Turkish dotless i without a locale.
    EXPECT_EQ(lowercased(u"\u0130I"), u"i\u0307i");
    EXPECT_EQ(lowercased(u"\u03A3\U00010400"), u"\u03C3\U00010428");
    EXPECT_EQ(lowercased(u"\u00CC"), u"\u00EC");  // no Lithuanian dot above either
    EXPECT_EQ(lowercased(u""), u"");
}

TEST(PlatformText, TrimsWhiteSpaceAndNewlinesAtBothEndsOnly) {
    EXPECT_EQ(trimmed(u" \t\n\v\f\r\u0085\u00A0\u2028\u2029\u3000 a \n b\u2003 "), u"a \n b");
    EXPECT_EQ(trimmed(u"\u0085\u2028"), u"");
    EXPECT_EQ(trimmed(u""), u"");
    // The platform counts the zero width space, a space separator before Unicode 4.0.1; not
    // other controls or format characters, nor a lone surrogate.
    EXPECT_EQ(trimmed(u"\u200Bx\u0001\u200C\u200B"), u"x\u0001\u200C");
    EXPECT_EQ(trimmed(u"\xD800 "), u"\xD800");
}

TEST(PlatformText, FindsTheFirstOccurrenceUnderCanonicalEquivalence) {
    const auto span = [](std::u16string_view text, std::u16string_view wanted) {
        const auto found = findCanonicallyEquivalent(text, wanted);
        return found ? std::make_pair(found->location, found->length)
                     : std::make_pair(size_t{99}, size_t{99});
    };
    EXPECT_EQ(span(u"one two one", u"one"), std::make_pair(size_t{0}, size_t{3}));
    EXPECT_EQ(span(u"a one two one", u"one"), std::make_pair(size_t{2}, size_t{3}));
    // Precomposed in the text, decomposed in the wanted text, and the other way round: the span
    // is in the text's own units.
    EXPECT_EQ(span(u"caf\u00E9!", u"cafe\u0301"), std::make_pair(size_t{0}, size_t{4}));
    EXPECT_EQ(span(u"x cafe\u0301!", u"caf\u00E9"), std::make_pair(size_t{2}, size_t{5}));
    // Combining marks in another order are the same text.
    EXPECT_EQ(span(u"q\u0323\u0307", u"q\u0307\u0323"), std::make_pair(size_t{0}, size_t{3}));
    // A base letter does not match the start of a letter that carries a mark.
    EXPECT_EQ(span(u"e\u0301 e", u"e"), std::make_pair(size_t{3}, size_t{1}));
    EXPECT_EQ(span(u"\U0001F600x", u"x"), std::make_pair(size_t{2}, size_t{1}));
    // The first candidate ends inside a letter; the next one overlaps it and is the answer.
    EXPECT_EQ(span(u"\u00E1\u00E1a", u"\u00E1a"), std::make_pair(size_t{1}, size_t{2}));
    EXPECT_FALSE(findCanonicallyEquivalent(u"Hello", u"hello"));
    EXPECT_FALSE(findCanonicallyEquivalent(u"Hello", u""));
    EXPECT_FALSE(findCanonicallyEquivalent(u"", u"a"));
}

TEST(PlatformText, FindsWhereThePlatformDoes) {
    // CoreFoundation's answers (its open source, asked the same): close to canonical equivalence,
    // but read unit by unit, and bounded by its grapheme clusters.
    const struct {
        std::u16string text;
        std::u16string wanted;
        std::optional<std::pair<size_t, size_t>> span;
    } rows[] = {
        // A match may start on a mark, or between the halves of a pair.
        {u"e\u0301z", u"\u0301z", {{1, 2}}},
        {u"a\U0001F600b", {0xD83D}, {{1, 1}}},
        {u"a\U0001F600b", {0xDE00, u'b'}, {{2, 2}}},
        // Equal lead surrogates are matched as units, and a trail alone never decomposes.
        {u"a\U0001109Ab", u"\U00011099\U000110BA", std::nullopt},
        // The marks after a character go in class order, a class 0 one first.
        {u"\u0E01\u0E48\u0E35", u"\u0E01\u0E35\u0E48", {{0, 3}}},
        // Never before a grapheme extender: a variation selector, a skin tone, a vowel sign.
        {u"<\u2764\uFE0F>", u"\u2764", std::nullopt},
        {u"\U0001F44D\U0001F3FD", u"\U0001F44D", std::nullopt},
        {u"[\u0E17\u0E35]", u"\u0E17", std::nullopt},
        // After a joiner never inside its cluster: Hangul jamo, a conjunct, an emoji sequence.
        {u"\u1100\u1161\u11A8", u"\uAC00", std::nullopt},
        {u"\u11A8\u11A8", u"\u11A8", {{1, 1}}},
        {u"[\u0915\u094D\u0937]", u"\u0915\u094D", std::nullopt},
        {u"\U0001F468\u200D\U0001F469", u"\U0001F468\u200D", std::nullopt},
        {u"a\u200Db", u"a\u200D", {{0, 2}}},
        {u"\U0001F600\u200D\u0903", u"\U0001F600\u200D", std::nullopt},
        {u"\u0915\u094D\u200D\u200D\u0937", u"\u0915\u094D\u200D\u200D", std::nullopt},
        {u"a\u034Fb", u"a\u034F", std::nullopt},
        {u"?\u034Fb", u"?\u034F", {{0, 2}}},
        {u"\u1100\uAC00", u"\u1100", std::nullopt},
        {u"\u11FA\u11FA", u"\u11FA", {{0, 1}}},      // a jamo of Unicode 5.2: not known to join
        {u"\u1100\uF870", u"\u1100", std::nullopt},  // a cluster takes Apple's variant tags
        // Past the end of a text that is not ASCII the platform reads U+0000, and finds this at
        // [0, 2]: beyond the text, so no occurrence.
        {u"\u00E9", std::u16string(u"\u00E9\0", 2), std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        const auto found = findCanonicallyEquivalent(row.text, row.wanted);
        EXPECT_EQ(
            found ? std::optional(std::make_pair(found->location, found->length)) : std::nullopt,
            row.span);
    }
}

TEST(PlatformText, EqualityUnderCanonicalEquivalence) {
    EXPECT_TRUE(canonicallyEqual(u"\u00C5ngstr\u00F6m", u"A\u030Angstro\u0308m"));
    EXPECT_TRUE(canonicallyEqual(u"\u212B", u"\u00C5"));  // the Angstrom sign decomposes to A-ring
    EXPECT_FALSE(canonicallyEqual(u"\uFB01", u"fi"));     // compatibility only, not canonical
    // Read unit by unit: a character above U+FFFF sharing its lead surrogate with its
    // decomposition is not folded.
    EXPECT_FALSE(canonicallyEqual(u"\U0001D15E", u"\U0001D157\U0001D165"));
    EXPECT_TRUE(canonicallyEqual(u"\U0002F800", u"\u4E3D"));
    // The platform folds 64 characters of a cluster at most, and reads the rest as it stands.
    const std::u16string marks(64, u'\u0301');
    EXPECT_FALSE(canonicallyEqual(u"a" + marks + u"\u0323", u"a\u0323" + marks));
    EXPECT_TRUE(canonicallyEqual(u"a" + marks.substr(1) + u"\u0323", u"a\u0323" + marks.substr(1)));
    EXPECT_FALSE(canonicallyEqual(u"Abc", u"abc"));
    EXPECT_FALSE(canonicallyEqual(u"abc", u"abc "));
}

TEST(PlatformText, ReleasesEveryObjectItMakes) {
    const long before = standin::liveObjects();
    (void)lowercased(u"\u00C9");
    (void)trimmed(u" a ");
    (void)findCanonicallyEquivalent(u"caf\u00E9", u"e\u0301");
    (void)canonicallyEqual(u"a", u"b");
    (void)utf16ToUtf8(u"a\xD800");
    (void)utf8ToUtf16("\xc3\xa9");
    EXPECT_EQ(standin::liveObjects(), before);
}

}  // namespace
