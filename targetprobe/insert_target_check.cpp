#include "targetprobe/insert_target_check.h"

#include <nlohmann/json.hpp>

#include "platform/output.h"

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

void writeCheck(const InsertTargetCheck& check, int output, int diagnostics) {
    if (const auto encoded = encodeCheck(check)) {
        writeAll(output, *encoded);
        return;
    }
    writeAll(diagnostics, InsertTargetCheck::encodeFailedMessage);
    writeAll(output, InsertTargetCheck::fallbackText);
}
