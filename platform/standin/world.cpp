#include "platform/standin/world.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/standin/standin.h"

namespace standin {
namespace {

long liveCount = 0;

const std::pair<const char*, uint32_t> eventTypeNames[] = {
    {"keyDown", 10},
    {"keyUp", 11},
    {"flagsChanged", 12},
    {"systemDefined", 14},
    {"tapDisabledByTimeout", 0xFFFFFFFE},
    {"tapDisabledByUserInput", 0xFFFFFFFF},
};

uint32_t parseEventType(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        return value.get<uint32_t>();
    }
    const auto name = value.get<std::string>();
    for (const auto& [known, raw] : eventTypeNames) {
        if (name == known) {
            return raw;
        }
    }
    throw std::runtime_error("unknown event type " + name);
}

ScriptedEvent parseEvent(const nlohmann::json& value) {
    ScriptedEvent event;
    event.advance = value.value("advance", 0.0);
    event.type = parseEventType(value.at("type"));
    event.keyCode = value.value("keyCode", int64_t{0});
    event.flags = value.value("flags", uint64_t{0});
    event.withoutUserInfo = value.value("withoutUserInfo", false);
    return event;
}

std::optional<World> current;

int logDescriptor() {
    static const int descriptor = [] {
        const char* path = std::getenv("STANDIN_LOG");
        return path == nullptr ? -1 : ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }();
    return descriptor;
}

void writeExitRecord() {
    log({{"op", "exit"}, {"liveObjects", liveCount}});
}

World loadFromEnvironment() {
    const char* path = std::getenv("STANDIN_SCENARIO");
    World loaded;
    try {
        if (path != nullptr) {
            std::ifstream file(path, std::ios::binary);
            if (!file) {
                throw std::runtime_error(std::string("cannot read ") + path);
            }
            std::stringstream text;
            text << file.rdbuf();
            loaded.scenario = parseScenario(text.str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "standin: bad scenario: %s\n", error.what());
        std::_Exit(70);
    }
    loaded.clock = loaded.scenario.clock;
    return loaded;
}

}  // namespace

Object::Object(CFTypeID id, bool constant) : typeId(id), isConstant(constant) {
    if (!isConstant) {
        ++liveCount;
    }
}

Object::~Object() {
    if (!isConstant) {
        --liveCount;
    }
}

void misuse(const char* operation) {
    std::fprintf(stderr, "standin: %s called with an invalid object\n", operation);
    std::abort();
}

Scenario parseScenario(const std::string& text) {
    try {
        const auto document = nlohmann::json::parse(text);
        if (!document.is_object()) {
            throw std::runtime_error("the scenario is not a JSON object");
        }
        Scenario scenario;
        scenario.clock = document.value("clock", scenario.clock);
        if (const auto front = document.find("frontmostApplication");
            front != document.end() && !front->is_null()) {
            FrontmostApplication application{front->at("pid").get<pid_t>(), std::nullopt};
            if (const auto bundle = front->find("bundleIdentifier");
                bundle != front->end() && !bundle->is_null()) {
                application.bundleIdentifier = bundle->get<std::string>();
            }
            scenario.frontmostApplication = application;
        }
        if (const auto keyboard = document.find("keyboard"); keyboard != document.end()) {
            scenario.grantedTaps = keyboard->value("grantedTaps", scenario.grantedTaps);
            scenario.runLoopSource = keyboard->value("runLoopSource", scenario.runLoopSource);
            scenario.eventSource = keyboard->value("eventSource", scenario.eventSource);
            scenario.keepRunning = keyboard->value("keepRunning", scenario.keepRunning);
            scenario.failKeyboardEvents =
                keyboard->value("failKeyboardEvents", scenario.failKeyboardEvents);
            for (const auto& event : keyboard->value("events", nlohmann::json::array())) {
                scenario.events.push_back(parseEvent(event));
            }
        }
        return scenario;
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(error.what());
    }
}

World& world() {
    if (!current) {
        current = loadFromEnvironment();
        std::atexit(writeExitRecord);
    }
    return *current;
}

void log(const nlohmann::ordered_json& record) {
    const int descriptor = logDescriptor();
    if (descriptor < 0) {
        return;
    }
    const std::string line = record.dump() + "\n";
    // One write per record keeps lines whole when the file is shared.
    [[maybe_unused]] const ssize_t written = ::write(descriptor, line.data(), line.size());
}

void loadScenario(std::string_view scenarioJson) {
    world();  // the first load registers the exit record
    World replacement;
    replacement.scenario = parseScenario(std::string(scenarioJson));
    replacement.clock = replacement.scenario.clock;
    *current = std::move(replacement);
}

void advanceClock(double seconds) {
    world().clock += seconds;
}

long liveObjects() {
    return liveCount;
}

}  // namespace standin
