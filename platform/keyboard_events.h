// CoreGraphics keyboard event services: event taps, event fields, posted keyboard events.
#pragma once

#include "platform/core_foundation.h"

#if defined(__APPLE__)
#include <ApplicationServices/ApplicationServices.h>
#else
#include "platform/standin/keyboard_events_decl.h"
#endif

#include <cstdint>

// The kCGEventSourceUserData of every keystroke pastekey and copykey post ("helpers1" in ASCII),
// so that keywatch, and a host's own tap, can tell the suite's keystrokes from the user's.
inline constexpr int64_t suiteEventUserData = 0x68656C7065727331;
