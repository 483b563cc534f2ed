// The Mac itself: its system version and architecture, the HID system's access check and
// secure event input.
#pragma once

#include <string>

#if defined(__APPLE__)
#include <Carbon/Carbon.h>
#include <IOKit/hidsystem/IOHIDLib.h>
#else
#include "platform/standin/system_decl.h"
#endif

struct SystemVersion {
    std::string productVersion;  // "14.5"; empty when the system does not say
    std::string architecture;    // the machine, as hw.machine names it: "x86_64", "arm64"
    // Run by Rosetta on Apple silicon, where hw.machine answers "x86_64" all the same.
    bool translated = false;
};

SystemVersion systemVersion();
