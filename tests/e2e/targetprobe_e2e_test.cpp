// targetprobe as a process: its record for each reason, and the two searches with their bounds
// as the stand-in log shows them, also on trees no well-behaved application would report.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;
using Requests = std::vector<std::string>;
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

const std::string plain = "AXStaticText";  // a role in no table
const std::string role = "AXRole";
const std::string subrole = "AXSubrole";
const std::string parent = "AXParent";
const std::string children = "AXChildren";

// Request counts, from the parts of a run.
constexpr size_t fixed = 5;    // trust, system-wide element and its focus; reported roles
constexpr size_t failing = 8;  // an insertion test failing all seven steps, then one read
constexpr size_t failingUnread = failing - 1;  // once no child could be kept: no read
constexpr size_t byRole = 3;                   // a test decided by the role, then one read
constexpr size_t downStart = 3;  // the focus's role and subrole again, then its children

std::string record(bool canInsert, const std::string& reason, const std::string& roleText = "",
                   const std::string& subroleText = "") {
    return std::string(R"({"canInsert":)") + (canInsert ? "true" : "false") + R"(,"reason":")" +
           reason + R"(","role":")" + roleText + R"(","subrole":")" + subroleText + R"("})";
}

json refTo(const std::string& id) {
    return {{"element", id}};
}

json list(const std::vector<json>& entries) {
    return {{"array", entries}};
}

json element(const std::string& roleText, json attributes = json::object()) {
    attributes[role] = roleText;
    return {{"attributes", std::move(attributes)}};
}

// The focus on "focus", reported system-wide; `elements` must hold it.
json focusedOn(json elements) {
    return {{"trusted", true},
            {"systemWide", {{"attributes", {{"AXFocusedUIElement", refTo("focus")}}}}},
            {"elements", std::move(elements)}};
}

// "focus" and six ancestors linked by "AXParent", a text area at `insertableLevel`.
json ancestorChain(int insertableLevel) {
    json elements;
    for (int level = 0; level <= 6; ++level) {
        json attributes = json::object();
        if (level < 6) {
            attributes[parent] = refTo("p" + std::to_string(level + 1));
        }
        elements[level == 0 ? "focus" : "p" + std::to_string(level)] =
            element(level == insertableLevel ? "AXTextArea" : plain, attributes);
    }
    return focusedOn(elements);
}

// "focus" over groups d1..d6, one per level, a text field at `insertableDepth`. The links
// alternate between a one-entry list and a single element: both forms of a child list.
json descendantChain(int insertableDepth) {
    json elements;
    for (int depth = 0; depth <= 6; ++depth) {
        json attributes = json::object();
        if (depth < 6) {
            const json child = refTo("d" + std::to_string(depth + 1));
            attributes[children] = depth % 2 == 0 ? list({child}) : child;
        }
        elements[depth == 0 ? "focus" : "d" + std::to_string(depth)] =
            element(depth == insertableDepth ? "AXTextField" : "AXGroup", attributes);
    }
    return focusedOn(elements);
}

// A group focused over 130 plain children c0..c129 with a text field at `insertableAt`; with
// `foreign`, six entries that are no elements sit among the first three children (one a list
// holding a text field that must stay unseen).
json wideGroup(int insertableAt, bool foreign) {
    json elements = {{"hidden", element("AXTextField")}};
    std::vector<json> entries;
    for (int i = 0; i < 130; ++i) {
        elements["c" + std::to_string(i)] = element(i == insertableAt ? "AXTextField" : plain);
        entries.push_back(refTo("c" + std::to_string(i)));
    }
    if (foreign) {
        const std::vector<json> notElements = {
            "text", 7, {{"range", {0, 1}}}, {{"attributedString", "rich"}}, list({refTo("hidden")}),
            true};
        entries.insert(entries.begin() + 2, notElements.begin() + 3, notElements.end());
        entries.insert(entries.begin() + 1, notElements.begin(), notElements.begin() + 3);
    }
    elements["focus"] = element("AXGroup", {{children, list(entries)}});
    return focusedOn(elements);
}

// wideGroup's 130 children under "g", which the focus lists after one entry that is no element.
json behindForeignEntry(int insertableAt) {
    json scenario = wideGroup(insertableAt, false);
    json& elements = scenario["elements"];
    elements["g"] = elements["focus"];
    elements["focus"] = element("AXGroup", {{children, list({"text", refTo("g")})}});
    return scenario;
}

