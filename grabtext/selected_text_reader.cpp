#include "grabtext/selected_text_reader.h"

#include <unistd.h>

#include <cstdio>

#include "platform/accessibility.h"
#include "platform/attribute_value.h"
#include "platform/cf_cast.h"
#include "platform/cf_ref.h"
#include "platform/cf_string.h"
#include "platform/output.h"

namespace {

constexpr const char* focusedElementAttribute = "AXFocusedUIElement";
constexpr const char* selectedTextAttribute = "AXSelectedText";
constexpr const char* subroleAttribute = "AXSubrole";
// AXRoleConstants.h: a password field, whose text is never written out.
constexpr std::u16string_view secureTextFieldSubrole = u"AXSecureTextField";
constexpr const char* permissionMessage = "[grabtext] accessibility permission is required\n";
constexpr const char* noFocusMessage = "[grabtext] failed to resolve focused element\n";

}  // namespace

std::u16string readSelectedTextViaAX() {
    const AccessibilityRun run;
    if (!AXIsProcessTrusted()) {
        std::fputs(permissionMessage, stderr);
        return {};
    }
    const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
    const CFRef<CFTypeRef> focus = copyAttributeValue(systemWide.get(), focusedElementAttribute);
    const auto focused = cfCast<AXUIElementRef>(focus.get());
    if (focused == nullptr) {
        std::fputs(noFocusMessage, stderr);
        return {};
    }
    const CFRef<CFTypeRef> subrole = copyAttributeValue(focused, subroleAttribute);
    if (toUtf16(cfCast<CFStringRef>(subrole.get())) == secureTextFieldSubrole) {
        return {};  // a password field: nothing, as when nothing is selected
    }
    // An element that does not support the attribute, or has no selection, is not a failure
    // worth a message: the host just gets no text.
    const CFRef<CFTypeRef> selection = copyAttributeValue(focused, selectedTextAttribute);
    return toUtf16(cfCast<CFStringRef>(selection.get()));
}

void printResult(std::u16string_view text) {
    writeAll(STDOUT_FILENO, utf16ToUtf8(text));
}
