// The system and the permissions, as this process sees them.
#include <charconv>
#include <string>

#include "maccheck/check.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/keyboard_events.h"
#include "platform/system.h"

namespace {

constexpr int oldestMajorVersion = 13;
constexpr std::string_view builtArchitectures[] = {"x86_64", "arm64"};
constexpr std::string_view notAnswered = "not answered";

const char* yesNo(bool value) {
    return value ? "true" : "false";
}

const char* accessName(IOHIDAccessType access) {
    switch (access) {
        case kIOHIDAccessTypeGranted:
            return "granted";
        case kIOHIDAccessTypeDenied:
            return "denied";
        default:
            return "unknown";
    }
}

Observation versionCheck(const SystemVersion& system) {
    if (system.productVersion.empty()) {
        return {"macos-version", std::string(notAnswered), Result::skipped};
    }
    int major = 0;
    const auto& text = system.productVersion;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), major);
    const bool read = error == std::errc() && end != text.data();
    return {"macos-version", text, read ? holdsWhen(major >= oldestMajorVersion) : Result::skipped};
}

Observation architectureCheck(const SystemVersion& system) {
    if (system.architecture.empty()) {
        return {"architecture", std::string(notAnswered), Result::skipped};
    }
    bool built = false;
    for (const auto name : builtArchitectures) {
        built = built || system.architecture == name;
    }
    return {"architecture",
            system.architecture + (system.translated ? ", translated by Rosetta" : ""),
            holdsWhen(built)};
}

// Read in this order, continuous time is never behind absolute time unless the clocks differ
// from what the suite assumes.
Observation clocksCheck() {
    mach_timebase_info_data_t base{0, 0};
    const bool timebase = mach_timebase_info(&base) == 0 && base.numer != 0 && base.denom != 0;
    const uint64_t awake = mach_absolute_time();
    const uint64_t all = mach_continuous_time();
    std::string observed = "timebase " + std::to_string(base.numer) + "/" +
                           std::to_string(base.denom) + ", continuous time ";
    if (all >= awake) {
        observed += "ahead of absolute time by " + std::to_string(all - awake) + " ticks";
    } else {
        observed += "behind absolute time by " + std::to_string(awake - all) + " ticks";
    }
    return {"mach-clocks", observed, holdsWhen(timebase && all >= awake)};
}

}  // namespace

std::vector<Observation> systemChecks() {
    const SystemVersion system = systemVersion();
    const bool trusted = AXIsProcessTrusted();
    const bool listen = CGPreflightListenEventAccess();
    const IOHIDAccessType hidListen = IOHIDCheckAccess(kIOHIDRequestTypeListenEvent);
    const bool post = CGPreflightPostEventAccess();
    const bool secure = IsSecureEventInputEnabled();
    std::vector<Observation> checks;
    checks.push_back(versionCheck(system));
    checks.push_back(architectureCheck(system));
    checks.push_back(
        {"accessibility", std::string("AXIsProcessTrusted ") + yesNo(trusted), holdsWhen(trusted)});
    checks.push_back({"input-monitoring",
                      std::string("CGPreflightListenEventAccess ") + yesNo(listen) +
                          ", IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) " +
                          accessName(hidListen),
                      holdsWhen(listen == (hidListen == kIOHIDAccessTypeGranted))});
    // Reports differ on whether the right to post events goes with Accessibility.
    checks.push_back({"post-access",
                      std::string("CGPreflightPostEventAccess ") + yesNo(post) +
                          ", AXIsProcessTrusted " + yesNo(trusted),
                      holdsWhen(post == trusted)});
    checks.push_back({"secure-input", std::string("IsSecureEventInputEnabled ") + yesNo(secure),
                      holdsWhen(!secure)});
    checks.push_back(clocksCheck());
    return checks;
}