struct Outcome {
    ProcessResult result;
    std::vector<json> log;

    // One element's requests in order: attribute names, "settable NAME" for a settable test.
    Requests requestsOf(const std::string& id) const {
        Requests made;
        for (const auto& r : log) {
            if (r.contains("element") && r.at("element") == id) {
                const auto name = r.at("attribute").get<std::string>();
                made.push_back(r.at("op") == "AXUIElementIsAttributeSettable" ? "settable " + name
                                                                              : name);
            }
        }
        return made;
    }
    size_t requests() const { return log.size() - recordsOf(log, "exit").size(); }
};

class TargetprobeProcess : public ::testing::Test {
  protected:
    // Whatever the scenario: status 0, nothing on standard error, nothing left alive, and no
    // accessibility request made of something that is no element.
    Outcome run(const json& scenario, Environment environment = {}) {
        std::remove(dir.path("log.jsonl").c_str());
        environment.emplace_back("STANDIN_SCENARIO", dir.write("scenario.json", scenario.dump()));
        environment.emplace_back("STANDIN_LOG", dir.path("log.jsonl"));
        Outcome r{runProcess({
                      .arguments = {TARGETPROBE_PATH},
                      .environment = std::move(environment),
                      .stdinPath = std::nullopt,
                      .stdoutPath = std::nullopt,
                  }),
                  {}};
        r.log = readLog(dir.path("log.jsonl"));
        EXPECT_FALSE(r.result.timedOut);
        EXPECT_EQ(r.result.exitStatus, 0);
        EXPECT_EQ(r.result.err, "");
        const auto exits = recordsOf(r.log, "exit");
        EXPECT_EQ(exits.size(), 1u);
        EXPECT_EQ(exits.empty() ? -1 : exits[0].at("liveObjects").get<long>(), 0);
        for (const auto& request : r.log) {
            if (request.contains("element")) {
                EXPECT_TRUE(request.at("element").is_string()) << request;
                EXPECT_NE(request.at("status"), illegalArgumentStatus) << request;
            }
        }
        return r;
    }

    static constexpr int illegalArgumentStatus = -25201;
    ScratchDir dir;
};

TEST_F(TargetprobeProcess, RecordForEachReasonWithExactlyTheRequestsItTakes) {
    json untrusted = focusedOn({{"focus", element("AXTextField")}});
    untrusted["trusted"] = false;
    const json noFocus = {{"trusted", true}, {"frontmostApplication", nullptr}};
    const json front = {{"pid", 501}, {"bundleIdentifier", nullptr}};
    const json frontWithoutFocus = {{"trusted", true}, {"frontmostApplication", front}};
    json listedFocus = focusedOn({{"focus", element("AXTextField")}});  // a list is no element
    listedFocus["systemWide"]["attributes"]["AXFocusedUIElement"] = list({refTo("focus")});
    json viaFront = frontWithoutFocus;
    viaFront["applications"]["501"]["attributes"]["AXFocusedUIElement"] = refTo("focus");
    viaFront["elements"]["focus"] = element("AXTextField", {{subrole, "AXSecureTextField"}});
    struct Case {
        const char* name;
        json scenario;
        std::string out;
        size_t requests;
    };
    const Case cases[] = {
        {"no permission", untrusted,
         R"({"canInsert":false,"reason":"accessibility_missing","role":"","subrole":""})", 1},
        {"no focus, no application in front", noFocus, record(false, "no_focused_element"), 4},
        {"no focus in the front application", frontWithoutFocus,
         record(false, "no_focused_element"), 6},
        {"a focus answer that is a list", listedFocus, record(false, "no_focused_element"), 4},
        {"the focus accepts text", focusedOn({{"focus", element("AXTextField")}}),
         R"({"canInsert":true,"reason":"ok","role":"AXTextField","subrole":""})", fixed + 2},
        {"the focus of the front application", viaFront,
         record(true, "ok", "AXTextField", "AXSecureTextField"), fixed + 3 + 2},
        {"an ancestor, with its own role",
         focusedOn({{"focus", element(plain, {{parent, refTo("area")}})},
                    {"area", element("AXTextArea")}}),
         record(true, "ok", "AXTextArea"), fixed + failing + 2},
        {"a descendant",
         focusedOn({{"focus", element("AXGroup", {{children, refTo("field")}})},
                    {"field", element(plain, {{subrole, "AXSearchField"}})}}),
         record(true, "ok_descendant", plain, "AXSearchField"), fixed + byRole + downStart + 2},
        {"nothing: the focus's role, '/' unescaped, UTF-8 as it is",
         focusedOn({{"focus", element("AX/Odd\"Role", {{subrole, "Fläche ✓ 😀"}})}}),
         R"({"canInsert":false,"reason":"no_editable_target","role":"AX/Odd\"Role",)"
         R"("subrole":"Fläche ✓ 😀"})",
         fixed + failing + downStart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(c.scenario);
        EXPECT_EQ(r.result.out, c.out);
        EXPECT_EQ(r.requests(), c.requests);
    }
}

