#include "targetprobe/insert_target_check.h"

#include <cstring>
#include <nlohmann/json.hpp>

namespace {

void writeAll(FILE* stream, const char* bytes, size_t size) {
    std::fwrite(bytes, 1, size, stream);
    std::fflush(stream);
}

}  // namespace

std::optional<std::string> encodeCheck(const InsertTargetCheck& check) {
    const nlohmann::ordered_json object = {
        {"canInsert", check.canInsert},
        {"reason", check.reason},
        {"role", check.role},
        {"subrole", check.subrole},
    };
    try {
        // Strict: bytes that are not UTF-8 make the encoding fail rather than be patched over.
        return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    } catch (const nlohmann::ordered_json::exception&) {
        return std::nullopt;
    }
}

void writeCheck(const InsertTargetCheck& check, FILE* output, FILE* diagnostics) {
    if (const auto encoded = encodeCheck(check)) {
        writeAll(output, encoded->data(), encoded->size());
        return;
    }
    writeAll(diagnostics, InsertTargetCheck::encodeFailedMessage,
             std::strlen(InsertTargetCheck::encodeFailedMessage));
    writeAll(output, InsertTargetCheck::fallbackText, std::strlen(InsertTargetCheck::fallbackText));
}
