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
    {"mach-clocks",
     "mach_continuous_time is never behind mach_absolute_time, both in the ticks "
     "mach_timebase_info gives",
     "platform/clock.cpp: monotonicNanoseconds, sleptNanoseconds"},
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
    {"command-across-keyboards",
     "with right Command held on one keyboard, a key typed on another comes from source pid 0, "
     "its flags saying nothing certain of the held key, and CGEventSourceKeyState (HID system "
     "state) sees right Command down",
     "keywatch/keyboard_monitor.cpp: releaseModifiersMissed, askHidSystemAboutHeldModifiers"},
    {"globe-key",
     "the Globe key alone comes as flags-changed of key 63 from source pid 0 with "
     "kCGEventFlagMaskSecondaryFn",
     "keywatch/keyboard_monitor.cpp: tapCallback"},
    {"textedit-caret",
     "AppKit answers a caret in a text field as a range of length 0 at the caret; NSNotFound "
     "only where no caret can be",
     "axquery/axquery.cpp: selectedTextRange; targetprobe/insertable_element_search.cpp: "
     "supportsTextInsertion"},
    {"safari-page-field",
     "the system-wide AXFocusedApplication names Safari, the frontmost application, whatever "
     "process id the page's field answers",
     "fieldscan/snapshot_assembly.cpp: Focus::resolveApplication"},
    {"chrome-page-field",
     "the system-wide AXFocusedApplication names Chrome, the frontmost application, whatever "
     "process id the page's field answers",
     "fieldscan/snapshot_assembly.cpp: Focus::resolveApplication"},
    {"password-field",
     "a password field answers the subrole AXSecureTextField, so none of its "
     "text is written out",
     "fieldscan/snapshot_assembly.cpp: buildSnapshot; grabtext/selected_text_reader.cpp: "
     "readSelectedTextViaAX"},
};

}  // namespace

const Assumption* assumptionOf(std::string_view id) {
    const auto* found = std::find_if(std::begin(assumptions), std::end(assumptions),
                                     [&](const Assumption& row) { return row.id == id; });
    return found == std::end(assumptions) ? nullptr : found;
}
