// The stand-in's world: the scenario it was given, its objects and its log.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/frontmost_application.h"
#include "platform/keyboard_events.h"

namespace standin {

enum TypeId : CFTypeID {
    stringType = 7,
    arrayType = 19,
    booleanType = 21,
    numberType = 22,
    characterSetType = 25,
    machPortType = 35,
    runLoopType = 43,
    runLoopSourceType = 46,
    eventType = 268,
    eventSourceType = 269,
};

// Every stand-in object starts with this: its type and its reference count. Constants (the
// booleans, the run loop) are never freed and not counted as live.
struct Object {
    Object(CFTypeID typeId, bool isConstant);
    virtual ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    CFTypeID typeId;
    long retainCount = 1;
    bool isConstant;
};

// A call the platform would crash on: says which and aborts.
[[noreturn]] void misuse(const char* operation);

// Checked downcast of an object handed to a platform call.
template <typename T>
T* as(const void* ref, const char* operation) {
    auto* object = static_cast<Object*>(const_cast<void*>(ref));
    if (object == nullptr || object->typeId != T::typeIdValue) {
        misuse(operation);
    }
    return static_cast<T*>(object);
}

struct ScriptedEvent {
    double advance = 0;
    uint32_t type = 0;
    int64_t keyCode = 0;
    uint64_t flags = 0;
    bool withoutUserInfo = false;
};

struct Scenario {
    double clock = 700000000.0;
    std::optional<FrontmostApplication> frontmostApplication;
    std::vector<std::string> grantedTaps{"hid-default", "hid-listen-only", "session-listen-only"};
    bool runLoopSource = true;
    std::vector<ScriptedEvent> events;
    // Like the real run loop, CFRunLoopRun then never returns: the process runs until it is
    // terminated from outside. For tests that watch a live process.
    bool keepRunning = false;
    bool eventSource = true;
    std::vector<int64_t> failKeyboardEvents;
};

Scenario parseScenario(const std::string& text);

struct World {
    Scenario scenario;
    double clock = 0;
    long keyboardEventsCreated = 0;
};

// The world, loaded from STANDIN_SCENARIO on first use.
World& world();

// Appends one record to STANDIN_LOG, when it is set.
void log(const nlohmann::ordered_json& record);

}  // namespace standin
