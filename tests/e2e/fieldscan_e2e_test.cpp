// fieldscan as a process: the snapshot it prints for ordinary fields and browser pages, the
// requests it makes as the stand-in log shows them, and pages that no browser should report.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;
using Requests = std::vector<std::string>;

const std::string emptySnapshot =
    R"({"visibleText":"","beforeText":"","afterText":"","selectedText":"","cursorPosition":-1,)"
    R"("hasTextSelected":false,"fullFieldContent":"","role":"","subrole":"","editable":false})";
const std::string safari = "com.apple.Safari";
// fieldscan's allowance of elements entered per walk of the accessibility tree.
constexpr size_t childrenPerWalk = 100000;
constexpr size_t elementsPerWalk = 10000;
// Every run whose system-wide element names no focus starts so; then come the requests for
// the visible text.
const Requests opening = {"trusted",   "create systemWide", "systemWide AXFocusedUIElement",
                          "frontmost", "create 501",        "app:501 AXFocusedUIElement"};

json refTo(const std::string& id) {
    return {{"element", id}};
}

json list(const std::vector<json>& entries) {
    return {{"array", entries}};
}

json element(const std::string& role, json attributes = json::object(), json settable = nullptr) {
    attributes["AXRole"] = role;
    json made = {{"attributes", std::move(attributes)}};
    if (!settable.is_null()) {
        made["settable"] = std::move(settable);
    }
    return made;
}

json range(int64_t location, int64_t length) {
    return {{"range", {location, length}}};
}

// Permission held; application 501 in front, its focus on "field" and its window "window".
json frontApplication(json elements, const std::string& bundle = "com.example.editor") {
    if (!elements.contains("window")) {
        elements["window"] = element("AXWindow");
    }
    const json application = {
        {"attributes",
         {{"AXFocusedUIElement", refTo("field")}, {"AXFocusedWindow", refTo("window")}}}};
    return {{"trusted", true},
            {"frontmostApplication", {{"pid", 501}, {"bundleIdentifier", bundle}}},
            {"applications", {{"501", application}}},
            {"elements", std::move(elements)}};
}

// A Safari window: a toolbar, then two levels down the page's web area, which has no value of
// its own: a heading whose value is a number, a paragraph with a link below it, and a text
// said twice. A second web area after the first is never looked at; entries of a children list
// that are not elements are dropped, and so is a single child not given as a list.
json browserWindow(json field) {
    return frontApplication(
        {{"field", std::move(field)},
         {"window",
          element("AXWindow", {{"AXChildren", list({refTo("toolbar"), "tab", 7, refTo("content"),
                                                    refTo("other")})}})},
         {"other", element("AXWebArea", {{"AXValue", "another page"}})},
         {"toolbar", element("AXToolbar", {{"AXChildren", list({refTo("button")})}})},
         {"button", element("AXButton")},
         {"content", element("AXGroup", {{"AXChildren", list({refTo("page")})}})},
         {"page", element("AXWebArea", {{"AXChildren", list({refTo("heading"), refTo("para")})}})},
         {"heading",
          element("AXHeading",
                  {{"AXValue", 3}, {"AXTitle", "Intro"}, {"AXChildren", refTo("link")}})},
         {"para", element("AXGroup", {{"AXValue", " hello world\n"},
                                      {"AXChildren", list({"hello", refTo("link"), true})}})},
         {"link", element("AXLink", {{"AXDescription", "hello world"}, {"AXTitle", "Outro"}})}},
        safari);
}

// The empty snapshot with the given members changed.
json snapshotWith(const std::string& changes) {
    json expected = json::parse(emptySnapshot);
    expected.update(json::parse(changes));
    return expected;
}

struct Outcome {
    ProcessResult result;
    std::vector<json> log;
    json snapshot{};  // the output parsed; discarded when it is not JSON

