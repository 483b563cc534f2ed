// opuspipe's options come from the host: any argument list must parse without undefined
// behaviour, and integers must read as strtol reads them, clamped to 32 bits.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "opuspipe/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Arguments are the NUL-separated pieces of the input.
    std::vector<std::string> words{"opuspipe"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    words.push_back(current);
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    const int argc = static_cast<int>(argv.size());

    for (const auto& w : words) {
        const long expected = std::strtol(w.c_str(), nullptr, 10);
        const long clamped = expected < INT_MIN ? INT_MIN : expected > INT_MAX ? INT_MAX : expected;
        if (parse_int(w.c_str()) != clamped) {
            std::abort();
        }
    }
    (void)read_int_arg(argc, argv.data(), "--sample-rate", 16000);
    (void)read_bool_arg(argc, argv.data(), "--vbr", true);
    (void)signal_from_arg(read_string_arg(argc, argv.data(), "--signal", "voice"));
    (void)frame_duration_from_ms(read_int_arg(argc, argv.data(), "--frame-size", 20));
    const std::optional<int> max_delay = read_optional_int_arg(argc, argv.data(), "--max-delay");
    // libopusenc refuses a negative delay and reads 0 as none.
    if (max_delay &&
        (muxing_delay_from_ms(*max_delay) < 1 || muxing_delay_from_ms(*max_delay) > 48000)) {
        std::abort();
    }
    return 0;
}
