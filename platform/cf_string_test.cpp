#include "platform/cf_string.h"

#include <gtest/gtest.h>

namespace {

CFRef<CFStringRef> fromUnits(const std::u16string& units) {
    return CFRef<CFStringRef>(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units.data()),
        static_cast<CFIndex>(units.size())));
}

TEST(PlatformStrings, RoundTripsEveryPlane) {
    const std::string text = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 /\\\"";
    const auto string = makeCFString(text);
    ASSERT_TRUE(string);
    EXPECT_EQ(toUtf8(string.get()), text);
    EXPECT_EQ(toUtf16(string.get()), u"caf\u00e9 \u20ac \U0001F600 /\\\"");
    EXPECT_EQ(utf8ToUtf16(text), u"caf\u00e9 \u20ac \U0001F600 /\\\"");
    EXPECT_EQ(toUtf8(makeCFString("").get()), "");
    EXPECT_EQ(toUtf8(nullptr), "");
    EXPECT_TRUE(toUtf16(nullptr).empty());
}

TEST(PlatformStrings, LoneSurrogatesBecomeReplacementCharacters) {
    const std::string replacement = "\xef\xbf\xbd";
    EXPECT_EQ(utf16ToUtf8(u"a\xD83D"), "a" + replacement);
    EXPECT_EQ(utf16ToUtf8(u"\xDE00z"), replacement + "z");
    EXPECT_EQ(utf16ToUtf8(u"\xD83D\xD83D\xDE00"), replacement + "\xf0\x9f\x98\x80");
    EXPECT_EQ(toUtf8(fromUnits(u"x\xDC00y").get()), "x" + replacement + "y");
}

TEST(PlatformStrings, LongTextKeepsPairsWhole) {
    // A pair straddling the conversion's internal piece boundary must stay one character.
    std::u16string units((size_t{1} << 20) - 1, u'a');
    units += u"\U0001F600";
    units += std::u16string(5, u'b');
    const std::string utf8 = utf16ToUtf8(units);
    EXPECT_EQ(utf8.size(), ((size_t{1} << 20) - 1) + 4 + 5);
    EXPECT_EQ(utf8.substr((size_t{1} << 20) - 1, 4), "\xf0\x9f\x98\x80");
}

TEST(PlatformStrings, MalformedUtf8MakesNoString) {
    for (const std::string bad :
         {"\xff", "a\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"}) {
        EXPECT_FALSE(makeCFString(bad)) << bad.size();
        EXPECT_TRUE(utf8ToUtf16(bad).empty()) << bad.size();
    }
}

}  // namespace