    // Every request in order: "trusted", "frontmost", "create PID", "create systemWide",
    // "pid ELEMENT" (whose element it is), "running PID" (the application with that id),
    // "ELEMENT ATTRIBUTE" for a read and "ELEMENT settable ATTRIBUTE" for a settable test.
    Requests requests() const {
        Requests made;
        for (const auto& r : log) {
            const auto op = r.at("op").get<std::string>();
            if (op == "AXIsProcessTrusted") {
                made.push_back("trusted");
            } else if (op == "frontmostApplication") {
                made.push_back("frontmost");
            } else if (op == "AXUIElementCreateApplication") {
                made.push_back("create " + r.at("pid").dump());
            } else if (op == "AXUIElementCreateSystemWide") {
                made.push_back("create systemWide");
            } else if (op == "AXUIElementGetPid") {
                made.push_back("pid " + r.at("element").get<std::string>());
            } else if (op == "runningApplication") {
                made.push_back("running " + r.at("pid").dump());
            } else if (op != "exit") {
                const json& asked = r.at("element");  // null: asked of something not an element
                made.push_back((asked.is_string() ? asked.get<std::string>() : asked.dump()) +
                               (op == "AXUIElementIsAttributeSettable" ? " settable " : " ") +
                               r.at("attribute").get<std::string>());
            }
        }
        return made;
    }
    size_t count(const std::string& request) const {
        const Requests made = requests();
        return static_cast<size_t>(std::count(made.begin(), made.end(), request));
    }
};

