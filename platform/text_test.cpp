#include "platform/text.h"

#include <gtest/gtest.h>

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
    // Not in the set: zero-width space (Cf), other controls, a lone surrogate.
    EXPECT_EQ(trimmed(u"\u200Bx\u0001"), u"\u200Bx\u0001");
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

TEST(PlatformText, AMatchNeverEndsInsideASurrogatePair) {
    const std::u16string highHalf = {0xD83D};
    const std::u16string lowHalfThenB = {0xDE00, u'b'};
    // The same texts with and without a letter that decomposes: both ways of searching agree.
    for (const std::u16string tail : {u"", u" caf\u00E9"}) {
        SCOPED_TRACE(tail.size());
        EXPECT_FALSE(findCanonicallyEquivalent(u"a\U0001F600b" + tail, lowHalfThenB));
        EXPECT_FALSE(findCanonicallyEquivalent(u"a\U0001F600b" + tail, highHalf));
        // A lone half is a character of its own.
        const auto lone = findCanonicallyEquivalent(u"a" + highHalf + u"b" + tail, highHalf);
        ASSERT_TRUE(lone);
        EXPECT_EQ(lone->location, 1u);
        EXPECT_EQ(lone->length, 1u);
    }
}

TEST(PlatformText, EqualityUnderCanonicalEquivalence) {
    EXPECT_TRUE(canonicallyEqual(u"\u00C5ngstr\u00F6m", u"A\u030Angstro\u0308m"));
    EXPECT_TRUE(canonicallyEqual(u"\u212B", u"\u00C5"));  // the Angstrom sign decomposes to A-ring
    EXPECT_FALSE(canonicallyEqual(u"\uFB01", u"fi"));     // compatibility only, not canonical
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
