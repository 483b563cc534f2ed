// Conversions between platform strings and our text types. Texts cut at UTF-16 offsets stay
// std::u16string until they are written out as UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/cf_ref.h"
#include "platform/core_foundation.h"

// The UTF-16 code units of a platform string; empty for null.
std::u16string toUtf16(CFStringRef string);

// UTF-8 of a platform string; a lone surrogate becomes U+FFFD. Empty for null.
std::string toUtf8(CFStringRef string);

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// The UTF-16 code units of UTF-8 text; empty when the bytes are not UTF-8.
std::u16string utf8ToUtf16(std::string_view utf8);

// A new platform string from UTF-8 text; null when the bytes are not UTF-8.
CFRef<CFStringRef> makeCFString(std::string_view utf8);

// A new platform string holding these UTF-16 code units as they are.
CFRef<CFStringRef> makeCFString(std::u16string_view units);
