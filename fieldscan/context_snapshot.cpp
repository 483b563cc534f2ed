#include "fieldscan/context_snapshot.h"

#include <exception>
#include <nlohmann/json.hpp>

#include "platform/cf_string.h"
#include "platform/output.h"

namespace {

// The UTF-8 of a text that is not needed afterwards. Both are tens of megabytes at worst, so
// the source goes at once and the result keeps no spare room.
std::string convertedOnce(std::u16string& text) {
    std::string utf8 = utf16ToUtf8(text);
    std::u16string().swap(text);
    utf8.shrink_to_fit();
    return utf8;
}

}  // namespace

std::optional<std::string> encodeSnapshot(ContextSnapshot snapshot) {
    try {
        nlohmann::ordered_json object;
        object["visibleText"] = convertedOnce(snapshot.visibleText);
        object["beforeText"] = convertedOnce(snapshot.beforeText);
        object["afterText"] = convertedOnce(snapshot.afterText);
        object["selectedText"] = convertedOnce(snapshot.selectedText);
        object["cursorPosition"] = snapshot.cursorPosition;
        object["hasTextSelected"] = snapshot.hasTextSelected;
        object["fullFieldContent"] = convertedOnce(snapshot.fullFieldContent);
        object["role"] = convertedOnce(snapshot.role);
        object["subrole"] = convertedOnce(snapshot.subrole);
        object["editable"] = snapshot.editable;
        // Strict: bytes that are not UTF-8 fail the encoding rather than being patched over.
        return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    } catch (const std::exception&) {
        // nlohmann's own errors, and running out of memory on a huge text.
        return std::nullopt;
    }
}

void writeSnapshot(const std::optional<std::string>& encoded, int output, int diagnostics) {
    if (encoded) {
        writeAll(output, *encoded);
        return;
    }
    writeAll(diagnostics, ContextSnapshot::encodeFailedMessage);
    writeAll(output, ContextSnapshot::fallbackText);
}
