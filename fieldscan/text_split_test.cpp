#include "fieldscan/text_split.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Expected {
    std::u16string before;
    std::u16string after;
    int64_t cursor;
};

void expectSplit(const TextSplit& split, const Expected& expected) {
    EXPECT_EQ(split.before, expected.before);
    EXPECT_EQ(split.after, expected.after);
    EXPECT_EQ(split.cursorPosition, expected.cursor);
}

TEST(SplitAroundRange, CutsAtClampedUtf16Offsets) {
    const std::u16string text = u"hello world";
    const std::u16string pair = u"a\U0001F600b";  // a, two halves, b
    const std::u16string lowHalfThenB = {0xDE00, u'b'};
    const struct {
        const std::u16string& text;
        SelectionRange range;
        Expected expected;
    } cases[] = {
        {text, {5, 0}, {u"hello", u" world", 5}},
        {text, {6, 5}, {u"hello ", u"", 6}},
        {text, {0, 11}, {u"", u"", 0}},
        {text, {40, 3}, {text, u"", 11}},
        {text, {3, INT64_MAX}, {u"hel", u"", 3}},
        {pair, {3, 0}, {u"a\U0001F600", u"b", 3}},
        // Inside a pair the halves stay where they fall; the encoder repairs them.
        {pair, {2, 0}, {u"a\xD83D", lowHalfThenB, 2}},
        {pair, {0, 2}, {u"", lowHalfThenB, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        expectSplit(splitAroundRange(c.text, c.range), c.expected);
    }
}

TEST(SplitAroundSelection, CutsAroundTheFirstOccurrenceOfTheTrimmedSelection) {
    const struct {
        std::u16string fullText;
        std::u16string selected;
        Expected expected;
    } cases[] = {
        {u"one two one", u"one", {u"", u" two one", 0}},
        {u"say  a b  now", u" \n\ta b\u00A0\u2028", {u"say  ", u"  now", 5}},
        {u"xyz", u"\u0085y\u3000", {u"x", u"z", 1}},
        {u"\U0001F600 hi", u"hi", {u"\U0001F600 ", u"", 3}},
        {u"un caf\u00E9 noir", u"cafe\u0301", {u"un ", u" noir", 3}},
        {u"cafe\u0301!", u"caf\u00E9", {u"", u"!", 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const auto split = splitAroundSelection(c.fullText, c.selected);
        ASSERT_TRUE(split.has_value());
        expectSplit(*split, c.expected);
    }
    for (const auto* blankOrMissing : {u"", u" \r\n\u2029\u00A0", u"other", u"Some"}) {
        EXPECT_FALSE(splitAroundSelection(u"some text", blankOrMissing));
    }
}

}  // namespace
