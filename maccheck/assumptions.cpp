// What the suite assumes of macOS, as data: one row per check.
#include <algorithm>
#include <iterator>

#include "maccheck/check.h"

namespace {

constexpr Assumption assumptions[] = {
    {"macos-version", "macOS 13 or later",
     "cmake/AppleDefaults.cmake: CMAKE_OSX_DEPLOYMENT_TARGET"},
    {"architecture", "x86_64 or arm64", "cmake/AppleDefaults.cmake: CMAKE_OSX_ARCHITECTURES"},
    {"accessibility",
     "the process is trusted (Accessibility): keywatch's filter tap and pastekey need it",
     "keywatch/keyboard_monitor.cpp: keyAccess; keypost/main.cpp: main"},
    {"input-monitoring",
     "CGPreflightListenEventAccess answers what IOHIDCheckAccess answers for listening",
     "keywatch/keyboard_monitor.cpp: keyAccess"},
    {"post-access",
     "the right to post events goes with Accessibility: CGPreflightPostEventAccess answers as "
     "AXIsProcessTrusted does",
     "keypost/main.cpp: main"},
    {"secure-input", "no application holds secure event input, so a tap hears key-downs",
     "keywatch/keyboard_monitor.cpp: tapCallback"},
    {"tap-hid-default", "CGEventTapCreate grants a filter tap at the HID level",
     "keywatch/keyboard_monitor.cpp: tapAttempts"},
    {"tap-hid-listen-only", "CGEventTapCreate grants a listen-only tap at the HID level",
     "keywatch/keyboard_monitor.cpp: tapAttempts"},
    {"tap-session-listen-only", "CGEventTapCreate grants a listen-only tap at the session level",
     "keywatch/keyboard_monitor.cpp: tapAttempts"},
    {"input-sources", "one of the three keyboard input sources has Unicode layout data",
     "keypost/key_code_lookup.cpp: keyCodeForCharacter"},
    {"key-codes", "the layout types v and c, so pastekey and copykey post the keys found",
     "keypost/key_code_lookup.cpp: keyCodeForCharacter"},
    {"descriptor-write",
     "a CFFileDescriptor's write callback on a pipe fires once the pipe has room, not while it "
     "is full",
     "keywatch/line_output.cpp: LineOutput::watch, LineOutput::descriptorWritable"},
    {"posted-event",
     "a posted event reaches a listen-only tap with its kCGEventSourceUserData and the poster's "
     "process id",
     "keywatch/keyboard_monitor.cpp: isSuiteEvent; keypost/main.cpp: postKey"},
    {"right-command",
     "the keyboard's right Command press comes as flags-changed of key 54 from source pid 0 with "
     "the right side bit, and CGEventSourceKeyState (HID system state) sees the key down",
     "keywatch/keyboard_monitor.cpp: isFromKeyboard, releaseModifiersMissed"},
    {"globe-key",
     "the Globe key alone comes as flags-changed of key 63 from source pid 0 with "
     "kCGEventFlagMaskSecondaryFn",
     "keywatch/keyboard_monitor.cpp: tapCallback"},
};

}  // namespace

const Assumption* assumptionOf(std::string_view id) {
    const auto* found = std::find_if(std::begin(assumptions), std::end(assumptions),
                                     [&](const Assumption& row) { return row.id == id; });
    return found == std::end(assumptions) ? nullptr : found;
}
