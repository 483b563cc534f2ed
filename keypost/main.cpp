// pastekey and copykey: post Command plus the build's letter, at the key the application will
// read as the letter with Command held, in the layout the user has selected. The build gives
// KEYPOST_PROGRAM, KEYPOST_LETTER, KEYPOST_FALLBACK, KEYPOST_TAG and KEYPOST_KEY, the name of the
// variable that holds the key code.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "keypost/key_code_lookup.h"
#include "platform/accessibility.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_events.h"
#include "platform/program_options.h"

namespace {

constexpr std::u16string_view letter = u"" KEYPOST_LETTER;
constexpr uint16_t fallbackKeyCode = KEYPOST_FALLBACK;
constexpr const char* permissionMessage = KEYPOST_TAG " accessibility permission is required\n";
constexpr const char* eventMessage = KEYPOST_TAG " failed to create CGEvent\n";

// Command alone, whatever modifiers the user holds while the tool runs, with the left Command
// key's side bit as a keyboard sets it: some applications (Microsoft Remote Desktop) read a
// Command without a side bit as no Command at all, and type a plain letter.
constexpr CGEventFlags commandOnly = kCGEventFlagMaskCommand | NX_DEVICELCMDKEYMASK;
// Long enough for the front application to see a press before the release.
constexpr useconds_t keyUpDelayMicroseconds = 12000;

constexpr int exitKeyDownFailed = 1;
constexpr int exitPermissionMissing = 2;

constexpr const char* usage =
    "Usage: " KEYPOST_PROGRAM
    "\n"
    "Posts Command with the key that reads as \"" KEYPOST_LETTER
    "\" while Command is held, in the user's\n"
    "keyboard layout, into the system's keyboard event stream. Needs the Accessibility\n"
    "permission and the right to post events.\n"
    "  -V, --version  print the version and exit\n"
    "  -h, --help     print this text and exit\n"
    "Exit status:\n"
    "  0  posted (a key-up that could not be made is reported on standard error)\n"
    "  1  nothing posted: no event could be made\n"
    "  2  nothing posted: the Accessibility permission or the right to post events is missing\n";

// Posts one keyboard event at the HID level, from a source of its own that marks it as the
// suite's; false (with the event message written) when no source or event can be made.
bool postKey(uint16_t keyCode, bool keyDown, CGEventFlags flags = 0) {
    const CFRef<CGEventSourceRef> source(CGEventSourceCreate(kCGEventSourceStateHIDSystemState));
    if (source) {
        CGEventSourceSetUserData(source.get(), suiteEventUserData);
    }
    const CFRef<CGEventRef> event(
        source ? CGEventCreateKeyboardEvent(source.get(), keyCode, keyDown) : nullptr);
    if (!event) {
        std::fputs(eventMessage, stderr);
        return false;
    }
    CGEventSetFlags(event.get(), flags);
    CGEventPost(kCGHIDEventTap, event.get());
    return true;
}

}  // namespace

// The key code of the letter, found once per run.
uint16_t KEYPOST_KEY = fallbackKeyCode;

int main(int argc, char** argv) {
    if (answeredVersionOrHelp(argc, argv, KEYPOST_PROGRAM, usage)) {
        return EXIT_SUCCESS;
    }
    KEYPOST_KEY = keyCodeForCharacter(letter, fallbackKeyCode);
    // Posting is a permission of its own: without it the system drops the events in silence.
    if (!AXIsProcessTrusted() || !CGPreflightPostEventAccess()) {
        std::fputs(permissionMessage, stderr);
        return exitPermissionMissing;
    }
    if (!postKey(KEYPOST_KEY, true, commandOnly)) {
        return exitKeyDownFailed;
    }
    usleep(keyUpDelayMicroseconds);
    // A lost key-up has been reported; the press itself went through, so the run succeeded.
    postKey(KEYPOST_KEY, false, commandOnly);
    return EXIT_SUCCESS;
}
