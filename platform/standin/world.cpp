// The world: loaded from the scenario on first use, its clocks and its focus moved as time
// passes, and the exit record written when the process ends.
#include "platform/standin/world.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/standin/standin.h"

namespace standin {
namespace {

long requestCount = 0;

std::optional<World> current;

void writeExitRecord() {
    // Mach's continuous time, so that a test can read how long a run took.
    log({{"op", "exit"},
         {"liveObjects", liveObjects()},
         {"machSeconds", static_cast<double>(current ? current->monotonic : 0) / 1e9}});
}

void changeFocusAsDue(World& now) {
    auto& changes = now.scenario.focusChanges;
    const double elapsed = static_cast<double>(now.monotonic - now.started) / 1e9;
    for (; now.nextFocusChange < changes.size() && changes[now.nextFocusChange].after <= elapsed;
         ++now.nextFocusChange) {
        const auto& change = changes[now.nextFocusChange];
        if (change.systemWide) {
            now.scenario.systemWide = *change.systemWide;
        }
        if (change.frontmostApplication) {
            now.scenario.frontmostApplication = *change.frontmostApplication;
        }
        log({{"op", "focusChange"}, {"index", now.nextFocusChange}});
    }
}

World loadFromEnvironment() {
    const char* path = std::getenv("STANDIN_SCENARIO");
    World loaded;
    try {
        // A log that cannot be written would leave a test reading nothing, or yesterday's.
        if (const char* logPath = std::getenv("STANDIN_LOG"); logPath != nullptr) {
            if (*logPath == '\0') {
                throw std::runtime_error("STANDIN_LOG is empty (unset it to log nothing)");
            }
            if (!logging()) {
                throw std::runtime_error(std::string("cannot open STANDIN_LOG ") + logPath + ": " +
                                         std::strerror(logOpenError()));
            }
        }
        if (path != nullptr) {
            if (*path == '\0') {
                throw std::runtime_error(
                    "STANDIN_SCENARIO is empty (unset it for the default world)");
            }
            const std::string text = readFile(path);
            const std::string scenarioPath = path;
            const size_t slash = scenarioPath.rfind('/');
            loaded.scenario = parseScenario(
                text, slash == std::string::npos ? "." : scenarioPath.substr(0, slash));
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "standin: bad scenario: %s\n", error.what());
        std::_Exit(70);
    }
    loaded.clock = loaded.scenario.clock;
    changeFocusAsDue(loaded);
    return loaded;
}

}  // namespace

const ElementScenario* findElement(const Scenario& scenario, const std::string& id) {
    if (id == "systemWide") {
        return &scenario.systemWide;
    }
    if (const auto element = scenario.elements.find(id); element != scenario.elements.end()) {
        return &element->second;
    }
    if (const auto pid = applicationPidOf(id)) {
        if (const auto app = scenario.applications.find(*pid); app != scenario.applications.end()) {
            return &app->second;
        }
    }
    return nullptr;
}

constexpr std::string_view applicationPrefix = "app:";

std::string applicationElementId(pid_t pid) {
    return std::string(applicationPrefix) + std::to_string(pid);
}

std::optional<pid_t> applicationPidOf(std::string_view id) {
    if (id.substr(0, applicationPrefix.size()) != applicationPrefix) {
        return std::nullopt;
    }
    pid_t pid = 0;
    const std::string_view digits = id.substr(applicationPrefix.size());
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return pid;
}

World& world() {
    if (!current) {
        current = loadFromEnvironment();
        std::atexit(writeExitRecord);
    }
    return *current;
}

void loadScenario(std::string_view scenarioJson) {
    world();  // the first load registers the exit record
    World replacement;
    replacement.scenario = parseScenario(std::string(scenarioJson));
    replacement.clock = replacement.scenario.clock;
    changeFocusAsDue(replacement);
    *current = std::move(replacement);
}

void advanceClock(double seconds) {
    if (!(seconds >= 0)) {
        misuse("advanceClock");  // the monotonic clock never goes back
    }
    auto& now = world();
    const auto nanoseconds = static_cast<uint64_t>(std::llround(seconds * 1e9));
    now.clock += seconds;
    now.monotonic += nanoseconds;
    now.absolute += nanoseconds;
    changeFocusAsDue(now);
}

void changeFocusAsDue() {
    changeFocusAsDue(world());
}

void stepWallClock(double seconds) {
    world().clock += seconds;
}

long accessibilityRequests() {
    return requestCount;
}

void countAccessibilityRequest() {
    ++requestCount;
    if (const double seconds = world().scenario.requestSeconds; seconds > 0) {
        advanceClock(seconds);
    }
}
}  // namespace standin