TEST_F(TargetprobeProcess, InsertionTestAsksNothingAfterTheDecidingStep) {
    const Requests steps = {role,
                            subrole,
                            "AXEditable",
                            "AXDOMEditable",
                            "settable AXValue",
                            "AXSelectedTextRange",
                            "AXSelectedTextMarkerRange",
                            "AXEditableAncestor"};
    const Requests reported = {role, subrole};
    const Requests notFound = {parent, role, subrole, children, role, subrole};
    struct Case {
        const char* name;
        json focus;
        size_t stepsAsked;
        bool found;
        bool answering = true;  // false: nothing is asked after the steps
        Requests asked = {};    // the steps asked, when not the first `stepsAsked`
    };
    const Case cases[] = {
        {"editable subrole", element(plain, {{subrole, "AXSearchField"}}), 2, true},
        {"editable role before a container subrole", element("AXTextView", {{subrole, "AXGroup"}}),
         2, true},
        {"container role before AXEditable", element("AXGroup", {{"AXEditable", true}}), 2, false},
        {"container subrole before AXEditable",
         element(plain, {{subrole, "AXScrollArea"}, {"AXEditable", true}}), 2, false},
        {"AXEditable as the number 1", element(plain, {{"AXEditable", 1}}), 3, true},
        {"AXDOMEditable after AXEditable false",
         element(plain, {{"AXEditable", false}, {"AXDOMEditable", true}}), 4, true},
        {"settable AXValue after a 2 and a word that are no booleans",
         {{"attributes", {{role, plain}, {"AXEditable", 2}, {"AXDOMEditable", "true"}}},
          {"settable", {{"AXValue", true}}}},
         5,
         true},
        {"AXSelectedTextRange after a value that cannot be set",
         element(plain, {{"AXValue", "x"}, {"AXSelectedTextRange", {{"range", {0, 0}}}}}), 6, true},
        // AppKit's static text answers {NSNotFound, 0}: no caret; nor is a range of another type.
        {"a range at NSNotFound",
         element(plain, {{"AXSelectedTextRange", {{"range", {LLONG_MAX, 0}}}}}), 7, false},
        {"a range that is no range", element(plain, {{"AXSelectedTextRange", "{0, 0}"}}), 7, false},
        // A web page answers a marker range on every element while it holds a caret anywhere;
        // only an editable ancestor (the element itself, in Chromium) shows the caret is here.
        {"a marker range alone: a link on a page with a caret",
         element("AXLink", {{"AXSelectedTextRange", {{"error", -25212}}},
                            {"AXSelectedTextMarkerRange", {{"attributedString", "m"}}}}),
         8, false},
        {"a marker range with an editable ancestor",
         element(plain, {{"AXSelectedTextMarkerRange", {{"attributedString", "m"}}},
                         {"AXEditableAncestor", refTo("focus")}}),
         8, true},
        {"a marker range whose editable ancestor is no element",
         element(plain, {{"AXSelectedTextMarkerRange", 1}, {"AXEditableAncestor", "focus"}}), 8,
         false},
        {"every step fails",
         {{"attributes",
           {{role, plain},
            {"AXDOMEditable", 0},
            {"AXSelectedTextMarkerRange", {{"error", -25212}}},
            {"AXEditableAncestor", refTo("focus")}}},
          {"settable", {{"AXValue", {{"error", -25200}}}}}},
         7,
         false},
        // Chromium answers a range on every ancestor of a selection in the page, the web area
        // included; its marker range is then not asked.
        {"a web area's range alone: text selected on the page",
         element("AXWebArea",
                 {{"AXSelectedTextRange", {{"range", {0, 4}}}}, {"AXSelectedTextMarkerRange", 1}}),
         0,
         false,
         true,
         {role, subrole, "AXEditable", "AXDOMEditable", "settable AXValue", "AXSelectedTextRange",
          "AXEditableAncestor"}},
        {"a web area's range beside an editable ancestor",
         element("AXWebArea", {{"AXSelectedTextRange", {{"range", {0, 4}}}},
                               {"AXEditableAncestor", refTo("focus")}}),
         0,
         true,
         true,
         {role, subrole, "AXEditable", "AXDOMEditable", "settable AXValue", "AXSelectedTextRange",
          "AXEditableAncestor"}},
        // -25204: the application did not answer within the platform's time-out.
        {"an application that stops answering is asked nothing more",
         element(plain, {{"AXEditable", {{"error", -25204}}}, {"AXDOMEditable", true}}), 3, false,
         false},
        {"nor when the settable test is the one unanswered",
         {{"attributes", {{role, plain}, {"AXSelectedTextRange", {{"range", {0, 0}}}}}},
          {"settable", {{"AXValue", {{"error", -25204}}}}}},
         5,
         false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(focusedOn({{"focus", c.focus}}));
        Requests expected =
            c.asked.empty()
                ? Requests(steps.begin(), steps.begin() + static_cast<long>(c.stepsAsked))
                : c.asked;
        const Requests& rest = !c.answering ? Requests{} : c.found ? reported : notFound;
        expected.insert(expected.end(), rest.begin(), rest.end());
        EXPECT_EQ(r.requestsOf("focus"), expected);
        EXPECT_EQ(json::parse(r.result.out).at("canInsert"), c.found);
        if (!c.answering) {
            EXPECT_EQ(r.result.out, record(false, "no_editable_target"));
            EXPECT_EQ(r.log.at(r.log.size() - 2).at("status"), -25204) << "its last request";
        }
    }
}

TEST_F(TargetprobeProcess, SearchesKeepTheirOrderAndBoundsOnAnyTree) {
    const json field = element("AXTextField");
    const json excludedFocus = {{children, list({refTo("field")})}};
    json hundredThousand = json::array();
    for (int i = 0; i < 100000; ++i) {
        hundredThousand.push_back(refTo("leaf"));
    }
    struct Case {
        const char* name;
        json scenario;
        std::string out;
        size_t requests;
        std::vector<std::string> neverAsked;
    };
    const Case cases[] = {
        {"an ancestor five levels up",
         ancestorChain(5),
         record(true, "ok", "AXTextArea"),
         fixed + 5 * failing + 2,
         {"p6"}},
        {"an ancestor six levels up is not tested",
         ancestorChain(6),
         record(false, "no_editable_target", plain),
         fixed + 6 * failing + downStart,
         {"p6"}},
        {"a focused table is not searched below",
         focusedOn({{"focus", element("AXTable", excludedFocus)}, {"field", field}}),
         record(false, "no_editable_target", "AXTable"),
         fixed + failing + 2,
         {"field"}},
        {"nor a focus whose subrole is a list",
         focusedOn({{"focus", element(plain, {{subrole, "AXList"}, {children, refTo("field")}})},
                    {"field", field}}),
         record(false, "no_editable_target", plain, "AXList"),
         fixed + failing + 2,
         {"field"}},
        {"a browser further down is searched",
         focusedOn(
             {{"focus", element("AXGroup", {{children, refTo("rows")}})},
              {"rows", element("AXBrowser", {{subrole, "AXOutline"}, {children, refTo("field")}})},
              {"field", field}}),
         record(true, "ok_descendant", "AXTextField"),
         fixed + byRole + downStart + failing + 2,
         {}},
        {"depth 5 is tested",
         descendantChain(5),
         record(true, "ok_descendant", "AXTextField"),
         fixed + byRole + downStart + 4 * byRole + 2,
         {"d6"}},
        {"depth 6 is not, nor are depth 5's children read",
         descendantChain(6),
         record(false, "no_editable_target", "AXGroup"),
         fixed + byRole + downStart + 4 * byRole + 2,
         {"d6"}},
        {"the 119th descendant is tested",
         wideGroup(118, false),
         record(true, "ok_descendant", "AXTextField"),
         fixed + byRole + downStart + 118 * failingUnread + 2,
         {"c119"}},
        {"the 120th is not",
         wideGroup(119, false),
         record(false, "no_editable_target", "AXGroup"),
         fixed + byRole + downStart + 119 * failingUnread,
         {"c119"}},
        {"entries that are no elements count in their place",
         wideGroup(112, true),
         record(true, "ok_descendant", "AXTextField"),
         fixed + byRole + downStart + 112 * failingUnread + 2,
         {"hidden", "c113"}},
        {"so the 120th entry is an earlier child",
         wideGroup(113, true),
         record(false, "no_editable_target", "AXGroup"),
         fixed + byRole + downStart + 113 * failingUnread,
         {"hidden", "c113"}},
        {"an entry that is no element counts also against entries read later",
         behindForeignEntry(116),
         record(true, "ok_descendant", "AXTextField"),
         fixed + byRole + downStart + byRole + 116 * failingUnread + 2,
         {"c117"}},
        {"so the grandchild after the 117th is not tested",
         behindForeignEntry(117),
         record(false, "no_editable_target", "AXGroup"),
         fixed + byRole + downStart + byRole + 117 * failingUnread,
         {"c117"}},
        {"a child before a grandchild of an earlier sibling",
         focusedOn({{"focus", element("AXGroup", {{children, list({refTo("a"), refTo("b")})}})},
                    {"a", element(plain, {{children, refTo("a1")}})},
                    {"a1", field},
                    {"b", element("AXTextArea")}}),
         record(true, "ok_descendant", "AXTextArea"),
         fixed + byRole + downStart + failing + 2,
         {"a1"}},
        {"a grandchild before a deeper element",
         focusedOn({{"focus", element("AXGroup", {{children, list({refTo("a"), refTo("b")})}})},
                    {"a", element(plain, {{children, refTo("a1")}})},
                    {"a1", element(plain, {{children, refTo("a11")}})},
                    {"a11", field},
                    {"b", element(plain, {{children, refTo("b1")}})},
                    {"b1", element("AXComboBox")}}),
         record(true, "ok_descendant", "AXComboBox"),
         fixed + byRole + downStart + 3 * failing + 2,
         {"a11"}},
        {"a cycle through AXParent",
         focusedOn({{"focus", element(plain, {{parent, refTo("loop")}})},
                    {"loop", element(plain, {{parent, refTo("focus")}})}}),
         record(false, "no_editable_target", plain),
         fixed + 6 * failing + downStart,
         {}},
        {"an element that is its own child",
         focusedOn({{"focus", element(plain, {{children, list({refTo("focus")})}})}}),
         record(false, "no_editable_target", plain),
         fixed + failing + downStart + 4 * failing + (failing - 1),
         {}},
        {"a cycle through AXChildren",
         focusedOn({{"focus", element(plain, {{children, refTo("loop")}})},
                    {"loop", element(plain, {{children, list({refTo("focus")})}})}}),
         record(false, "no_editable_target", plain),
         fixed + failing + downStart + 4 * failing + (failing - 1),
         {}},
        {"100000 children of one element",
         focusedOn({{"focus", element(plain, {{children, {{"array", hundredThousand}}}})},
                    {"leaf", element(plain)}}),
         record(false, "no_editable_target", plain),
         fixed + failing + downStart + 119 * failingUnread,
         {}},
        {"values of every wrong type",
         focusedOn({{"focus",
                     {{"attributes",
                       {{role, 5},
                        {subrole, list({"AXTextField"})},
                        {"AXEditable", "true"},
                        {"AXDOMEditable", {{"point", {1, 1}}}},
                        {"AXValue", nullptr},
                        {"AXSelectedTextRange", {{"error", -25211}}},
                        {"AXSelectedTextMarkerRange", {{"error", -25200}}},
                        {parent, "focus"},
                        {children, {{"attributedString", "focus"}}}}},
                      {"settable", {{"AXValue", false}}}}}}),
         record(false, "no_editable_target"),
         fixed + failing + downStart,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(c.scenario);
        EXPECT_EQ(r.result.out, c.out);
        EXPECT_EQ(r.requests(), c.requests);
        for (const auto& id : c.neverAsked) {
            EXPECT_EQ(r.requestsOf(id), Requests{}) << id;
        }
    }
}

TEST_F(TargetprobeProcess, LogHoldsEachRequestInOrderWithItsStatus) {
    json scenario = {
        {"trusted", true},
        {"frontmostApplication", {{"pid", 501}, {"bundleIdentifier", nullptr}}},
        {"applications", {{"501", {{"attributes", {{"AXFocusedUIElement", refTo("focus")}}}}}}},
        {"elements",
         {{"focus", element(plain, {{subrole, {{"error", -25200}}},
                                    {"AXDOMEditable", "x"},
                                    {"AXValue", "v"},
                                    {parent, refTo("mid")}})},
          {"mid", element(plain, {{parent, refTo("top")}})},
          {"top",
           {{"attributes",
             {{role, plain},
              {"AXSelectedTextMarkerRange", 1},
              {"AXEditableAncestor", refTo("top")}}},
            {"settable", {{"AXValue", {{"error", -25200}}}}}}}}}};
    const auto copy = [](const std::string& id, const std::string& attribute, int status) {
        return json{{"op", "AXUIElementCopyAttributeValue"},
                    {"element", id},
                    {"attribute", attribute},
                    {"status", status}};
    };
    const auto settableValue = [](const std::string& id, int status) {
        return json{{"op", "AXUIElementIsAttributeSettable"},
                    {"element", id},
                    {"attribute", "AXValue"},
                    {"status", status}};
    };
    constexpr int unsupported = -25205;
    const std::vector<json> expected = {
        {{"op", "AXIsProcessTrusted"}, {"result", true}},
        {{"op", "AXUIElementCreateSystemWide"}},
        copy("systemWide", "AXFocusedUIElement", unsupported),
        {{"op", "frontmostApplication"}, {"pid", 501}},
        {{"op", "AXUIElementCreateApplication"}, {"pid", 501}},
        copy("app:501", "AXFocusedUIElement", 0),
        copy("focus", role, 0),
        copy("focus", subrole, -25200),
        copy("focus", "AXEditable", unsupported),
        copy("focus", "AXDOMEditable", 0),
        settableValue("focus", 0),  // listed, not settable
        copy("focus", "AXSelectedTextRange", unsupported),
        copy("focus", "AXSelectedTextMarkerRange", unsupported),
        copy("focus", parent, 0),
        copy("mid", role, 0),
        copy("mid", subrole, unsupported),
        copy("mid", "AXEditable", unsupported),
        copy("mid", "AXDOMEditable", unsupported),
        settableValue("mid", unsupported),
        copy("mid", "AXSelectedTextRange", unsupported),
        copy("mid", "AXSelectedTextMarkerRange", unsupported),
        copy("mid", parent, 0),
        copy("top", role, 0),
        copy("top", subrole, unsupported),
        copy("top", "AXEditable", unsupported),
        copy("top", "AXDOMEditable", unsupported),
        settableValue("top", -25200),
        copy("top", "AXSelectedTextRange", unsupported),
        copy("top", "AXSelectedTextMarkerRange", 0),
        copy("top", "AXEditableAncestor", 0),
        copy("top", role, 0),
        copy("top", subrole, unsupported),
        {{"op", "exit"}, {"liveObjects", 0}, {"machSeconds", 100000.0}},
    };
    const Outcome r = run(scenario);
    EXPECT_EQ(r.result.out, record(true, "ok", plain));
    EXPECT_EQ(r.log, expected);
}

TEST_F(TargetprobeProcess, WorkListStaysSmallWhenEveryChildListsAllItsSiblingsAgain) {
    // 20000 children that are all the focus itself, so every entry taken lists 20000 more; next
    // to 20000 leaves, which list nothing, the peak memory must not grow with them. The address
    // sanitizer's quarantine would hold every freed object, so it is turned off.
    json leaves = json::array();
    json itself = json::array();
    for (int i = 0; i < 20000; ++i) {
        leaves.push_back(refTo("leaf"));
        itself.push_back(refTo("focus"));
    }
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    const Environment noQuarantine = {
        {"ASAN_OPTIONS", std::string(sanitizerOptions == nullptr ? "" : sanitizerOptions) +
                             ":quarantine_size_mb=0"}};
    const Outcome flat =
        run(focusedOn({{"focus", element(plain, {{children, {{"array", leaves}}}})},
                       {"leaf", element(plain)}}),
            noQuarantine);
    const Outcome looped = run(
        focusedOn({{"focus", element(plain, {{children, {{"array", itself}}}})}}), noQuarantine);
    EXPECT_EQ(looped.result.out, record(false, "no_editable_target", plain));
    EXPECT_LT(looped.result.peakResidentKilobytes, 2 * flat.result.peakResidentKilobytes);
}

}  // namespace
