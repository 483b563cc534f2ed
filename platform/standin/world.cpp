#include "platform/standin/world.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
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

// One object of the scenario, read strictly. Its known keys are exactly those its reader asks
// for: finish() rejects any other, so a misspelt key fails loudly instead of leaving a default.
// A value of the wrong type is rejected too (nlohmann would turn true into 1), naming its path.
class ObjectReader {
  public:
    ObjectReader(const nlohmann::json& value, std::string path)
        : object(value), at(std::move(path)) {
        if (!object.is_object()) {
            throw std::runtime_error(described() + " is not an object");
        }
    }

    // The member, or null when absent; every key asked for is a known key.
    const nlohmann::json* find(const std::string& key) {
        known.push_back(key);
        const auto found = object.find(key);
        return found == object.end() ? nullptr : &*found;
    }

    std::string pathOf(const std::string& key) const { return at.empty() ? key : at + "." + key; }

    bool boolean(const std::string& key, bool fallback) {
        const auto* value = find(key);
        if (value == nullptr) {
            return fallback;
        }
        expect(value->is_boolean(), key, "a boolean");
        return value->get<bool>();
    }

    double number(const std::string& key, double fallback) {
        const auto* value = find(key);
        if (value == nullptr) {
            return fallback;
        }
        expect(value->is_number(), key, "a number");
        return value->get<double>();
    }

    template <typename Integer>
    Integer integer(const std::string& key, Integer fallback) {
        const auto* value = find(key);
        return value == nullptr ? fallback : integerValue<Integer>(*value, pathOf(key));
    }

    // The elements of an array member, each handed to `read` with its path.
    template <typename Read>
    void array(const std::string& key, Read read) {
        const auto* value = find(key);
        if (value == nullptr) {
            return;
        }
        expect(value->is_array(), key, "an array");
        for (size_t i = 0; i < value->size(); ++i) {
            read((*value)[i], pathOf(key) + "[" + std::to_string(i) + "]");
        }
    }

    void expect(bool holds, const std::string& key, const char* what) const {
        if (!holds) {
            throw std::runtime_error(pathOf(key) + " is not " + what);
        }
    }

    void finish() const {
        for (const auto& [key, value] : object.items()) {
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                throw std::runtime_error("unknown key " + pathOf(key));
            }
        }
    }

    template <typename Integer>
    static Integer integerValue(const nlohmann::json& value, const std::string& path) {
        const bool fits =
            value.is_number_unsigned()
                ? value.get<uint64_t>() <= uint64_t(std::numeric_limits<Integer>::max())
            : value.is_number_integer()
                ? value.get<int64_t>() >= int64_t(std::numeric_limits<Integer>::min())
                : false;
        if (!fits) {
            throw std::runtime_error(path + " is not an integer in range");
        }
        return value.get<Integer>();
    }

    static std::string text(const nlohmann::json& value, const std::string& path) {
        if (!value.is_string()) {
            throw std::runtime_error(path + " is not a string");
        }
        return value.get<std::string>();
    }

  private:
    std::string described() const { return at.empty() ? "the scenario" : at; }

    const nlohmann::json& object;
    std::string at;
    std::vector<std::string> known;
};

uint32_t parseEventType(const nlohmann::json& value, const std::string& path) {
    if (value.is_number()) {
        return ObjectReader::integerValue<uint32_t>(value, path);
    }
    const auto name = ObjectReader::text(value, path);
    for (const auto& [known, raw] : eventTypeNames) {
        if (name == known) {
            return raw;
        }
    }
    throw std::runtime_error(path + ": unknown event type " + name);
}

ScriptedEvent parseEvent(const nlohmann::json& value, const std::string& path) {
    ObjectReader reader(value, path);
    ScriptedEvent event;
    event.advance = reader.number("advance", 0.0);
    const auto* type = reader.find("type");
    if (type == nullptr) {
        throw std::runtime_error(reader.pathOf("type") + " is missing");
    }
    event.type = parseEventType(*type, reader.pathOf("type"));
    event.keyCode = reader.integer<int64_t>("keyCode", 0);
    event.flags = reader.integer<uint64_t>("flags", 0);
    event.withoutUserInfo = reader.boolean("withoutUserInfo", false);
    reader.finish();
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
        ObjectReader top(document, "");
        Scenario scenario;
        scenario.clock = top.number("clock", scenario.clock);
        if (const auto* front = top.find("frontmostApplication"); front && !front->is_null()) {
            ObjectReader application(*front, "frontmostApplication");
            const auto* pid = application.find("pid");
            application.expect(pid != nullptr, "pid", "given");
            FrontmostApplication found{
                ObjectReader::integerValue<pid_t>(*pid, application.pathOf("pid")), std::nullopt};
            if (const auto* bundle = application.find("bundleIdentifier");
                bundle && !bundle->is_null()) {
                found.bundleIdentifier =
                    ObjectReader::text(*bundle, application.pathOf("bundleIdentifier"));
            }
            application.finish();
            scenario.frontmostApplication = found;
        }
        if (const auto* keyboardValue = top.find("keyboard")) {
            ObjectReader keyboard(*keyboardValue, "keyboard");
            if (keyboard.find("grantedTaps") != nullptr) {
                scenario.grantedTaps.clear();
                keyboard.array("grantedTaps",
                               [&](const nlohmann::json& tap, const std::string& path) {
                                   scenario.grantedTaps.push_back(ObjectReader::text(tap, path));
                               });
            }
            scenario.runLoopSource = keyboard.boolean("runLoopSource", scenario.runLoopSource);
            scenario.eventSource = keyboard.boolean("eventSource", scenario.eventSource);
            scenario.keepRunning = keyboard.boolean("keepRunning", scenario.keepRunning);
            keyboard.array("failKeyboardEvents", [&](const nlohmann::json& n,
                                                     const std::string& path) {
                scenario.failKeyboardEvents.push_back(ObjectReader::integerValue<int64_t>(n, path));
            });
            keyboard.array("events", [&](const nlohmann::json& event, const std::string& path) {
                scenario.events.push_back(parseEvent(event, path));
            });
            keyboard.finish();
        }
        top.finish();
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
