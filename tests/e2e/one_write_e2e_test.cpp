// fieldscan, targetprobe and grabtext hand the host their whole result in one write: a host may
// take its first read as the answer. Counted by a preloaded shim, whatever the C library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;

constexpr size_t resultBytes = 100 * 1000;

// The focus on "field", which has these attributes.
json focusedField(json attributes) {
    return {{"systemWide", {{"attributes", {{"AXFocusedUIElement", {{"element", "field"}}}}}}},
            {"frontmostApplication", {{"pid", 501}, {"bundleIdentifier", "com.example.editor"}}},
            {"applications",
             {{"501", {{"attributes", {{"AXFocusedUIElement", {{"element", "field"}}}}}}}}},
            {"elements", {{"field", {{"attributes", std::move(attributes)}}}}}};
}

TEST(OneWrite, AResultOfAHundredKilobytesLeavesInOneWriteCall) {
    const std::string text(resultBytes, 'x');
    const struct {
        const char* program;
        json attributes;
    } cases[] = {
        {FIELDSCAN_PATH, {{"AXRole", "AXTextField"}, {"AXValue", text}}},
        {TARGETPROBE_PATH, {{"AXRole", text}}},
        {GRABTEXT_PATH, {{"AXSelectedText", text}}},
    };
    // A preloaded library comes before ASan's runtime, which would refuse to start otherwise.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string(asan == nullptr ? "" : asan) + ":verify_asan_link_order=0";
    for (const auto& c : cases) {
        const ScratchDir dir;
        const ProcessResult result = runProcess(
            {.arguments = {c.program},
             .environment = {{"STANDIN_SCENARIO",
                              dir.write("scenario.json", focusedField(c.attributes).dump())},
                             {"LD_PRELOAD", WRITE_COUNTER_PATH},
                             {"ASAN_OPTIONS", asanOptions},
                             {"WRITE_COUNTER_LOG", dir.path("writes")}}});
        ASSERT_EQ(result.exitStatus, 0) << c.program << result.err;
        ASSERT_GE(result.out.size(), resultBytes) << c.program;
        std::vector<size_t> writes;
        std::ifstream log(dir.path("writes"));
        for (size_t bytes = 0; log >> bytes;) {
            writes.push_back(bytes);
        }
        EXPECT_EQ(writes, std::vector<size_t>{result.out.size()}) << c.program;
    }
}

}  // namespace
