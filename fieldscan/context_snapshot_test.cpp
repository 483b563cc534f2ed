#include "fieldscan/context_snapshot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

namespace {

// What writeSnapshot leaves on the two streams.
std::pair<std::string, std::string> written(const std::optional<std::string>& encoded) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    writeSnapshot(encoded, fileno(out), fileno(err));
    std::pair<std::string, std::string> streams;
    for (auto [file, text] : {std::pair{out, &streams.first}, std::pair{err, &streams.second}}) {
        std::rewind(file);
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
            *text += static_cast<char>(c);
        }
        std::fclose(file);
    }
    return streams;
}

TEST(WriteSnapshot, WritesTheRecordOrElseTheMessageAndTheFallback) {
    using Streams = std::pair<std::string, std::string>;
    EXPECT_EQ(written(R"({"role":"x"})"), Streams(R"({"role":"x"})", ""));
    const auto [out, err] = written(std::nullopt);
    EXPECT_EQ(err, "[fieldscan] failed to encode snapshot\n");
    EXPECT_EQ(out, ContextSnapshot::fallbackText);
    EXPECT_EQ(out.size(), 173u);
    EXPECT_EQ(encodeSnapshot(ContextSnapshot{}), out);  // the empty snapshot, byte for byte
}

}  // namespace
