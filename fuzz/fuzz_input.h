// Turns fuzz bytes into the choices, numbers and UTF-16 texts the targets need. Reads from the
// front; an exhausted input reads as zeros, so every prefix of an input is itself a valid input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

// A failed check: libFuzzer reports the abort with the input that caused it.
inline void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// The platform's white space and newline set (general category Z, U+0009 to U+000D, U+0085
// and the zero width space), written out here so that the checks do not lean on the trimming
// they test.
inline bool isBlank(char16_t unit) {
    return (unit >= 0x09 && unit <= 0x0D) || unit == 0x20 || unit == 0x85 || unit == 0xA0 ||
           unit == 0x1680 || (unit >= 0x2000 && unit <= 0x200B) || unit == 0x2028 ||
           unit == 0x2029 || unit == 0x202F || unit == 0x205F || unit == 0x3000;
}

inline std::u16string_view trimBlanks(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

class Input {
  public:
    Input(const uint8_t* data, size_t size) : at(data), left(size) {}

    bool exhausted() const { return left == 0; }

    uint8_t byte() {
        if (left == 0) {
            return 0;
        }
        --left;
        return *at++;
    }

    bool flag() { return (byte() & 1) != 0; }

    // 0 to count - 1; count must be at least 1.
    size_t below(size_t count) {
        size_t raw = byte();
        if (count > 256) {
            raw = raw << 8 | byte();
        }
        return raw % count;
    }

    uint64_t raw64() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = value << 8 | byte();
        }
        return value;
    }

    // One code unit: mostly ASCII, often one of the units that trouble text code (surrogate
    // halves, white space outside ASCII, combining marks, the characters JSON escapes), and any
    // unit at all when the input asks for it.
    char16_t unit() {
        static constexpr std::array<char16_t, 36> awkward = {
            0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00, 0xFFFD, 0xFEFF, 0xFFFF,
            0x0000, 0x0085, 0x00A0, 0x2028, 0x2029, 0x3000, 0x1680, 0x0301, 0x00E9,
            0x0065, 0x0130, 0x212B, 0x00C5, 0x0041, 0x030A, 0x002F, 0x0022, 0x005C,
            0x007F, 0x001F, 0x0009, 0x000A, 0x0020, 0x0308, 0x1E0B, 0x0323, 0x0064};
        const uint8_t b = byte();
        if (b < 0x80) {
            return b;
        }
        if (b < 0xE0) {
            return awkward[(b - 0x80) % awkward.size()];
        }
        const auto high = static_cast<char16_t>(byte() << 8);
        return static_cast<char16_t>(high | byte());
    }

    // Up to `maxUnits` units, the count read first.
    std::u16string text(size_t maxUnits) {
        std::u16string made(below(maxUnits + 1), u'\0');
        for (auto& u : made) {
            u = unit();
        }
        return made;
    }

    // Raw bytes, up to `maxBytes`, the count read first.
    std::string bytes(size_t maxBytes) {
        std::string made(below(maxBytes + 1), '\0');
        for (auto& c : made) {
            c = static_cast<char>(byte());
        }
        return made;
    }

  private:
    const uint8_t* at;
    size_t left;
};

// UTF-8 of UTF-16 with a lone surrogate as U+FFFD, written here rather than taken from the
// product, so that a wrong conversion cannot agree with itself.
inline std::string expectedUtf8(std::u16string_view units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace fuzz
