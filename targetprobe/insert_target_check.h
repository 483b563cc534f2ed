// The answer targetprobe gives the host: whether text can be inserted near the focus, and why.
#pragma once

#include <optional>
#include <string>

#include <unistd.h>

struct InsertTargetCheck {
    // Every reason a check can carry.
    static constexpr const char* accessibilityMissing = "accessibility_missing";
    static constexpr const char* noFocusedElement = "no_focused_element";
    static constexpr const char* ok = "ok";
    static constexpr const char* okDescendant = "ok_descendant";
    static constexpr const char* noEditableTarget = "no_editable_target";

    // Written instead of a record that cannot be encoded.
    static constexpr const char* fallbackText =
        R"({"canInsert":false,"reason":"encode_failed","role":"","subrole":""})";
    static constexpr const char* encodeFailedMessage = "[targetprobe] failed to encode result\n";

    bool canInsert = false;
    std::string reason;
    std::string role;     // UTF-8; "" when no element is reported
    std::string subrole;  // UTF-8; "" likewise
};

// One compact JSON object, keys in field order, "/" unescaped, non-ASCII as UTF-8 and no line
// feed; nothing when a text is not valid UTF-8.
std::optional<std::string> encodeCheck(const InsertTargetCheck& check);

// The encoded record in one write(2) to `output`; when it cannot be encoded, the message to
// `diagnostics` first and then the fallback text to `output`. A failed write is left unreported.
void writeCheck(const InsertTargetCheck& check, int output = STDOUT_FILENO,
                int diagnostics = STDERR_FILENO);
