#include "platform/cf_string.h"

namespace {

constexpr bool isLeadSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool isTrailSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// What the platform's UTF-8 converter does with a lone surrogate is not specified (it may stop
// or write an invalid sequence), so each one is made U+FFFD before the text is handed over.
// Returns the text itself when it has none, which is nearly always.
std::u16string_view withoutLoneSurrogates(std::u16string_view text, std::u16string& repaired) {
    const auto lone = [&](size_t i) {
        return (isLeadSurrogate(text[i]) &&
                (i + 1 == text.size() || !isTrailSurrogate(text[i + 1]))) ||
               (isTrailSurrogate(text[i]) && (i == 0 || !isLeadSurrogate(text[i - 1])));
    };
    size_t i = 0;
    while (i < text.size() && !lone(i)) {
        ++i;
    }
    if (i == text.size()) {
        return text;
    }
    repaired.assign(text);
    for (; i < text.size(); ++i) {
        if (lone(i)) {
            repaired[i] = u'\uFFFD';
        }
    }
    return repaired;
}

}  // namespace

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
    std::u16string repaired;
    const std::u16string_view units = withoutLoneSurrogates(text, repaired);
    const CFRef<CFStringRef> string = makeCFString(units);
    if (!string) {
        return {};
    }
    // Each UTF-16 unit yields at most three UTF-8 bytes.
    const auto length = static_cast<CFIndex>(units.size());
    std::string out(units.size() * 3, '\0');
    CFIndex used = 0;
    const CFIndex converted = CFStringGetBytes(
        string.get(), CFRange{0, length}, kCFStringEncodingUTF8, 0, false,
        reinterpret_cast<UInt8*>(out.data()), static_cast<CFIndex>(out.size()), &used);
    if (converted != length) {
        return {};
    }
    out.resize(static_cast<size_t>(used));
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    return toUtf16(makeCFString(utf8).get());
}

CFRef<CFStringRef> makeCFString(std::string_view utf8) {
    return CFRef<CFStringRef>(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                                static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}

CFRef<CFStringRef> makeCFString(std::u16string_view units) {
    return CFRef<CFStringRef>(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units.data()),
        static_cast<CFIndex>(units.size())));
}