Requests joined(Requests first, const Requests& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class FieldscanProcess : public ::testing::Test {
  protected:
    // What every run must show: status 0, nothing on standard error, one JSON object with no
    // line feed after it, and nothing left alive; within `seconds`, or the child is killed.
    Outcome run(const json& scenario, std::vector<std::string> arguments = {},
                double seconds = 30) {
        std::remove(dir.path("log.jsonl").c_str());
        arguments.insert(arguments.begin(), FIELDSCAN_PATH);
        const ProcessOptions options{
            .arguments = arguments,
            .environment = {{"STANDIN_SCENARIO", dir.write("scenario.json", scenario.dump())},
                            {"STANDIN_LOG", dir.path("log.jsonl")}},
        };
        Outcome r{runProcess(options, "", seconds), {}};
        r.log = readLog(dir.path("log.jsonl"));
        r.snapshot = json::parse(r.result.out, nullptr, false);
        EXPECT_FALSE(r.result.timedOut);
        EXPECT_EQ(r.result.exitStatus, 0);
        EXPECT_EQ(r.result.err, "");
        EXPECT_TRUE(r.snapshot.is_object()) << r.result.out.substr(0, 200);
        EXPECT_TRUE(!r.result.out.empty() && r.result.out.back() == '}');
        const auto exits = recordsOf(r.log, "exit");
        EXPECT_EQ(exits.size(), 1u);
        if (exits.size() == 1) {
            EXPECT_EQ(exits[0].at("liveObjects"), 0);
        }
        // The focused field's own attributes are read once at most, walks included.
        for (const char* own :
             {"AXRole", "AXSubrole", "AXSelectedText", "AXValue", "AXSelectedTextRange"}) {
            EXPECT_LE(r.count(std::string("field ") + own), 1u) << own;
        }
        return r;
    }

    ScratchDir dir;
};

TEST_F(FieldscanProcess, EmptySnapshotWhenNoFocusedElementIsReached) {
    json untrusted = frontApplication({{"field", element("AXTextField", {{"AXValue", "x"}})}});
    untrusted["trusted"] = false;
    json noApplication = untrusted;
    noApplication["trusted"] = true;
    noApplication["frontmostApplication"] = nullptr;
    json noFocus = noApplication;
    noFocus["frontmostApplication"] = {{"pid", 502}, {"bundleIdentifier", safari}};
    json listedFocus = frontApplication({{"field", element("AXTextField")}});
    listedFocus["applications"]["501"]["attributes"]["AXFocusedUIElement"] = list({refTo("field")});
    struct Case {
        const char* name;
        json scenario;
        Requests requests;
    };
    const Requests systemWideFirst = {"trusted", "create systemWide",
                                      "systemWide AXFocusedUIElement"};
    const Case cases[] = {
        {"without the permission", untrusted, {"trusted"}},
        {"no application in front", noApplication, joined(systemWideFirst, {"frontmost"})},
        {"an application without focus", noFocus,
         joined(systemWideFirst, {"frontmost", "create 502", "app:502 AXFocusedUIElement"})},
        {"a focus answered with a list", listedFocus, opening},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(c.scenario);
        EXPECT_EQ(r.result.out, emptySnapshot);
        EXPECT_EQ(r.requests(), c.requests);
    }
}

TEST_F(FieldscanProcess, OrdinaryFieldRequestsAndOutput) {
    const json caret = frontApplication(
        {{"field",
          element("AXTextField", {{"AXValue", "hello world"}, {"AXSelectedTextRange", range(5, 0)}},
                  {{"AXValue", true}})}});
    const std::string out =
        R"({"visibleText":"hello world","beforeText":"hello","afterText":" world",)"
        R"("selectedText":"","cursorPosition":5,"hasTextSelected":false,)"
        R"("fullFieldContent":"hello world","role":"AXTextField","subrole":"","editable":true})";
    const Outcome r = run(caret);
    EXPECT_EQ(r.result.out, out);
    EXPECT_EQ(r.requests(),
              joined(opening, {"field AXRole", "field AXSubrole", "field AXSelectedText",
                               "field AXValue", "field AXSelectedTextRange", "field AXEditable",
                               "field AXDOMEditable", "field settable AXValue"}));
    EXPECT_EQ(run(caret, {"--help", "AXValue"}).result.out, out);  // arguments change nothing
}

TEST_F(FieldscanProcess, TheFieldWithTheFocusEvenWhenSpotlightIsNotTheFrontmostApplication) {
    // Mail is in front with a draft focused; the system-wide focus is Spotlight's field.
    json scenario =
        frontApplication({{"field", element("AXTextArea", {{"AXValue", "private"}})},
                          {"spotlight", element("AXTextField", {{"AXValue", "weather"}})}});
    scenario["systemWide"] = {{"attributes", {{"AXFocusedUIElement", refTo("spotlight")}}}};
    scenario["elements"]["spotlight"]["pid"] = 777;
    scenario["runningApplications"] = {{"777", {{"bundleIdentifier", "com.apple.Spotlight"}}},
                                       {"601", {{"bundleIdentifier", safari}}}};
    const Outcome spotlight = run(scenario);
    EXPECT_EQ(spotlight.snapshot,
              snapshotWith(R"({"visibleText":"weather","fullFieldContent":"weather",)"
                           R"("role":"AXTextField"})"));
    const Requests opened = {"trusted", "create systemWide", "systemWide AXFocusedUIElement",
                             "pid spotlight"};
    const Requests made = spotlight.requests();
    ASSERT_GE(made.size(), opened.size());
    EXPECT_EQ(Requests(made.begin(), made.begin() + static_cast<long>(opened.size())), opened);
    EXPECT_EQ(spotlight.count("frontmost") + spotlight.count("field AXValue"), 0u);

    // The browser flag is the focused element's application's: a page's window is searched.
    scenario["elements"]["spotlight"]["pid"] = 601;
    EXPECT_EQ(run(scenario).count("app:601 AXFocusedWindow"), 1u);
    // A process id no running application has: not a browser, its application element all the
    // same.
    scenario["elements"]["spotlight"]["pid"] = 888;
    const Outcome unknown = run(scenario);
    EXPECT_EQ(unknown.count("create 888"), 1u);
    EXPECT_EQ(unknown.count("app:888 AXFocusedWindow"), 0u);
    EXPECT_EQ(unknown.snapshot, spotlight.snapshot);
    // An element that names no process is the frontmost application's, which is a running one.
    json unnamed = scenario;
    unnamed["elements"]["spotlight"].erase("pid");
    unnamed["frontmostApplication"]["bundleIdentifier"] = safari;
    EXPECT_EQ(run(unnamed).count("app:501 AXFocusedWindow"), 1u);
    // A focus gone before it could say whose it is: the frontmost application's, as when none
    // is named.
    scenario["elements"]["spotlight"]["gone"] = true;
    EXPECT_EQ(run(scenario).snapshot.at("fullFieldContent"), "private");
}

TEST_F(FieldscanProcess, AnApplicationThatStopsAnsweringIsAskedNothingMore) {
    // -25204: the request waited the platform's whole time-out. The snapshot is what came
    // before; a value never asked is unknown, and nothing stands in for it.
    const Outcome r = run(frontApplication(
        {{"field",
          element("AXTextField", {{"AXValue", "hello"}, {"AXSelectedText", {{"error", -25204}}}},
                  {{"AXValue", true}})}}));
    EXPECT_EQ(r.requests(),
              joined(opening, {"field AXRole", "field AXSubrole", "field AXSelectedText"}));
    EXPECT_EQ(r.snapshot, snapshotWith(R"({"role":"AXTextField"})"));
}

// Safari's search field on a page. The field is read before the page, so a page that stops
// answering leaves it read; the application is the system-wide focused one, whatever process
// the page's elements name (WebKit's WebContent, or one no application has).
TEST_F(FieldscanProcess, TheFieldBeforeThePageAndTheBrowserThatShowsIt) {
    const json search = element(
        "AXTextField",
        {{"AXSubrole", "AXSearchField"}, {"AXValue", "Ship it"}, {"AXParent", refTo("page")}},
        {{"AXValue", true}});
    json scenario = frontApplication(
        {{"field", search},
         {"page", element("AXWebArea", {{"AXChildren", list({refTo("notes"), refTo("field")})}})},
         {"notes", element("AXStaticText",
                           {{"AXValue", "Weekly notes"}, {"AXDescription", {{"error", -25204}}}})},
         {"window", element("AXWindow", {{"AXChildren", list({refTo("page")})}})}},
        safari);
    scenario["systemWide"] = {
        {"attributes",
         {{"AXFocusedUIElement", refTo("field")}, {"AXFocusedApplication", refTo("app:501")}}}};
    scenario["runningApplications"] = {
        {"4242", {{"bundleIdentifier", "com.apple.WebKit.WebContent"}}}};
    const json read =
        snapshotWith(R"({"visibleText":"Weekly notes\nShip it","fullFieldContent":"Ship it",)"
                     R"("role":"AXTextField",)"
                     R"("subrole":"AXSearchField","editable":true})");
    struct Case {
        const char* name;
        std::optional<int> pid;  // the field's, and the page's
        bool focusedApplication;
        json snapshot;
    };
    const Case cases[] = {
        {"the page stops answering: the field was read first", std::nullopt, true, read},
        {"elements of a WebContent process", 4242, true, read},
        {"elements of a process no application has", 9999, true, read},
        {"without a focused application, the owner's: WebContent is no browser", 4242, false,
         snapshotWith(R"({"visibleText":"Ship it","fullFieldContent":"Ship it",)"
                      R"("role":"AXTextField","subrole":"AXSearchField","editable":true})")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        json world = scenario;
        for (const char* id : {"field", "page", "notes"}) {
            if (c.pid) {
                world["elements"][id]["pid"] = *c.pid;
            }
        }
        if (!c.focusedApplication) {
            world["systemWide"]["attributes"].erase("AXFocusedApplication");
        }
        EXPECT_EQ(run(world).snapshot, c.snapshot);
    }
}

TEST_F(FieldscanProcess, SplitsAndFieldTextFallbacks) {
    struct Case {
        const char* name;
        json attributes;
        std::string changes;
        std::string role = "AXTextField";
    };
    const Case cases[] = {
        {"a selection",
         {{"AXValue", "hello world"},
          {"AXSelectedText", "world"},
          {"AXSubrole", "AXNote"},
          {"AXSelectedTextRange", range(6, 5)}},
         R"({"visibleText":"hello world","beforeText":"hello ","selectedText":"world",)"
         R"("cursorPosition":6,"hasTextSelected":true,"fullFieldContent":"hello world",)"
         R"("subrole":"AXNote","editable":true})"},
        {"an emoji before the caret counts two",
         {{"AXValue", "\U0001F600 hi"}, {"AXSelectedTextRange", range(3, 0)}},
         "{\"visibleText\":\"\U0001F600 hi\",\"beforeText\":\"\U0001F600 \",\"afterText\":\"hi\","
         "\"cursorPosition\":3,\"fullFieldContent\":\"\U0001F600 hi\",\"editable\":true}"},
        {"a range beyond the end",
         {{"AXValue", "hello"}, {"AXSelectedTextRange", range(40, 2)}},
         R"({"visibleText":"hello","beforeText":"hello","cursorPosition":5,)"
         R"("fullFieldContent":"hello","editable":true})"},
        {"an empty value is the field text: nothing to split",
         {{"AXValue", ""},
          {"AXSelectedText", "abc"},
          {"AXSelectedTextRange", range(0, 3)},
          {"AXEditable", true}},
         R"({"selectedText":"abc","hasTextSelected":true,"editable":true})"},
        {"no value: the selection is",
         {{"AXSelectedText", "abc"}, {"AXSelectedTextRange", range(0, 3)}},
         R"({"visibleText":"abc","selectedText":"abc","cursorPosition":0,"hasTextSelected":true,)"
         R"("fullFieldContent":"abc","editable":true})"},
        {"neither, outside a browser, which gathers nothing",
         {{"AXSubrole", "AXPane"}, {"AXDOMEditable", true}, {"AXTitle", "Notes"}},
         R"({"subrole":"AXPane","editable":true})"},
        {"no range: the trimmed selection searched",
         {{"AXValue", "a b c b"}, {"AXSelectedText", " b\n"}},
         R"({"visibleText":"a b c b","beforeText":"a ","afterText":" c b","selectedText":" b\n",)"
         R"("cursorPosition":2,"hasTextSelected":true,"fullFieldContent":"a b c b"})"},
        {"no range and a blank selection",
         {{"AXValue", "a b"}, {"AXSelectedText", " \n"}},
         R"({"visibleText":"a b","selectedText":" \n","hasTextSelected":true,)"
         R"("fullFieldContent":"a b"})"},
        {"a point is no range",
         {{"AXValue", "a b"},
          {"AXSelectedText", "B"},
          {"AXSelectedTextRange", {{"point", {1, 1}}}}},
         R"({"visibleText":"a b","selectedText":"B","hasTextSelected":true,)"
         R"("fullFieldContent":"a b"})"},
        {"a negative range",
         {{"AXValue", "a b"}, {"AXSelectedTextRange", range(-1, 0)}},
         R"({"visibleText":"a b","fullFieldContent":"a b"})"},
        {"a negative length",
         {{"AXValue", "a b"}, {"AXSelectedTextRange", range(1, -1)}},
         R"({"visibleText":"a b","fullFieldContent":"a b"})"},
        {"AppKit's no selection, at NSNotFound, is no range",
         {{"AXValue", "a b"}, {"AXSelectedTextRange", range(LONG_MAX, 0)}},
         R"({"visibleText":"a b","fullFieldContent":"a b"})"},
        {"a selection past the end of the text: the selection searched",
         {{"AXSelectedText", "abc"}, {"AXSelectedTextRange", range(10, 3)}},
         R"({"visibleText":"abc","selectedText":"abc","cursorPosition":0,"hasTextSelected":true,)"
         R"("fullFieldContent":"abc","editable":true})"},
        // Chromium answers a range on every ancestor of a selection in the page.
        {"a web area's range alone: text selected on the page",
         {{"AXValue", "read me"}, {"AXSelectedText", "me"}, {"AXSelectedTextRange", range(5, 2)}},
         R"({"visibleText":"read me","beforeText":"read ","selectedText":"me","cursorPosition":5,)"
         R"("hasTextSelected":true,"fullFieldContent":"read me"})",
         "AXWebArea"},
        {"a web area's range beside an editable ancestor: an editable page",
         {{"AXValue", "read me"},
          {"AXSelectedTextRange", range(7, 0)},
          {"AXEditableAncestor", {{"element", "field"}}}},
         R"({"visibleText":"read me","beforeText":"read me","cursorPosition":7,)"
         R"("fullFieldContent":"read me","editable":true})",
         "AXWebArea"},
        {"a range that does not hold the selected text: the selection searched",
         {{"AXValue", "one two three"},
          {"AXSelectedText", "two"},
          {"AXSelectedTextRange", range(5, 3)}},
         R"({"visibleText":"one two three","beforeText":"one ","afterText":" three",)"
         R"("selectedText":"two","cursorPosition":4,"hasTextSelected":true,)"
         R"("fullFieldContent":"one two three","editable":true})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(frontApplication({{"field", element(c.role, c.attributes)}}));
        json expected = snapshotWith(c.changes);
        expected["role"] = c.role;
        EXPECT_EQ(r.snapshot, expected);
    }

    // A password field: its role, subrole and editability, and not one of its texts asked.
    const Outcome password =
        run(frontApplication({{"field", element("AXTextField", {{"AXSubrole", "AXSecureTextField"},
                                                                {"AXValue", "hunter2"},
                                                                {"AXSelectedText", "hunter2"},
                                                                {"AXEditable", true}})}},
                             safari));
    EXPECT_EQ(password.snapshot, snapshotWith(R"({"role":"AXTextField",)"
                                              R"("subrole":"AXSecureTextField","editable":true})"));
    EXPECT_EQ(password.requests(),
              joined(opening, {"field AXRole", "field AXSubrole", "field AXEditable"}));
}

TEST_F(FieldscanProcess, BrowserPageTextGatheredAndSearched) {
    const json field = element("AXTextField", {{"AXValue", "draft"}, {"AXSelectedText", "world"}},
                               {{"AXValue", true}});
    const Outcome r = run(browserWindow(field));
    EXPECT_EQ(r.result.out,
              R"({"visibleText":"Intro\nhello world\nOutro","beforeText":"Intro\nhello ",)"
              R"("afterText":"\nOutro","selectedText":"world","cursorPosition":12,)"
              R"("hasTextSelected":true,"fullFieldContent":"draft","role":"AXTextField",)"
              R"("subrole":"","editable":true})");
    // The field first; then up from it, down from it and from the window, for the page.
    Requests expected = joined(opening, {"field AXRole",
                                         "field AXSubrole",
                                         "field AXSelectedText",
                                         "field AXValue",
                                         "field AXSelectedTextRange",
                                         "field AXEditable",
                                         "field AXDOMEditable",
                                         "field settable AXValue",
                                         "field AXParent",
                                         "field AXChildren",
                                         "app:501 AXFocusedWindow",
                                         "window AXRole",
                                         "window AXChildren",
                                         "toolbar AXRole",
                                         "toolbar AXChildren",
                                         "button AXRole",
                                         "button AXChildren",
                                         "content AXRole",
                                         "content AXChildren",
                                         "page AXRole",
                                         "page AXValue"});
    for (const std::string id : {"page", "heading", "para", "link"}) {
        expected = joined(expected, {id + " AXValue", id + " AXDescription", id + " AXTitle",
                                     id + " AXChildren"});
    }
    EXPECT_EQ(r.requests(), expected);

    // The field text beside a page text: an empty value is the field text, then the selection,
    // then the page text; a range always cuts the field text.
    struct Case {
        const char* name;
        json attributes;
        std::string changes;
    };
    const Case cases[] = {
        {"neither value nor selection: the page text takes the range",
         {{"AXSelectedTextRange", range(6, 5)}},
         R"({"beforeText":"Intro\n","afterText":" world\nOutro","cursorPosition":6,)"
         R"("fullFieldContent":"Intro\nhello world\nOutro"})"},
        {"no value: the selection, cut at the range",
         {{"AXSelectedText", "world"}, {"AXSelectedTextRange", range(0, 5)}},
         R"({"selectedText":"world","cursorPosition":0,"hasTextSelected":true,)"
         R"("fullFieldContent":"world"})"},
        {"an empty value: nothing to cut, the page still shown",
         {{"AXValue", ""}, {"AXSelectedTextRange", range(0, 5)}},
         "{}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome fallback = run(browserWindow(element("AXTextField", c.attributes)));
        json expected = snapshotWith(c.changes);
        expected.update(json::parse(
            R"({"visibleText":"Intro\nhello world\nOutro","role":"AXTextField","editable":true})"));
        EXPECT_EQ(fallback.snapshot, expected);
    }

    // A page of more lines than the limit: the first 120 are kept.
    json longPage = browserWindow(element("AXTextField"));
    std::vector<json> lines;
    for (int i = 0; i < 130; ++i) {
        const std::string id = "line" + std::to_string(i);
        longPage["elements"][id] = element("AXStaticText", {{"AXValue", id}});
        lines.push_back(refTo(id));
    }
    longPage["elements"]["page"] = element("AXWebArea", {{"AXChildren", list(lines)}});
    const auto text = run(longPage).snapshot.at("visibleText").get<std::string>();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 119);
    EXPECT_TRUE(text.ends_with("\nline119")) << text;
}

TEST_F(FieldscanProcess, WebAreaFromFocusOrWindowWithinSevenLevels) {
    // window -> w1 -> ... -> w<depth>, the last one a web area with a value.
    const auto windowChain = [](int depth, json field) {
        json elements = {{"field", std::move(field)}};
        for (int i = 0; i <= depth; ++i) {
            elements[i == 0 ? "window" : "w" + std::to_string(i)] =
                i < depth ? element("AXGroup",
                                    {{"AXChildren", list({refTo("w" + std::to_string(i + 1))})}})
                          : element("AXWebArea", {{"AXValue", "the page"}});
        }
        return frontApplication(elements, safari);
    };
    const json plainField = element("AXTextField", {{"AXValue", "mine"}});
    json insideFocus = windowChain(1, element("AXGroup", {{"AXChildren", list({refTo("inner")})}}));
    insideFocus["elements"]["inner"] = element("AXWebArea", {{"AXValue", "inner page"}});
    json tooDeepEmpty = windowChain(
        7, element("AXTextField",
                   {{"AXTitle", " own title "}, {"AXChildren", list({refTo("label")})}}));
    tooDeepEmpty["elements"]["label"] = element("AXStaticText", {{"AXValue", "label"}});
    json lowerRole = windowChain(1, plainField);
    lowerRole["elements"]["w1"]["attributes"]["AXRole"] = "AXWebarea";
    // The focus n parents below a web area that no window shows.
    const auto ancestorChain = [&](int levels) {
        json chain = windowChain(
            0, element("AXTextField", {{"AXValue", "mine"}, {"AXParent", refTo("a1")}}));
        for (int i = 1; i <= levels; ++i) {
            chain["elements"]["a" + std::to_string(i)] =
                i < levels ? element("AXGroup", {{"AXParent", refTo("a" + std::to_string(i + 1))}})
                           : element("AXWebArea", {{"AXValue", "the page above"}});
        }
        chain["elements"]["window"] = element("AXWindow");
        return chain;
    };
    json notSafari = browserWindow(plainField);
    notSafari["frontmostApplication"]["bundleIdentifier"] = "com.apple.safari";
    struct Case {
        const char* name;
        json scenario;
        std::string visibleText;
        size_t windowReads;
    };
    const Case cases[] = {
        {"the focus is the web area",
         windowChain(1, element("AXWebArea", {{"AXValue", "focused page"}})), "focused page", 0},
        {"a web area below the focus", insideFocus, "inner page", 0},
        {"six levels below the window", windowChain(6, plainField), "the page", 1},
        {"seven: the focus's own value", windowChain(7, plainField), "mine", 1},
        {"seven: the focus's subtree gathered", tooDeepEmpty, "own title\nlabel", 1},
        {"a role in other letter case is no web area", lowerRole, "mine", 1},
        {"a bundle identifier in other letter case is no browser", notSafari, "mine", 0},
        {"twenty parents up", ancestorChain(20), "the page above", 0},
        {"twenty-one: left to the searches down", ancestorChain(21), "mine", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(c.scenario);
        EXPECT_EQ(r.snapshot.at("visibleText"), c.visibleText);
        EXPECT_EQ(r.count("app:501 AXFocusedWindow"), c.windowReads);
        EXPECT_EQ(r.count("w7 AXRole"), 0u);
    }
}

// Every request is a round trip to the application: 10 to 50 ms in Chromium. A long document
// is found by looking up from the focus, and the whole page search keeps to a second.
TEST_F(FieldscanProcess, APageSlowToAnswerIsFoundOrLeftInTime) {
    const int paragraphs = 3000;
    json elements = {
        {"field", element("AXTextArea",
                          {{"AXSelectedTextRange", range(5, 0)}, {"AXParent", refTo("page")}})},
        {"page", element("AXWebArea", {{"AXChildren", list({refTo("field")})}})},
        {"toolbar", element("AXToolbar")},
        {"button", element("AXButton")},
        {"window", element("AXWindow", {{"AXChildren", list({refTo("toolbar"), refTo("page")})}})}};
    std::string document;
    std::vector<json> children;
    for (int i = 0; i < paragraphs; ++i) {
        const std::string id = std::to_string(i);
        elements["p" + id] = element("AXGroup", {{"AXChildren", list({refTo("t" + id)})}});
        elements["t" + id] = element("AXStaticText", {{"AXValue", "paragraph " + id}});
        children.push_back(refTo("p" + id));
        document += "paragraph " + id + "\n";
    }
    elements["field"]["attributes"]["AXChildren"] = list(children);
    elements["field"]["attributes"]["AXValue"] = document;
    elements["toolbar"]["attributes"]["AXChildren"] =
        list(std::vector<json>(paragraphs, refTo("button")));
    json editor = frontApplication(elements, "com.google.Chrome");
    editor["requestSeconds"] = 0.001;
    // The same field with no parent to show the page: the window's toolbar comes first.
    json detached = editor;
    detached["elements"]["field"]["attributes"].erase("AXParent");
    for (const bool isDetached : {false, true}) {
        const Outcome r = run(isDetached ? detached : editor);
        EXPECT_EQ(r.snapshot.at("fullFieldContent"), document);
        EXPECT_EQ(r.snapshot.at("cursorPosition"), 5);
        EXPECT_EQ(r.snapshot.at("role"), "AXTextArea");
        const auto exits = recordsOf(r.log, "exit");
        ASSERT_EQ(exits.size(), 1u);
        const double seconds = exits[0].at("machSeconds").get<double>() - 100000;
        EXPECT_LT(seconds, 1.5);
        if (isDetached) {
            EXPECT_GE(seconds, 1.0) << "the page search spends its whole second on the toolbar";
        }
    }
}

TEST_F(FieldscanProcess, OutputEscapesAndRepairsText) {
    // The selection of an empty field is the one text written.
    const json escapes = frontApplication(
        {{"field",
          element("AXTextField",
                  {{"AXValue", ""},
                   {"AXSelectedText", "\"hi\" \\ https://a.b/c\n\t\u0001\u00E9\U0001F600"}})}});
    EXPECT_EQ(run(escapes).result.out,
              "{\"visibleText\":\"\",\"beforeText\":\"\",\"afterText\":\"\",\"selectedText\":"
              "\"\\\"hi\\\" \\\\ https://a.b/c\\n\\t\\u0001\xC3\xA9\xF0\x9F\x98\x80\","
              "\"cursorPosition\":-1,\"hasTextSelected\":true,\"fullFieldContent\":\"\","
              "\"role\":\"AXTextField\",\"subrole\":\"\",\"editable\":false}");

    // A selection of the second half of a pair: a cut between the halves, and a lone half as
    // the element's own selected text.
    const json halves = frontApplication(
        {{"field", element("AXTextField", {{"AXValue", "a\U0001F600b"},
                                           {"AXSelectedText", {{"utf16", {0xDE00}}}},
                                           {"AXSelectedTextRange", range(2, 1)}})}});
    EXPECT_EQ(run(halves).snapshot,
              snapshotWith("{\"visibleText\":\"a\U0001F600b\",\"beforeText\":\"a\uFFFD\","
                           "\"afterText\":\"b\",\"selectedText\":\"\uFFFD\","
                           "\"cursorPosition\":2,\"hasTextSelected\":true,"
                           "\"fullFieldContent\":\"a\U0001F600b\",\"role\":\"AXTextField\","
                           "\"editable\":true}"));
}

TEST_F(FieldscanProcess, HostilePagesEndWithBoundedWork) {
    // A focus that is its own child, and a window that lists itself, thirty and two thousand
    // times: seven levels of the first; the walk's element allowance, or its allowance of
    // children listed, of the others.
    for (const size_t repeats : {size_t{30}, size_t{2000}}) {
        json cycles = frontApplication(
            {{"field",
              element("AXGroup", {{"AXTitle", "loop"}, {"AXChildren", list({refTo("field")})}})},
             {"window", element("AXWindow", {{"AXChildren", list(std::vector<json>(
                                                                repeats, refTo("window")))}})}},
            safari);
        const Outcome cycled = run(cycles);
        EXPECT_EQ(cycled.snapshot.at("visibleText"), "loop");
        EXPECT_EQ(cycled.count("field AXChildren"), 14u);  // seven to search, seven to gather
        EXPECT_EQ(cycled.count("window AXChildren"),
                  std::min(elementsPerWalk, (childrenPerWalk + repeats - 1) / repeats))
            << repeats;
    }

    // A web area with a hundred thousand children that say nothing.
    json wide = browserWindow(element("AXTextField"));
    wide["elements"]["page"] =
        element("AXWebArea", {{"AXChildren", list(std::vector<json>(100000, refTo("button")))}});
    const Outcome widened = run(wide, {}, 300);
    EXPECT_EQ(widened.count("button AXTitle"), elementsPerWalk - 1);
    // Four requests for each element gathered, and thirty for the rest of the run.
    EXPECT_LE(widened.requests().size(), 4 * elementsPerWalk + 30);

    // Tens of megabytes in one value; lone halves and control characters in the page's lines.
    const size_t huge = 24 << 20;
    const size_t caret = 1 << 20;
    json longText =
        browserWindow(element("AXTextField", {{"AXValue", std::string(huge, 'x')},
                                              {"AXSelectedTextRange", range(caret, 1)}}));
    longText["elements"]["heading"]["attributes"]["AXTitle"] = {{"utf16", {0xDFFF, 0x31, 0x7}}};
    longText["elements"]["link"]["attributes"]["AXTitle"] = {{"utf16", {0xD83D}}};
    // Seconds in a debug build, more under the sanitizers on a busy machine.
    const json snapshot = run(longText, {}, 300).snapshot;
    EXPECT_EQ(snapshot.at("visibleText"), "\uFFFD1\u0007\nhello world\n\uFFFD");
    EXPECT_EQ(snapshot.at("fullFieldContent").get_ref<const std::string&>().size(), huge);
    EXPECT_EQ(snapshot.at("beforeText").get_ref<const std::string&>().size(), caret);
    EXPECT_EQ(snapshot.at("afterText").get_ref<const std::string&>().size(), huge - caret - 1);
}

}  // namespace
