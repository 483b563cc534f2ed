#include "fieldscan/visible_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "axquery/axquery.h"
#include "platform/standin/standin.h"

namespace {

using nlohmann::json;

json refTo(const std::string& id) {
    return {{"element", id}};
}

json titled(const std::string& title, json children = json::array()) {
    return {{"attributes", {{"AXTitle", title}, {"AXChildren", {{"array", std::move(children)}}}}}};
}

// The lines gathered from `root` of these elements, reached as application 1's focus.
TextBucket gathered(const json& elements, const std::string& root, int depth = 0) {
    const json focus = {{"attributes", {{"AXFocusedUIElement", refTo(root)}}}};
    standin::loadScenario(json{{"applications", {{"1", focus}}}, {"elements", elements}}.dump());
    TextBucket bucket;
    {
        const CFRef<AXUIElementRef> application(AXUIElementCreateApplication(1));
        collectVisibleTexts(focusedElement(application.get()).get(), depth, 120, bucket);
    }
    EXPECT_EQ(standin::liveObjects(), 0);
    return bucket;
}

TEST(AppendIfMeaningful, KeepsTrimmedTextsOnceUnderCanonicalEquivalence) {
    TextBucket bucket;
    for (const auto* text : {u" \t\r\n\u00A0\u2028", u"\n  two  words \u0085", u"two  words",
                             u"caf\u00E9", u"\u3000cafe\u0301", u"Two  Words"}) {
        appendIfMeaningful(text, bucket);
    }
    appendIfMeaningful(std::nullopt, bucket);
    EXPECT_EQ(bucket, (TextBucket{u"two  words", u"caf\u00E9", u"Two  Words"}));
}

TEST(CollectVisibleTexts, StopsAtTheLimitOrTwoPastIt) {
    // Children that bring one line each end the walk at the limit exactly.
    json elements;
    json children = json::array();
    for (int i = 0; i < 130; ++i) {
        elements["c" + std::to_string(i)] = titled("line " + std::to_string(i));
        children.push_back(refTo("c" + std::to_string(i)));
    }
    elements["root"] = titled(" ", children);
    TextBucket bucket = gathered(elements, "root");
    ASSERT_EQ(bucket.size(), 120u);
    EXPECT_EQ(bucket.back(), u"line 119");

    // One entered with 119 lines brings all three of its texts, and its children none.
    elements["c119"]["attributes"]["AXValue"] = "value 119";
    elements["c119"]["attributes"]["AXDescription"] = "description 119";
    elements["c119"]["attributes"]["AXChildren"] = {{"array", {refTo("c120")}}};
    bucket = gathered(elements, "root");
    ASSERT_EQ(bucket.size(), 122u);
    EXPECT_EQ(bucket[119], u"value 119");
    EXPECT_EQ(bucket[121], u"line 119");
}

TEST(CollectVisibleTexts, LooksSevenLevelsDown) {
    json elements;  // e0 -> e1 -> ... -> e8
    for (int i = 0; i <= 8; ++i) {
        elements["e" + std::to_string(i)] =
            titled("t" + std::to_string(i),
                   i < 8 ? json::array({refTo("e" + std::to_string(i + 1))}) : json::array());
    }
    EXPECT_EQ(gathered(elements, "e0"),
              (TextBucket{u"t0", u"t1", u"t2", u"t3", u"t4", u"t5", u"t6"}));
    EXPECT_EQ(gathered(elements, "e0", 5), (TextBucket{u"t0", u"t1"}));
}

TEST(VisibleTextWalks, AListLongerThanTheChildrenLeftIsCutNotDropped) {
    // 100,001 children: the first is still taken, by the web-area search and by the gathering.
    json tooMany = json::array({refTo("first")});
    tooMany.insert(tooMany.end(), VisibleText::childrenPerWalk, refTo("blank"));
    const json first = {{"attributes", {{"AXRole", "AXWebArea"}, {"AXTitle", "first line"}}}};
    const json elements = {
        {"first", first}, {"blank", titled(" ")}, {"root", titled(" ", tooMany)}};
    EXPECT_EQ(gathered(elements, "root"), TextBucket{u"first line"});
    const CFRef<AXUIElementRef> application(AXUIElementCreateApplication(1));
    const auto found = findWebArea(focusedElement(application.get()).get());
    ASSERT_TRUE(found);
    EXPECT_EQ(role(found.get()), u"AXWebArea");
}

}  // namespace
