#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "opuspipe/opuspipe.h"

namespace {

// Leaves one byte in stdout's buffer, on `path`, and exits with close_callback's answer.
[[noreturn]] void closeWithPendingByte(const char* path) {
    if (std::freopen(path, "w", stdout) == nullptr || std::fputc('x', stdout) == EOF) {
        std::_Exit(2);
    }
    std::_Exit(close_callback(nullptr));
}

// Run in a child: stdout is reopened there, not in the test runner.
TEST(CloseCallback, ReportsWhetherTheLastBytesLeftStdout) {
    // The byte is still buffered, so only the flush finds out that the device is full.
    EXPECT_EXIT(closeWithPendingByte("/dev/full"), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(closeWithPendingByte("/dev/null"), ::testing::ExitedWithCode(0), "");
}

}  // namespace
