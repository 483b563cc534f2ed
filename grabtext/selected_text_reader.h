// The text selected in the element that has the keyboard focus, read with two accessibility
// queries of our own, and its output as raw UTF-8.
#pragma once

#include <string>
#include <string_view>

// The selection as UTF-16 units; empty for every failure. Writes a message to standard error
// only when the permission is missing or the focus cannot be resolved.
std::u16string readSelectedTextViaAX();

// Writes the text's UTF-8 bytes to standard output in one write, adding nothing; nothing at all
// for an empty text. A lone surrogate comes out as U+FFFD.
void printResult(std::u16string_view text);
