#include "opuspipe/options.h"

#include <gtest/gtest.h>
#include <opus_defines.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace {

// argv for the readers, the program name first.
class Args {
  public:
    Args(std::initializer_list<std::string> words) : Args(std::vector<std::string>(words)) {}
    explicit Args(const std::vector<std::string>& words) : strings{"opuspipe"} {
        strings.insert(strings.end(), words.begin(), words.end());
        for (auto& s : strings) {
            pointers.push_back(s.data());
        }
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }

  private:
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

TEST(ParseInt, ReadsLikeAtoiWithoutOverflow) {
    const std::pair<const char*, int> cases[] = {
        {"16000", 16000},
        {"16k", 16},
        {"abc", 0},
        {"", 0},
        {"2.5", 2},
        {"  \t-5", -5},
        {"+7x", 7},
        {"- 5", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", INT_MAX},
        {"4294967297", INT_MAX},  // must not wrap around to 1
        {"-99999999999999999999999999", INT_MIN},
        {"000000000000000000000000012", 12},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(parse_int(text), value) << '"' << text << '"';
    }
}

TEST(ReadArgs, FirstOccurrenceWithAValueWins) {
    Args a{"--bitrate", "--sample-rate", "8000", "--bitrate", "24000"};
    // Every position is examined: the first "--bitrate" takes "--sample-rate" as its value.
    EXPECT_EQ(read_int_arg(a.argc(), a.argv(), "--bitrate", 16000), 0);
    EXPECT_EQ(read_int_arg(a.argc(), a.argv(), "--sample-rate", 16000), 8000);
    EXPECT_EQ(read_int_arg(a.argc(), a.argv(), "--channels", 1), 1);

    Args last{"--signal", "music", "--bitrate"};
    EXPECT_EQ(read_int_arg(last.argc(), last.argv(), "--bitrate", 16000), 16000);
    EXPECT_STREQ(read_string_arg(last.argc(), last.argv(), "--signal", "voice"), "music");

    Args programOnly{};
    EXPECT_STREQ(read_string_arg(programOnly.argc(), programOnly.argv(), "--signal", "voice"),
                 "voice");
}

TEST(ReadArgs, VbrIsASwitchOrAWord) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{}, true},
        {{"--vbr"}, true},
        {{"--vbr", "--bitrate", "8000"}, true},
        {{"--vbr", "0"}, false},
        {{"--vbr", "false"}, false},
        {{"--vbr", "no"}, true},
        {{"--vbr", "FALSE"}, true},
        {{"--vbr", "true"}, true},
        {{"--vbr", "1"}, true},
        {{"--vbr", "0", "--vbr", "1"}, false},
    };
    for (const auto& [words, value] : cases) {
        Args a(words);
        EXPECT_EQ(read_bool_arg(a.argc(), a.argv(), "--vbr", true), value);
    }
    Args none{};
    EXPECT_FALSE(read_bool_arg(none.argc(), none.argv(), "--vbr", false));
}

TEST(OptionTables, SignalAndFrameDuration) {
    EXPECT_EQ(signal_from_arg("voice"), 3001);
    EXPECT_EQ(signal_from_arg("music"), 3002);
    EXPECT_EQ(signal_from_arg("Music"), OPUS_AUTO);
    EXPECT_EQ(signal_from_arg(""), -1000);

    const std::pair<int, int> frames[] = {{2, 5001},   {5, 5002},      {10, 5003}, {20, 5004},
                                          {40, 5005},  {60, 5006},     {30, 5004}, {0, 5004},
                                          {-20, 5004}, {INT_MAX, 5004}};
    for (const auto& [ms, value] : frames) {
        EXPECT_EQ(frame_duration_from_ms(ms), value) << ms;
    }
}

TEST(OptionTables, MaxDelayInSamplesOnlyWhenGiven) {
    const std::pair<std::vector<std::string>, std::optional<int>> cases[] = {
        {{}, std::nullopt},
        {{"--max-delay"}, std::nullopt},
        {{"--max-delay", "200"}, 9600},
        {{"--max-delay", "100ms"}, 4800},
        {{"--max-delay", "0"}, 1},  // 0 would be no limit to the library,
        {{"--max-delay", "1000"}, 48000},
        {{"--max-delay", "-1"}, 1},
        {{"--max-delay", "1001"}, 48000},
        {{"--max-delay", "-99999999999"}, 1},
        {{"--max-delay", "4294967297"}, 48000},
        {{"--max-delay", "abc"}, 1},
    };
    for (const auto& [words, samples] : cases) {
        Args a(words);
        const std::optional<int> ms = read_optional_int_arg(a.argc(), a.argv(), "--max-delay");
        ASSERT_EQ(ms.has_value(), samples.has_value()) << ::testing::PrintToString(words);
        if (ms) {
            EXPECT_EQ(muxing_delay_from_ms(*ms), *samples) << ::testing::PrintToString(words);
        }
    }
}

}  // namespace
