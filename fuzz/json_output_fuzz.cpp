// fieldscan's snapshot and targetprobe's check carry texts read from other applications, cut at
// any UTF-16 offset. Whatever they hold, the host must get compact JSON that parses, with "/"
// unescaped, everything else outside ASCII as UTF-8 and each lone surrogate half as U+FFFD.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fieldscan/context_snapshot.h"
#include "fuzz/fuzz_input.h"
#include "platform/cf_string.h"
#include "targetprobe/insert_target_check.h"

using fuzz::require;

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        size_t more = 0;
        uint32_t c = 0;
        uint32_t least = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            more = 1, c = b & 0x1F, least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2, c = b & 0x0F, least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3, c = b & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (i + more >= bytes.size()) {
            return false;
        }
        for (size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            c = c << 6 | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        i += more + 1;
    }
    return true;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The text form, which parsing alone does not see: no white space between tokens (so no line
// feed at the end either), no escaped "/", and no \u escape but for control characters.
void requireCompactForm(std::string_view json) {
    require(isUtf8(json));
    require(!json.empty() && json.front() == '{' && json.back() == '}');
    bool inString = false;
    for (size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (!inString) {
            require(c != ' ' && c != '\n' && c != '\r' && c != '\t');
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
        } else if (c == '\\') {
            require(i + 1 < json.size());
            const char escaped = json[++i];
            require(escaped != '/');
            if (escaped == 'u') {
                require(i + 4 < json.size());
                const std::string digits(json.substr(i + 1, 4));
                require(isHex(digits[0]) && isHex(digits[1]) && isHex(digits[2]) &&
                        isHex(digits[3]));
                require(std::strtoul(digits.c_str(), nullptr, 16) < 0x20);
                i += 4;
            }
        }
    }
    require(!inString);
}

nlohmann::ordered_json parsed(std::string_view json) {
    auto value = nlohmann::ordered_json::parse(json, nullptr, false);
    require(!value.is_discarded() && value.is_object());
    return value;
}

void requireText(const nlohmann::ordered_json& value, const std::string& expected) {
    require(value.is_string() && value.get<std::string>() == expected);
}

// What one write call puts on each stream.
struct Written {
    std::string output;
    std::string diagnostics;
};

// What a file descriptor received, read back from the start.
std::string contentsOf(int descriptor) {
    std::string bytes;
    char buffer[4096];
    ::lseek(descriptor, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(descriptor, buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

template <typename Write>
Written captured(Write write) {
    const int output = ::memfd_create("output", 0);
    const int diagnostics = ::memfd_create("diagnostics", 0);
    require(output >= 0 && diagnostics >= 0);
    write(output, diagnostics);
    Written written{contentsOf(output), contentsOf(diagnostics)};
    ::close(output);
    ::close(diagnostics);
    return written;
}

void checkSnapshot(fuzz::Input& in) {
    ContextSnapshot snapshot;
    snapshot.visibleText = in.text(48);
    snapshot.beforeText = in.text(48);
    snapshot.afterText = in.text(48);
    snapshot.selectedText = in.text(48);
    snapshot.cursorPosition = static_cast<int64_t>(in.raw64());
    snapshot.hasTextSelected = in.flag();
    snapshot.fullFieldContent = in.text(48);
    snapshot.role = in.text(16);
    snapshot.subrole = in.text(16);
    snapshot.editable = in.flag();

    const auto encoded = encodeSnapshot(snapshot);
    require(encoded.has_value());
    requireCompactForm(*encoded);
    const auto object = parsed(*encoded);
    const char* const keys[] = {
        "visibleText",     "beforeText",       "afterText", "selectedText", "cursorPosition",
        "hasTextSelected", "fullFieldContent", "role",      "subrole",      "editable"};
    require(object.size() == std::size(keys));
    size_t k = 0;
    for (const auto& [key, value] : object.items()) {
        require(key == keys[k++]);
    }
    requireText(object["visibleText"], fuzz::expectedUtf8(snapshot.visibleText));
    requireText(object["beforeText"], fuzz::expectedUtf8(snapshot.beforeText));
    requireText(object["afterText"], fuzz::expectedUtf8(snapshot.afterText));
    requireText(object["selectedText"], fuzz::expectedUtf8(snapshot.selectedText));
    require(object["cursorPosition"].is_number_integer() &&
            object["cursorPosition"].get<int64_t>() == snapshot.cursorPosition);
    require(object["hasTextSelected"] == snapshot.hasTextSelected);
    requireText(object["fullFieldContent"], fuzz::expectedUtf8(snapshot.fullFieldContent));
    requireText(object["role"], fuzz::expectedUtf8(snapshot.role));
    requireText(object["subrole"], fuzz::expectedUtf8(snapshot.subrole));
    require(object["editable"] == snapshot.editable);

    const Written written =
        captured([&](int output, int diagnostics) { writeSnapshot(encoded, output, diagnostics); });
    require(written.output == *encoded && written.diagnostics.empty());
}

void requireCheckRecord(const std::string& encoded, const InsertTargetCheck& check) {
    requireCompactForm(encoded);
    const auto object = parsed(encoded);
    const char* const keys[] = {"canInsert", "reason", "role", "subrole"};
    require(object.size() == std::size(keys));
    size_t k = 0;
    for (const auto& [key, value] : object.items()) {
        require(key == keys[k++]);
    }
    require(object["canInsert"] == check.canInsert);
    requireText(object["reason"], check.reason);
    requireText(object["role"], check.role);
    requireText(object["subrole"], check.subrole);
}

void checkInsertTargetCheck(fuzz::Input& in) {
    static const char* const reasons[] = {InsertTargetCheck::accessibilityMissing,
                                          InsertTargetCheck::noFocusedElement,
                                          InsertTargetCheck::ok, InsertTargetCheck::okDescendant,
                                          InsertTargetCheck::noEditableTarget};

    // As targetprobe fills it: role and subrole converted from what the element reported.
    const std::u16string role = in.text(24);
    const std::u16string subrole = in.text(24);
    InsertTargetCheck check{in.flag(), reasons[in.below(std::size(reasons))], utf16ToUtf8(role),
                            utf16ToUtf8(subrole)};
    require(check.role == fuzz::expectedUtf8(role) && check.subrole == fuzz::expectedUtf8(subrole));
    const auto encoded = encodeCheck(check);
    require(encoded.has_value());
    requireCheckRecord(*encoded, check);
    const Written written =
        captured([&](int output, int diagnostics) { writeCheck(check, output, diagnostics); });
    require(written.output == *encoded && written.diagnostics.empty());

    // Any bytes at all: encoded exactly when every text is UTF-8, the fallback otherwise.
    InsertTargetCheck raw{in.flag(), in.bytes(12), in.bytes(12), in.bytes(12)};
    const auto rawEncoded = encodeCheck(raw);
    require(rawEncoded.has_value() ==
            (isUtf8(raw.reason) && isUtf8(raw.role) && isUtf8(raw.subrole)));
    const Written rawWritten =
        captured([&](int output, int diagnostics) { writeCheck(raw, output, diagnostics); });
    if (rawEncoded) {
        requireCheckRecord(*rawEncoded, raw);
        require(rawWritten.output == *rawEncoded && rawWritten.diagnostics.empty());
    } else {
        require(rawWritten.output == InsertTargetCheck::fallbackText);
        require(rawWritten.diagnostics == InsertTargetCheck::encodeFailedMessage);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    // Which record goes first, so that each gets the front of the input, where mutations
    // act most directly.
    if (in.flag()) {
        checkSnapshot(in);
        checkInsertTargetCheck(in);
    } else {
        checkInsertTargetCheck(in);
        checkSnapshot(in);
    }
    return 0;
}
