// Text operations that need Unicode data, answered by the platform's string services. Texts are
// UTF-16, the unit of the accessibility interface's offsets.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The full lower-case mapping, with no language rules (the same on every Mac whatever its
// language): "\u0130" becomes "i\u0307", "\u00C9" becomes "\u00E9".
std::u16string lowercased(std::u16string_view text);

// The text without the platform's white space and newline characters (general category Z,
// U+0009 to U+000D, U+0085) at either end; the inside is left alone.
std::u16string_view trimmed(std::u16string_view text);

struct TextSpan {
    size_t location;  // UTF-16 code units
    size_t length;
};

// The first occurrence of `wanted` in `text`, case-sensitive, where canonically equivalent
// sequences match (a precomposed letter matches the letter with a combining mark). Nothing when
// `wanted` is empty or absent.
std::optional<TextSpan> findCanonicallyEquivalent(std::u16string_view text,
                                                  std::u16string_view wanted);

// Equality under canonical equivalence.
bool canonicallyEqual(std::u16string_view first, std::u16string_view second);
