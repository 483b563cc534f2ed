// fieldscan, targetprobe and grabtext hand the host their whole result in one write: a host may
// take its first read as the answer. Counted by a preloaded shim, whatever the C library. And a
// host that stops reading still gets status 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;

constexpr size_t resultBytes = 100 * 1000;  // more than a pipe holds (64 KiB)

// The focus on "field", which has these attributes.
json focusedField(json attributes) {
    return {{"systemWide", {{"attributes", {{"AXFocusedUIElement", {{"element", "field"}}}}}}},
            {"frontmostApplication", {{"pid", 501}, {"bundleIdentifier", "com.example.editor"}}},
            {"applications",
             {{"501", {{"attributes", {{"AXFocusedUIElement", {{"element", "field"}}}}}}}}},
            {"elements", {{"field", {{"attributes", std::move(attributes)}}}}}};
}

struct Reader {
    const char* program;
    json attributes;  // of the focused field, for a result of resultBytes or more
};

std::vector<Reader> readers() {
    const std::string text(resultBytes, 'x');
    return {
        {FIELDSCAN_PATH, {{"AXRole", "AXTextField"}, {"AXValue", text}}},
        {TARGETPROBE_PATH, {{"AXRole", text}}},
        {GRABTEXT_PATH, {{"AXSelectedText", text}}},
    };
}

TEST(ReaderOutput, AResultOfAHundredKilobytesLeavesInOneWriteCall) {
    // A preloaded library comes before ASan's runtime, which would refuse to start otherwise.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string(asan == nullptr ? "" : asan) + ":verify_asan_link_order=0";
    for (const auto& reader : readers()) {
        const ScratchDir dir;
        const ProcessResult result = runProcess(
            {.arguments = {reader.program},
             .environment = {{"STANDIN_SCENARIO",
                              dir.write("scenario.json", focusedField(reader.attributes).dump())},
                             {"LD_PRELOAD", WRITE_COUNTER_PATH},
                             {"ASAN_OPTIONS", asanOptions},
                             {"WRITE_COUNTER_LOG", dir.path("writes")}}});
        ASSERT_EQ(result.exitStatus, 0) << reader.program << result.err;
        ASSERT_GE(result.out.size(), resultBytes) << reader.program;
        std::vector<size_t> writes;
        std::ifstream log(dir.path("writes"));
        for (size_t bytes = 0; log >> bytes;) {
            writes.push_back(bytes);
        }
        EXPECT_EQ(writes, std::vector<size_t>{result.out.size()}) << reader.program;
    }
}

TEST(ReaderOutput, ANonBlockingPipeStillGetsTheWholeResult) {
    for (const auto& reader : readers()) {
        const ScratchDir dir;
        const ProcessResult result = runProcess(
            {.arguments = {reader.program},
             .environment = {{"STANDIN_SCENARIO",
                              dir.write("scenario.json", focusedField(reader.attributes).dump())}},
             .nonBlockingOutput = true});
        EXPECT_EQ(result.exitStatus, 0) << reader.program;
        EXPECT_GE(result.out.size(), resultBytes) << reader.program;
    }
}

TEST(ReaderOutput, AHostThatStopsReadingStillGetsStatusZero) {
    // The result is larger than a pipe holds, so its write meets the closed pipe whenever the
    // host closes it.
    for (const auto& reader : readers()) {
        const ScratchDir dir;
        Process process({.arguments = {reader.program},
                         .environment = {{"STANDIN_SCENARIO",
                                          dir.write("scenario.json",
                                                    focusedField(reader.attributes).dump())}}});
        process.closeOutput();
        const ProcessResult result = process.finish();
        EXPECT_EQ(result.signal, 0) << reader.program;
        EXPECT_EQ(result.exitStatus, 0) << reader.program;
    }
}

}  // namespace
