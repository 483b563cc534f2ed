// grabtext as a process: its outcome for every failure and the queries each takes, and the
// selected text written as exactly its UTF-8 bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;
using Queries = std::vector<std::string>;  // "ELEMENT ATTRIBUTE", in order

const std::string permissionMessage = "[grabtext] accessibility permission is required\n";
const std::string noFocusMessage = "[grabtext] failed to resolve focused element\n";
const std::string focusQuery = "systemWide AXFocusedUIElement";
const std::string subroleQuery = "field AXSubrole";
const std::string selectionQuery = "field AXSelectedText";

// The system-wide focus answers `focusAnswer`; "field" has `fieldAttributes`. An application in
// front knows the focus too, which must never be asked.
json scenarioWith(json focusAnswer, json fieldAttributes = json::object()) {
    return {{"frontmostApplication", {{"pid", 501}, {"bundleIdentifier", "com.example.editor"}}},
            {"applications",
             {{"501", {{"attributes", {{"AXFocusedUIElement", {{"element", "field"}}}}}}}}},
            {"systemWide", {{"attributes", {{"AXFocusedUIElement", std::move(focusAnswer)}}}}},
            {"elements", {{"field", {{"attributes", std::move(fieldAttributes)}}}}}};
}

json selecting(json selectedText) {
    return scenarioWith({{"element", "field"}}, {{"AXSelectedText", std::move(selectedText)}});
}

struct Outcome {
    ProcessResult result;
    std::vector<json> log;

    Queries queries() const {
        Queries made;
        for (const auto& r : recordsOf(log, "AXUIElementCopyAttributeValue")) {
            made.push_back(r.at("element").get<std::string>() + " " +
                           r.at("attribute").get<std::string>());
        }
        return made;
    }
};

class GrabtextProcess : public ::testing::Test {
  protected:
    // Whatever the scenario: status 0, nothing left alive, no second way to the focus.
    Outcome run(const json& scenario) {
        std::remove(dir.path("log.jsonl").c_str());
        Outcome r{
            runProcess({
                .arguments = {GRABTEXT_PATH},
                .environment = {{"STANDIN_SCENARIO", dir.write("scenario.json", scenario.dump())},
                                {"STANDIN_LOG", dir.path("log.jsonl")}},
                .stdinPath = std::nullopt,
                .stdoutPath = std::nullopt,
            }),
            {}};
        r.log = readLog(dir.path("log.jsonl"));
        EXPECT_FALSE(r.result.timedOut);
        EXPECT_EQ(r.result.exitStatus, 0);
        const auto exits = recordsOf(r.log, "exit");
        EXPECT_EQ(exits.size(), 1u);
        EXPECT_EQ(exits.empty() ? -1 : exits[0].at("liveObjects").get<long>(), 0);
        EXPECT_EQ(recordsOf(r.log, "frontmostApplication").size(), 0u);
        EXPECT_EQ(recordsOf(r.log, "AXUIElementCreateApplication").size(), 0u);
        return r;
    }

    ScratchDir dir;
};

