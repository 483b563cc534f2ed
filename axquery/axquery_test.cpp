#include "axquery/axquery.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/cf_cast.h"
#include "platform/cf_string.h"
#include "platform/standin/standin.h"

namespace {

// One element, "e", answering with every value form; "other" and "app:7" exist to be pointed at.
constexpr const char* scenario = R"({
  "frontmostApplication": {"pid": 7, "bundleIdentifier": null},
  "applications": {"7": {"attributes": {"AXFocusedUIElement": {"element": "other"}}}},
  "elements": {
    "other": {"attributes": {"AXRole": "AXButton"}},
    "e": {
      "attributes": {
        "AXRole": "AXTextField", "AXTitle": "", "AXValue": "caf\u00e9 /",
        "AXNumber": 1, "AXZero": 0, "AXTwo": 2, "AXHalf": 0.5, "AXTrue": true, "AXFalse": false,
        "AXWord": "true", "AXRich": {"attributedString": "x"}, "AXNull": null,
        "AXNoValue": {"error": -25212}, "AXRange": {"range": [1, 2]},
        "AXOne": {"element": "other"},
        "AXMixed": {"array": [{"element": "other"}, "text", {"element": "app:7"}, 3]},
        "AXEmpty": {"array": []}
      },
      "settable": {"AXValue": true, "AXTitle": false, "AXRange": {"error": -25204}}
    }
  }
})";

class AxqueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::loadScenario(scenario);
        baseline = standin::liveObjects();
    }
    void TearDown() override { EXPECT_EQ(standin::liveObjects(), baseline) << "a leak"; }

    // An element handle for an id, as a copy read would hand it over.
    CFRef<AXUIElementRef> element(const char* attribute = "AXOne") {
        return copyAttributeElement(e.get(), attribute);
    }

    CFRef<AXUIElementRef> e = focusOf("e");
    long baseline = 0;

  private:
    static CFRef<AXUIElementRef> focusOf(const std::string& id) {
        standin::loadScenario(std::string(scenario).insert(1, R"("systemWide": {"attributes":
            {"AXFocusedUIElement": {"element": ")" + id + R"("}}},)"));
        return focusedElement();
    }
};

TEST_F(AxqueryTest, StringsAreOnlyStrings) {
    ASSERT_TRUE(e);
    EXPECT_EQ(copyAttributeString(e.get(), "AXValue"), u"caf\u00e9 /");
    EXPECT_EQ(copyAttributeString(e.get(), "AXTitle"), u"");  // empty, but present
    for (const char* other : {"AXNumber", "AXRich", "AXNull", "AXNoValue", "AXMissing", "AXOne",
                              "AXMixed", "AXTrue", "AXRange"}) {
        EXPECT_EQ(copyAttributeString(e.get(), other), std::nullopt) << other;
    }
    EXPECT_EQ(role(e.get()), u"AXTextField");
    EXPECT_EQ(subrole(e.get()), u"");
}

TEST_F(AxqueryTest, BooleansFromBooleansAndFromNumbersZeroAndOne) {
    EXPECT_EQ(copyAttributeBool(e.get(), "AXTrue"), true);
    EXPECT_EQ(copyAttributeBool(e.get(), "AXFalse"), false);
    EXPECT_EQ(copyAttributeBool(e.get(), "AXNumber"), true);
    EXPECT_EQ(copyAttributeBool(e.get(), "AXZero"), false);
    for (const char* other : {"AXTwo", "AXHalf", "AXWord", "AXNull", "AXNoValue", "AXMissing"}) {
        EXPECT_EQ(copyAttributeBool(e.get(), other), std::nullopt) << other;
    }
}

TEST_F(AxqueryTest, SingleElementAgainstAListInBothForms) {
    const auto one = element();
    ASSERT_TRUE(one);
    EXPECT_EQ(role(one.get()), u"AXButton");
    EXPECT_FALSE(copyAttributeElement(e.get(), "AXMixed"));
    EXPECT_FALSE(copyAttributeElement(e.get(), "AXValue"));

    // targetprobe's form: a single element is a list of one; a list keeps every entry in place.
    const auto single = copyAttributeElementsKeepingEveryEntry(e.get(), "AXOne");
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(role(cfCast<AXUIElementRef>(single[0].get())), u"AXButton");
    const auto kept = copyAttributeElementsKeepingEveryEntry(e.get(), "AXMixed");
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_TRUE(cfCast<AXUIElementRef>(kept[0].get()));
    EXPECT_EQ(toUtf8(cfCast<CFStringRef>(kept[1].get())), "text");
    EXPECT_TRUE(cfCast<AXUIElementRef>(kept[2].get()));
    EXPECT_FALSE(cfCast<AXUIElementRef>(kept[3].get()));
    EXPECT_EQ(copyAttributeElementsKeepingEveryEntry(e.get(), "AXMixed", 2).size(), 2u);
    EXPECT_TRUE(copyAttributeElementsKeepingEveryEntry(e.get(), "AXOne", 0).empty());

    // fieldscan's form: elements of a list only; a single element is no list.
    EXPECT_TRUE(copyAttributeElementsOnly(e.get(), "AXOne").empty());
    const auto only = copyAttributeElementsOnly(e.get(), "AXMixed");
    ASSERT_EQ(only.size(), 2u);
    EXPECT_EQ(role(only[0].get()), u"AXButton");

    for (const char* nothing : {"AXEmpty", "AXValue", "AXNull", "AXNoValue", "AXMissing"}) {
        EXPECT_TRUE(copyAttributeElementsKeepingEveryEntry(e.get(), nothing).empty()) << nothing;
        EXPECT_TRUE(copyAttributeElementsOnly(e.get(), nothing).empty()) << nothing;
    }
}

