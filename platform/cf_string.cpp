#include "platform/cf_string.h"

#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>

std::u16string toUtf16(CFStringRef string) {
    if (string == nullptr) {
        return {};
    }
    const CFIndex length = CFStringGetLength(string);
    std::u16string units(static_cast<size_t>(length), u'\0');
    if (length > 0) {
        CFStringGetCharacters(string, CFRange{0, length}, reinterpret_cast<UniChar*>(units.data()));
    }
    return units;
}

std::string toUtf8(CFStringRef string) {
    return utf16ToUtf8(toUtf16(string));
}

std::string utf16ToUtf8(std::u16string_view text) {
    // ICU takes 32-bit lengths, so very long texts go in pieces that never split a pair.
    constexpr size_t pieceUnits = size_t{1} << 20;
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        size_t units = std::min(text.size(), pieceUnits);
        if (units < text.size() && U16_IS_LEAD(text[units - 1])) {
            --units;
        }
        // Each UTF-16 unit yields at most three UTF-8 bytes (U+FFFD included).
        std::string piece(units * 3, '\0');
        int32_t written = 0;
        int32_t substitutions = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8WithSub(piece.data(), static_cast<int32_t>(piece.size()), &written,
                           reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(units),
                           0xFFFD, &substitutions, &status);
        if (U_FAILURE(status)) {
            return {};
        }
        out.append(piece, 0, static_cast<size_t>(written));
        text.remove_prefix(units);
    }
    return out;
}

CFRef<CFStringRef> makeCFString(std::string_view utf8) {
    return CFRef<CFStringRef>(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                                static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}
