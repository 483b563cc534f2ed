// The encoding-failure path, reached with texts the encoder refuses: bytes that are not UTF-8.
#include "targetprobe/insert_target_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// What a stream received, read back from the start.
std::string contentsOf(FILE* file) {
    std::rewind(file);
    std::string bytes;
    char buffer[256];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        bytes.append(buffer, n);
    }
    return bytes;
}

struct Written {
    std::string out;
    std::string err;
};

Written written(const InsertTargetCheck& check) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    writeCheck(check, fileno(out), fileno(err));
    Written result{contentsOf(out), contentsOf(err)};
    std::fclose(out);
    std::fclose(err);
    return result;
}

TEST(InsertTargetCheckOutput, TextThatIsNotUtf8GivesTheFallbackAfterTheMessage) {
    const std::string notUtf8[] = {"\xff", "AX\xc3", "\xed\xa0\x80"};  // the last: a surrogate
    for (const auto& bad : notUtf8) {
        for (const auto& check :
             {InsertTargetCheck{false, InsertTargetCheck::noEditableTarget, bad, ""},
              InsertTargetCheck{true, InsertTargetCheck::ok, "AXTextField", bad},
              InsertTargetCheck{false, bad, "", ""}}) {
            EXPECT_FALSE(encodeCheck(check).has_value());
            const Written w = written(check);
            EXPECT_EQ(w.out,
                      R"({"canInsert":false,"reason":"encode_failed","role":"","subrole":""})");
            EXPECT_EQ(w.err, "[targetprobe] failed to encode result\n");
        }
    }
}

}  // namespace
