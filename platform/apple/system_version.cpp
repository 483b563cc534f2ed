#include <sys/sysctl.h>

#include <array>

#include "platform/system.h"

namespace {

// A text the kernel answers by name; empty when it does not.
std::string sysctlText(const char* name) {
    std::array<char, 64> text{};
    size_t size = text.size();
    if (sysctlbyname(name, text.data(), &size, nullptr, 0) != 0) {
        return {};
    }
    text.back() = '\0';
    return text.data();
}

}  // namespace

SystemVersion systemVersion() {
    // hw.machine names the machine as uname does: "x86_64" or "arm64". sysctl.proc_translated
    // is 1 under Rosetta, 0 otherwise, and missing on an Intel Mac.
    int translated = 0;
    size_t size = sizeof translated;
    if (sysctlbyname("sysctl.proc_translated", &translated, &size, nullptr, 0) != 0) {
        translated = 0;
    }
    return {sysctlText("kern.osproductversion"), sysctlText("hw.machine"), translated == 1};
}