TEST_F(AxqueryTest, SettableAndPresentAttributes) {
    EXPECT_TRUE(isAttributeSettable(e.get(), "AXValue"));
    EXPECT_FALSE(isAttributeSettable(e.get(), "AXTitle"));
    EXPECT_FALSE(isAttributeSettable(e.get(), "AXRange"));    // an error status
    EXPECT_FALSE(isAttributeSettable(e.get(), "AXNumber"));   // listed, not settable
    EXPECT_FALSE(isAttributeSettable(e.get(), "AXMissing"));  // unsupported

    // Success is what counts, not the value: a number or a null value is there, no value is not.
    EXPECT_TRUE(hasAttribute(e.get(), "AXNumber"));
    EXPECT_TRUE(hasAttribute(e.get(), "AXNull"));
    EXPECT_FALSE(hasAttribute(e.get(), "AXNoValue"));
    EXPECT_FALSE(hasAttribute(e.get(), "AXMissing"));
}

TEST_F(AxqueryTest, EveryReadIsOneRequest) {
    const auto requestsOf = [](auto read) {
        const long before = standin::accessibilityRequests();
        read();
        return standin::accessibilityRequests() - before;
    };
    EXPECT_EQ(requestsOf([&] { (void)copyAttributeString(e.get(), "AXValue"); }), 1);
    EXPECT_EQ(requestsOf([&] { (void)copyAttributeBool(e.get(), "AXZero"); }), 1);
    EXPECT_EQ(requestsOf([&] { (void)copyAttributeElementsOnly(e.get(), "AXMixed"); }), 1);
    EXPECT_EQ(requestsOf([&] { (void)isAttributeSettable(e.get(), "AXValue"); }), 1);
    EXPECT_EQ(requestsOf([&] { (void)hasAttribute(e.get(), "AXNull"); }), 1);
    // Even when nothing of the answer can be kept, the question is asked once.
    EXPECT_EQ(
        requestsOf([&] { (void)copyAttributeElementsKeepingEveryEntry(e.get(), "AXOne", 0); }), 1);
}

TEST_F(AxqueryTest, AnythingButAnElementFailsEveryRead) {
    const auto kept = copyAttributeElementsKeepingEveryEntry(e.get(), "AXMixed");
    const auto notAnElement = reinterpret_cast<AXUIElementRef>(kept[1].get());
    EXPECT_EQ(copyAttributeString(notAnElement, "AXRole"), std::nullopt);
    EXPECT_EQ(copyAttributeBool(notAnElement, "AXTrue"), std::nullopt);
    EXPECT_FALSE(hasAttribute(notAnElement, "AXRole"));
    EXPECT_FALSE(isAttributeSettable(notAnElement, "AXValue"));
}

TEST(AxqueryFocus, SystemWideFirstThenTheFrontmostApplication) {
    const long baseline = standin::liveObjects();
    const auto roleOfFocus = [](const std::string& scenarioText) {
        standin::loadScenario(scenarioText);
        const auto focused = focusedElement();
        return focused ? role(focused.get()) : u"(none)";
    };
    const std::string elements =
        R"("elements": {"a": {"attributes": {"AXRole": "A"}}, "b": {"attributes": {"AXRole": "B"}}})";
    const std::string front = R"("frontmostApplication": {"pid": 3, "bundleIdentifier": "x"},
        "applications": {"3": {"attributes": {"AXFocusedUIElement": {"element": "b"}}}}, )";
    EXPECT_EQ(
        roleOfFocus("{" + front +
                    R"("systemWide": {"attributes": {"AXFocusedUIElement": {"element": "a"}}},)" +
                    elements + "}"),
        u"A");
    // An answer that is not an element counts as none: the application in front is asked.
    EXPECT_EQ(roleOfFocus("{" + front +
                          R"("systemWide": {"attributes": {"AXFocusedUIElement":
                               {"array": [{"element": "a"}]}}},)" +
                          elements + "}"),
              u"B");
    EXPECT_EQ(roleOfFocus("{" + elements + "}"), u"(none)");
    EXPECT_EQ(roleOfFocus(R"({"frontmostApplication": {"pid": 4, "bundleIdentifier": null}})"),
              u"(none)");
    EXPECT_EQ(standin::liveObjects(), baseline);
}

}  // namespace
