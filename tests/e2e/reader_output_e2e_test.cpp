// fieldscan, targetprobe and grabtext hand the host their whole result in one write(2), counted
// by a preloaded shim: a host may take its first read as the answer. A non-blocking pipe still
// gets all of it, and a host that stops reading still gets status 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

using nlohmann::json;

constexpr size_t resultBytes = 100 * 1000;  // more than a pipe holds (64 KiB)

TEST(ReaderOutput, OneWriteOfTheWholeResultWhateverThePipe) {
    const std::string text(resultBytes, 'x');
    const std::pair<const char*, json> readers[] = {
        {FIELDSCAN_PATH, {{"AXRole", "AXTextField"}, {"AXValue", text}}},
        {TARGETPROBE_PATH, {{"AXRole", text}}},
        {GRABTEXT_PATH, {{"AXSelectedText", text}}},
    };
    // A preloaded library comes before ASan's runtime, which would refuse to start otherwise.
    const char* asan = std::getenv("ASAN_OPTIONS");
    for (const auto& [program, field] : readers) {
        const ScratchDir dir;
        const json focus = {{"attributes", {{"AXFocusedUIElement", {{"element", "field"}}}}}};
        const json scenario = {
            {"systemWide", focus},
            {"frontmostApplication", {{"pid", 501}, {"bundleIdentifier", nullptr}}},
            {"applications", {{"501", focus}}},
            {"elements", {{"field", {{"attributes", field}}}}}};
        ProcessOptions options{
            .arguments = {program},
            .environment = {{"STANDIN_SCENARIO", dir.write("scenario.json", scenario.dump())}}};
        ProcessResult result = runProcess(options);
        EXPECT_EQ(result.exitStatus, 0) << program;
        ASSERT_GE(result.out.size(), resultBytes) << program;
        const size_t whole = result.out.size();

        options.environment.push_back({"LD_PRELOAD", PRELOAD_SHIM_PATH});
        options.environment.push_back({"WRITE_COUNTER_LOG", dir.path("writes")});
        options.environment.push_back(
            {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"});
        EXPECT_EQ(runProcess(options).out.size(), whole) << program;
        std::ifstream log(dir.path("writes"));
        EXPECT_EQ(std::vector<size_t>(std::istream_iterator<size_t>(log), {}),
                  std::vector<size_t>{whole})
            << program;

        options.nonBlockingOutput = true;
        result = runProcess(options);
        EXPECT_EQ(result.out.size(), whole) << program << ", non-blocking";

        Process stopped(options);
        stopped.closeOutput();
        result = stopped.finish();
        EXPECT_EQ(result.signal, 0) << program;
        EXPECT_EQ(result.exitStatus, 0) << program;
    }
}

}  // namespace
