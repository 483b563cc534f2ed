#include "keypost/key_code_lookup.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/standin/standin.h"

namespace {

constexpr uint16_t fallback = 200;  // no key code of the search, so never mistaken for a match

// What the tools never ask for: other letters, capitals asked for, texts longer than one unit,
// and the bounds of the search.
TEST(KeyCodeForCharacter, ComparesWholeFullyLowercasedTextsOverCodesZeroTo127) {
    struct Case {
        const char* name;
        const char* layout;
        std::u16string wanted;
        uint16_t expected;
    };
    const Case cases[] = {
        {"a capital asked for", R"({"3": "q"})", u"Q", 3},
        {"a capital outside ASCII typed", R"({"3": "\u00c9"})", u"\u00e9", 3},
        {"full mapping of both sides: \u0130 is i and a combining dot", R"({"3": "\u0130"})",
         u"i\u0307", 3},
        {"not the simple mapping: i alone does not match", R"({"3": "\u0130"})", u"i", fallback},
        {"a pair of units asked for, compared beyond the first unit",
         R"({"1": "\ud835\udc01", "2": "\ud835\udc00"})", u"\U0001d400", 2},
        {"the longest text a key can type", R"({"6": "abcd"})", u"ABCD", 6},
        {"key code 127 is searched", R"({"127": "z"})", u"z", 127},
        {"nothing asked for matches no key, not even one typing nothing", R"({"5": "x"})", u"",
         fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        standin::loadScenario(std::string(R"({"inputSource": {"layout": )") + c.layout + "}}");
        const long before = standin::liveObjects();
        EXPECT_EQ(keyCodeForCharacter(c.wanted, fallback), c.expected);
        EXPECT_EQ(standin::liveObjects(), before) << "a leak";
    }
}

}  // namespace
