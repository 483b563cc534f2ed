// The stand-in's world: the scenario it was given, its objects and its log.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/keyboard_events.h"
#include "platform/running_application.h"
#include "platform/system.h"

namespace standin {

enum TypeId : CFTypeID {
    stringType = 7,
    arrayType = 19,
    booleanType = 21,
    numberType = 22,
    characterSetType = 25,
    attributedStringType = 62,
    machPortType = 35,
    runLoopType = 43,
    runLoopSourceType = 46,
    runLoopTimerType = 47,
    fileDescriptorType = 39,
    eventType = 268,
    eventSourceType = 269,
    dataType = 20,
    inputSourceType = 270,
    elementType = 400,
    axValueType = 401,
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
    // What happens: an event for the tap, or something the platform does to the tap unasked.
    enum class Kind { event, tapDisabledSilently, tapInvalidated };
    Kind kind = Kind::event;
    double asleep = 0;    // the machine sleeps first: the wall and continuous clocks move
    double advance = 0;   // moves all three clocks forward; timers due meanwhile fire
    double wallStep = 0;  // moves the wall clock alone, either way
    uint32_t type = 0;
    int64_t keyCode = 0;
    uint64_t flags = 0;
    bool withoutUserInfo = false;
    int64_t sourcePid = 0;       // the posting process; 0 for the keyboard's own events
    int64_t sourceUserData = 0;  // kCGEventSourceUserData
    // The HID system sees it, no tap does (a release the tap missed).
    bool unseen = false;
    // Delivered only once nobody reads standard output any more: the host has gone.
    bool afterOutputClosed = false;
};

// What an element answers for one attribute, as the scenario gives it.
struct AttributeValue {
    enum class Kind {
        text,
        boolean,
        number,
        element,
        array,
        range,
        point,
        attributedString,
        null,
        error
    };
    Kind kind = Kind::null;
    std::u16string text;  // text, attributedString
    bool boolean = false;
    double number = 0;
    std::string element;  // an element's id
    std::vector<AttributeValue> items;
    int64_t range[2] = {0, 0};
    double point[2] = {0, 0};
    int32_t error = 0;
};

// Whether an attribute can be set: a flag, or the status the platform answers with.
struct Settable {
    bool flag = false;
    std::optional<int32_t> error;
};

struct ElementScenario {
    std::map<std::string, AttributeValue> attributes;
    std::map<std::string, Settable> settable;
    std::optional<pid_t> pid;  // AXUIElementGetPid; the frontmost application's when absent
    bool gone = false;         // closed or reloaded: every request answers -25202
};

// The user moving the focus: from `after` seconds on (Mach's continuous time since the start),
// the system-wide element and the frontmost application answer these, where given.
struct FocusChange {
    double after = 0;
    std::optional<ElementScenario> systemWide;
    std::optional<std::optional<RunningApplication>> frontmostApplication;
};

// A test's way to make a key's translation fail: the status, and the text it leaves in the
// buffer all the same.
struct FailingKey {
    int32_t status = 0;
    std::u16string text;
};

// An input source that is there: without Unicode layout data (an input method), or with a
// layout as a Mac hands it out, in 'uchr' bytes.
struct InputSourceScenario {
    std::optional<std::vector<uint8_t>> layoutData;
    std::map<uint16_t, FailingKey> failingKeys;
};

// The US layout: every letter and digit key of the ANSI keyboard at its macOS key code.
InputSourceScenario usInputSource();

struct Scenario {
    double clock = 700000000.0;
    bool trusted = true;
    std::optional<RunningApplication> frontmostApplication;
    // What NSRunningApplication finds by process id (the frontmost application besides).
    std::map<pid_t, std::optional<std::string>> runningApplications;
    ElementScenario systemWide;
    std::map<pid_t, ElementScenario> applications;
    std::map<std::string, ElementScenario> elements;
    std::vector<FocusChange> focusChanges;  // in the order of their times
    std::vector<std::string> grantedTaps{"hid-default", "hid-listen-only", "session-listen-only"};
    // CGPreflightListenEventAccess and CGPreflightPostEventAccess (Input Monitoring, and the
    // right to post events).
    bool listenAccess = true;
    bool postAccess = true;
    bool runLoopSource = true;
    std::vector<ScriptedEvent> events;
    // Like the real run loop, CFRunLoopRun then never returns: the process runs until it is
    // terminated from outside. For tests that watch a live process.
    bool keepRunning = false;
    bool eventSource = true;
    std::vector<int64_t> failKeyboardEvents;
    // The modifier flags the user holds: a keyboard event is made carrying them.
    uint64_t heldFlags = 0;
    // Whether CGEventSourceKeyState answers what the HID system saw; false for every key when not.
    bool keyState = true;
    // TISCopyCurrentKeyboardInputSource, TISCopyCurrentKeyboardLayoutInputSource and
    // TISCopyCurrentASCIICapableKeyboardLayoutInputSource; none when absent.
    std::optional<InputSourceScenario> inputSource = usInputSource();
    std::optional<InputSourceScenario> keyboardLayoutInputSource = usInputSource();
    std::optional<InputSourceScenario> asciiCapableInputSource = usInputSource();
    uint8_t keyboardType = 40;
    // How long every accessibility request to an application takes: all clocks move so far.
    double requestSeconds = 0;
    // sysctl's kern.osproductversion and uname's machine.
    std::string osVersion = "13.6";
    std::string architecture = "x86_64";
    bool translated = false;  // sysctl.proc_translated: run by Rosetta
    // IOHIDCheckAccess(kIOHIDRequestTypeListenEvent): Input Monitoring as the HID system sees it.
    IOHIDAccessType hidListenAccess = kIOHIDAccessTypeGranted;
    bool secureEventInput = false;
    // Whether an event the process posts reaches its own listen-only taps.
    bool postedToOwnTaps = true;
    // What such an event carries when it comes back, where the system rewrites it: its source
    // pid and kCGEventSourceUserData (as posted when absent).
    std::optional<int64_t> postedSourcePid;
    std::optional<int64_t> postedUserData;
    // Whether the run loop calls a descriptor's write callback when it can be written.
    bool writeCallBacks = true;
};

// A file's whole contents; throws std::runtime_error naming the file and the system's reason.
std::string readFile(const std::string& path);

// A scenario's text; files it names (keyboard layouts) are found from `folder` unless absolute.
Scenario parseScenario(const std::string& text, const std::string& folder = ".");

// The element an id names ("systemWide", "app:PID" or a key of `elements`); null when the
// scenario says nothing of it.
const ElementScenario* findElement(const Scenario& scenario, const std::string& id);

// The id of the element AXUIElementCreateApplication(pid) makes, and the pid such an id names.
std::string applicationElementId(pid_t pid);
std::optional<pid_t> applicationPidOf(std::string_view id);

// UTF-8 and UTF-16 for the stand-in's own use (scenario texts, layout files, log records); a
// byte that is no UTF-8 becomes U+FFFD.
std::u16string utf16(std::string_view utf8);
std::string utf8(std::u16string_view utf16);

struct World {
    Scenario scenario;
    double clock = 0;  // the wall clock
    // Mach's continuous time, in nanoseconds (handed out in ticks of 125/3 ns), and its absolute
    // time, which stands still during sleep: equal until the machine first sleeps.
    uint64_t monotonic = 100000ull * 1000000000ull;
    uint64_t absolute = monotonic;
    uint64_t started = monotonic;  // focus changes count from here
    long keyboardEventsCreated = 0;
    // The keys the HID system holds down, from every scenario event, delivered or not.
    std::vector<int64_t> keysDown;
    // Events posted and not yet handed to the process's own listen-only taps (plain values, so
    // that a post leaves no platform object alive).
    struct Posted {
        uint32_t type;
        int64_t keyCode;
        uint64_t flags;
        int64_t sourcePid;
        int64_t userData;
    };
    std::vector<Posted> posted;
    // CFRunLoopRunInMode's place in the scripted events: the next one, and the time already
    // waited towards it.
    size_t nextScripted = 0;
    double waitedForNext = 0;
    size_t nextFocusChange = 0;
};

// The world, loaded from STANDIN_SCENARIO on first use.
World& world();

// Makes the focus changes that have come due; called wherever the continuous clock moves.
void changeFocusAsDue();

// Counts one accessibility request, for standin::accessibilityRequests().
void countAccessibilityRequest();

// Why STANDIN_LOG, set, could not be opened (an errno value); 0 when it could or is unset.
int logOpenError();

// Whether STANDIN_LOG is set: callers on hot paths skip building records nobody reads.
bool logging();

// Appends one record to STANDIN_LOG, when it is set.
void log(const nlohmann::ordered_json& record);

}  // namespace standin
