// What fieldscan tells the host about the focused field, and how it is written: one compact
// JSON object on standard output, in one write, with no line feed after it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

struct ContextSnapshot {
    // The frontmost application is a web browser exactly when its bundle identifier is one of
    // these, letter case included.
    static constexpr std::array<std::string_view, 9> browserBundleIdentifiers = {
        "com.apple.Safari",    "com.google.Chrome",     "com.google.Chrome.canary",
        "org.mozilla.firefox", "com.microsoft.edgemac", "company.thebrowser.Browser",
        "com.brave.Browser",   "com.vivaldi.Vivaldi",   "com.operasoftware.Opera"};

    // The empty snapshot, written when the record cannot be encoded, so that the host always
    // gets a well-formed one.
    static constexpr std::string_view fallbackText =
        R"({"visibleText":"","beforeText":"","afterText":"","selectedText":"",)"
        R"("cursorPosition":-1,"hasTextSelected":false,"fullFieldContent":"","role":"",)"
        R"("subrole":"","editable":false})";
    static constexpr std::string_view encodeFailedMessage =
        "[fieldscan] failed to encode snapshot\n";

    // Texts stay UTF-16 until they are written: they may have been cut at any code unit.
    std::u16string visibleText;
    std::u16string beforeText;
    std::u16string afterText;
    std::u16string selectedText;  // as the element reports it, not trimmed
    int64_t cursorPosition = -1;  // UTF-16 code units; -1 when there is none
    bool hasTextSelected = false;
    std::u16string fullFieldContent;
    std::u16string role;
    std::u16string subrole;
    bool editable = false;
};

// The record as compact JSON, fields in declaration order, "/" unescaped and everything else
// outside ASCII as UTF-8; a lone surrogate half is written as U+FFFD. Nothing when it cannot be
// encoded. Takes the record to free each text once it is converted.
std::optional<std::string> encodeSnapshot(ContextSnapshot snapshot);

// The encoded record in one write(2) to `output`; without one, the message to `diagnostics` and
// then the fallback text to `output`. A failed write is left unreported: the host went away.
void writeSnapshot(const std::optional<std::string>& encoded, int output = STDOUT_FILENO,
                   int diagnostics = STDERR_FILENO);
