// Which key types a letter in the keyboard layout the user has selected right now.
#pragma once

#include <cstdint>
#include <string_view>

// The key the application will read as `character` with Command held: in the keyboard layout
// (that of the current layout source, an input method's, the ASCII-capable one or the current
// source's, the first that has layout data), the lowest key code, 0 to 127, whose key with
// Command types `character`, else the lowest whose key without modifiers does, compared as whole
// texts after full lower-casing of both; `fallback` when no layout can be read or no key types
// it. Never fails and says nothing.
uint16_t keyCodeForCharacter(std::u16string_view character, uint16_t fallback);
