// Which key types a letter in the keyboard layout the user has selected right now.
#pragma once

#include <cstdint>
#include <string_view>

// The lowest key code, 0 to 127, whose key pressed without modifiers types `character`, compared
// as whole texts after full lower-casing of both; `fallback` when the layout cannot be asked or
// no key types it. Never fails and says nothing.
uint16_t keyCodeForCharacter(std::u16string_view character, uint16_t fallback);
