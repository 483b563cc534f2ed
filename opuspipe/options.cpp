#include "opuspipe/options.h"

#include <opus_defines.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// opusenc's bounds for its --max-delay, in milliseconds.
constexpr int shortest_max_delay_ms = 0;
constexpr int longest_max_delay_ms = 1000;
constexpr int samples_per_ms = 48;  // libopusenc counts its delays at 48 kHz

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Index of the value after the first `name` that has one, or -1.
int find_value(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return i + 1;
        }
    }
    return -1;
}

}  // namespace

int parse_int(const char* text) {
    while (is_blank(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    // Accumulate in 64 bits and stop growing past the limit: no overflow, whatever the length.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

int read_int_arg(int argc, char** argv, const char* name, int default_value) {
    return read_optional_int_arg(argc, argv, name).value_or(default_value);
}

std::optional<int> read_optional_int_arg(int argc, char** argv, const char* name) {
    const int at = find_value(argc, argv, name);
    if (at < 0) {
        return std::nullopt;
    }
    return parse_int(argv[at]);
}

const char* read_string_arg(int argc, char** argv, const char* name, const char* default_value) {
    const int at = find_value(argc, argv, name);
    return at < 0 ? default_value : argv[at];
}

bool read_bool_arg(int argc, char** argv, const char* name, bool default_value) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) != 0) {
            continue;
        }
        if (i + 1 == argc) {
            return true;
        }
        const char* value = argv[i + 1];
        return !(std::strcmp(value, "false") == 0 || std::strcmp(value, "0") == 0);
    }
    return default_value;
}

int signal_from_arg(const char* text) {
    if (std::strcmp(text, "voice") == 0) {
        return OPUS_SIGNAL_VOICE;
    }
    if (std::strcmp(text, "music") == 0) {
        return OPUS_SIGNAL_MUSIC;
    }
    return OPUS_AUTO;
}

int frame_duration_from_ms(int ms) {
    switch (ms) {
        case 2:
            return OPUS_FRAMESIZE_2_5_MS;
        case 5:
            return OPUS_FRAMESIZE_5_MS;
        case 10:
            return OPUS_FRAMESIZE_10_MS;
        case 40:
            return OPUS_FRAMESIZE_40_MS;
        case 60:
            return OPUS_FRAMESIZE_60_MS;
        default:
            return OPUS_FRAMESIZE_20_MS;
    }
}

int muxing_delay_from_ms(int ms) {
    const int samples =
        std::clamp(ms, shortest_max_delay_ms, longest_max_delay_ms) * samples_per_ms;
    // libopusenc reads a delay of 0 as no limit at all; one sample gives each packet its page.
    return std::max(samples, 1);
}