TEST_F(GrabtextProcess, EveryFailureWithItsMessageAndTheQueriesItTakes) {
    json untrusted = selecting("secret");
    untrusted["trusted"] = false;
    json noFocus = scenarioWith(nullptr);
    noFocus["systemWide"]["attributes"].erase("AXFocusedUIElement");
    struct Case {
        const char* name;
        json scenario;
        std::string err;
        std::string out;
        Queries queries;
    };
    const Queries focusOnly = {focusQuery};
    const Queries all = {focusQuery, subroleQuery, selectionQuery};
    json password = selecting("hunter2");
    password["elements"]["field"]["attributes"]["AXSubrole"] = "AXSecureTextField";
    const Case cases[] = {
        {"no permission: not a single query", untrusted, permissionMessage, "", {}},
        {"no focused element", noFocus, noFocusMessage, "", focusOnly},
        {"the focus query fails", scenarioWith({{"error", -25204}}), noFocusMessage, "", focusOnly},
        {"the focus is null", scenarioWith(nullptr), noFocusMessage, "", focusOnly},
        {"the focus is a text", scenarioWith("field"), noFocusMessage, "", focusOnly},
        {"the focus is a list holding an element",
         scenarioWith({{"array", json::array({{{"element", "field"}}})}}), noFocusMessage, "",
         focusOnly},
        {"no AXSelectedText", scenarioWith({{"element", "field"}}), "", "", all},
        {"AXSelectedText fails", selecting({{"error", -25212}}), "", "", all},
        {"AXSelectedText is null", selecting(nullptr), "", "", all},
        {"AXSelectedText is rich text", selecting({{"attributedString", "rich"}}), "", "", all},
        {"AXSelectedText is a number", selecting(7), "", "", all},
        {"nothing selected", selecting(""), "", "", all},
        {"a selection", selecting("selected words"), "", "selected words", all},
        {"a password field: nothing, its text never asked",
         password,
         "",
         "",
         {focusQuery, subroleQuery}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(c.scenario);
        EXPECT_EQ(r.result.err, c.err);
        EXPECT_EQ(r.result.out, c.out);
        EXPECT_EQ(r.queries(), c.queries);
        EXPECT_EQ(recordsOf(r.log, "AXUIElementCreateSystemWide").size(),
                  c.queries.empty() ? 0u : 1u);
    }
}

TEST_F(GrabtextProcess, WritesExactlyTheUtf8OfTheSelection) {
    const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD
    const std::string longText = std::string(100000, 'x') + "\u00e9";
    struct Case {
        const char* name;
        json selection;
        std::string out;
    };
    const Case cases[] = {
        {"ending in a line feed", "two\nlines\n", "two\nlines\n"},
        {"outside ASCII", "caf\u00e9 \u2713 \U0001F600 \u0395\u03bb",
         "caf\u00e9 \u2713 \U0001F600 \u0395\u03bb"},
        {"quotes, backslash and slash unescaped", R"(say "hi" \ / {})", R"(say "hi" \ / {})"},
        {"a NUL inside", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"a pair of surrogates", {{"utf16", {0xD83D, 0xDE00}}}, "\U0001F600"},
        {"a lone lead surrogate", {{"utf16", {0x61, 0xD83D, 0x62}}}, "a" + replacement + "b"},
        {"a lone trail surrogate at the end", {{"utf16", {0x78, 0xDE00}}}, "x" + replacement},
        {"a pair the wrong way round", {{"utf16", {0xDE00, 0xD83D}}}, replacement + replacement},
        {"a long selection", longText, longText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(selecting(c.selection));
        EXPECT_EQ(r.result.err, "");
        EXPECT_EQ(r.result.out, c.out);
    }
}

// Each example world with a focused element names it system-wide, as a Mac does outside
// Spotlight and its kind, so that every reader finds the same focus in it; an example that
// answers a focus anywhere must be in the table.
TEST(GrabtextExamples, FindTheFocusOfEveryExampleWithOne) {
    struct Example {
        std::string out;
        std::string err;
    };
    const std::map<std::string, Example> examples = {
        {"fieldscan/editor-caret.json", {"", ""}},
        {"fieldscan/editor-selection.json", {"draft", ""}},
        {"fieldscan/browser-page.json", {"", ""}},
        {"fieldscan/no-permission.json", {"", permissionMessage}},
        {"targetprobe/table.json", {"", ""}},
        {"targetprobe/web-area.json", {"", ""}},
        {"targetprobe/no-focus.json", {"", noFocusMessage}},
        {"grabtext/selection.json",
         {"ship the beta on Friday.\n\"Release notes\" \\ caf\u00e9 at 10/12", ""}},
    };
    size_t checked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(EXAMPLES)) {
        const std::string name = std::filesystem::relative(entry.path(), EXAMPLES).generic_string();
        if (entry.path().extension() != ".json") {
            continue;
        }
        std::ifstream file(entry.path());
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        if (text.find("AXFocusedUIElement") == std::string::npos) {
            continue;
        }
        const auto example = examples.find(name);
        ASSERT_NE(example, examples.end()) << name << " answers a focus: add it to the table";
        const ProcessResult r =
            runProcess({.arguments = {GRABTEXT_PATH},
                        .environment = {{"STANDIN_SCENARIO", entry.path().string()}}});
        EXPECT_EQ(r.err, example->second.err) << name;
        EXPECT_EQ(r.out, example->second.out) << name;
        ++checked;
    }
    EXPECT_EQ(checked, examples.size());
}

}  // namespace
