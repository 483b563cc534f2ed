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
// U+0009 to U+000D, U+0085, and the zero width space U+200B) at either end; the inside is left
// alone.
std::u16string_view trimmed(std::u16string_view text);

struct TextSpan {
    size_t location;  // UTF-16 code units
    size_t length;
};

// The first occurrence of `wanted` in `text`, case-sensitive, where canonically equivalent
// sequences match (a precomposed letter matches the letter with a combining mark), as the
// platform's non-literal search finds it: it reads UTF-16 units, so a match may start or end on a
// mark or between the halves of a pair, and it never ends before a grapheme extender (a variation
// selector, a skin tone) or inside a grapheme cluster after a joiner (Hangul jamo, a virama, a
// zero width joiner). Nothing when `wanted` is empty or absent.
std::optional<TextSpan> findCanonicallyEquivalent(std::u16string_view text,
                                                  std::u16string_view wanted);

// Equality under canonical equivalence, as the platform's non-literal comparison has it (which
// leaves a character above U+FFFF unfolded when its decomposition shares its lead surrogate).
bool canonicallyEqual(std::u16string_view first, std::u16string_view second);
