// The "--config-json" value comes from the host application: any bytes must decode to a
// non-empty list without crashing or hanging.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "keywatch/shortcut_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const auto shortcuts = parseShortcuts({"keywatch", "--config-json", value});
    if (shortcuts.empty()) {
        std::abort();
    }
    for (const auto& shortcut : shortcuts) {
        (void)shortcut.requiredFlags();
        (void)shortcut.isFnShortcut();
    }
    return 0;
}
