#include "platform/standin/standin.h"
#include "platform/standin/world.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"
#include "platform/cf_ref.h"
#include "platform/cf_string.h"
#include "platform/core_foundation.h"
#include "platform/keyboard_layout.h"
#include "platform/running_application.h"

namespace {

std::vector<std::pair<uint32_t, bool>> seen;  // type, had user info
CFMachPortRef currentTap = nullptr;

// Swallows key-downs; re-enables the tap after a time-out only.
CGEventRef recordingCallback(CGEventTapProxy, CGEventType type, CGEventRef event, void* userInfo) {
    seen.emplace_back(type, userInfo != nullptr);
    if (type == kCGEventTapDisabledByTimeout) {
        CGEventTapEnable(currentTap, true);
    }
    return type == kCGEventKeyDown ? nullptr : event;
}

TEST(Standin, RejectsMalformedScenariosNamingTheKey) {
    const std::pair<const char*, const char*> bad[] = {
        {"", "parse error"},
        {"[]", "the scenario is not an object"},
        {R"({"clock": "now"})", "clock is not a number"},
        {R"({"clock": true})", "clock is not a number"},
        {R"({"keyboard": {"grantedtaps": []}})", "unknown key keyboard.grantedtaps"},
        {R"({"keyboard": {"grantedTaps": "all"}})", "keyboard.grantedTaps is not an array"},
        {R"({"keyboard": {"grantedTaps": [1]}})", "keyboard.grantedTaps[0] is not a string"},
        {R"({"keyboard": {"runLoopSource": 1}})", "keyboard.runLoopSource is not a boolean"},
        {R"({"keyboard": {"keepRunning": "yes"}})", "keyboard.keepRunning is not a boolean"},
        {R"({"keyboard": {"listenAccess": 1}})", "keyboard.listenAccess is not a boolean"},
        {R"({"keyboard": {"events": [{"type": 10, "advance": -1}]}})",
         "keyboard.events[0].advance is not zero or more"},
        {R"({"keyboard": {"events": [{"type": 10, "sourcePid": "1"}]}})",
         "keyboard.events[0].sourcePid is not an integer"},
        {R"({"keyboard": {"failKeyboardEvents": [1.5]}})", "keyboard.failKeyboardEvents[0] is not"},
        {R"({"keyboard": {"failKeyboardEvents": [0]}})", "[0] is not a call number (1 or more)"},
        {R"({"keyboard": {"grantedTaps": ["hid"]}})", "grantedTaps[0]: no tap is called hid"},
        {R"({"keyboard": {"events": [{}]}})", "keyboard.events[0].type is missing"},
        {R"({"keyboard": {"events": [{"typ": "keyDown"}]}})", "unknown key keyboard.events[0].typ"},
        {R"({"keyboard": {"events": [{"type": "keyPress"}]}})", "unknown event type keyPress"},
        {R"({"keyboard": {"events": [{"type": "keyDown", "keycode": 1}]}})",
         "unknown key keyboard.events[0].keycode"},
        {R"({"keyboard": {"events": [{"type": "keyDown", "keyCode": true}]}})",
         "keyboard.events[0].keyCode is not an integer"},
        {R"({"keyboard": {"events": [{"type": -1}]}})",
         "keyboard.events[0].type is not an integer"},
        {R"({"keyboard": {"events": [{"type": 4294967308}]}})",
         "keyboard.events[0].type is not an integer"},  // 12 plus 2 to the 32nd
        {R"({"frontmostApplication": {"pid": 4294967797}})", "frontmostApplication.pid is not"},
        {R"({"frontmostApplication": {"pid": "501"}})", "frontmostApplication.pid is not"},
        {R"({"frontmostApplication": {"bundleIdentifier": null}})", "frontmostApplication.pid"},
        {R"({"frontmostApplication": {"pid": 1}})",
         "frontmostApplication.bundleIdentifier is not given"},
        {R"({"frontmostApplication": {"pid": 1, "bundleIdentifier": null, "bundleID": "x"}})",
         "unknown key frontmostApplication.bundleID"},
        {R"({"Clock": 1})", "unknown key Clock"},
        {R"({"osVersion": 14})", "osVersion is not a string"},
        {R"({"architecture": null})", "architecture is not a string"},
        {R"({"keyboard": {"hidListenAccess": "yes"}})",
         "keyboard.hidListenAccess: not granted, denied or unknown"},
        {R"({"keyboard": {"hidListenAccess": 0}})", "keyboard.hidListenAccess is not a string"},
        {R"({"keyboard": {"secureEventInput": 1}})", "keyboard.secureEventInput is not a boolean"},
        {R"({"keyboard": {"postedToOwnTaps": "no"}})", "keyboard.postedToOwnTaps is not a boolean"},
        {R"({"keyboard": {"writeCallBacks": 0}})", "keyboard.writeCallBacks is not a boolean"},
        {R"({"trusted": "yes"})", "trusted is not a boolean"},
        {R"({"elements": {"a": {"attribute": {}}}})", "unknown key elements.a.attribute"},
        {R"({"elements": {"a": {"attributes": {"AXRole": {"elem": "a"}}}}})",
         "unknown value form elements.a.attributes.AXRole.elem"},
        {R"({"elements": {"a": {"attributes": {"AXParent": {"element": "b"}}}}})",
         "elements.a.attributes.AXParent names no element: b"},
        {R"({"systemWide": {"attributes": {"AXFocusedUIElement": {"element": "app:9"}}}})",
         "names no element: app:9"},
        {R"({"elements": {"a": {"attributes": {"AXChildren": {"array": [null]}}}}})",
         "cannot stand in a list"},
        {R"({"elements": {"a": {"attributes": {"AXSelectedTextRange": {"range": [1]}}}}})",
         "elements.a.attributes.AXSelectedTextRange.range is not a pair of numbers"},
        {R"({"elements": {"a": {"settable": {"AXValue": "yes"}}}})",
         "elements.a.settable.AXValue is not true, false or {\"error\": CODE}"},
        {R"({"elements": {"a": {"attributes": {"AXValue": {"utf16": [65536]}}}}})",
         "elements.a.attributes.AXValue.utf16 is not an integer in range"},
        {R"({"applications": {"x1": {}}})", "applications.x1: not a process id"},
        {R"({"elements": {"a": {"pid": "501"}}})", "elements.a.pid is not an integer"},
        {R"({"elements": {"a": {"gone": 1}}})", "elements.a.gone is not a boolean"},
        {R"({"runningApplications": {"501": {}}})",
         "runningApplications.501.bundleIdentifier is not given"},
        {R"({"runningApplications": {"501": {"bundleIdentifier": null, "name": "x"}}})",
         "unknown key runningApplications.501.name"},
        {R"({"inputSource": {}})", "inputSource.layout is not given"},
        {R"({"inputSource": {"layout": null, "keylayout": "x"}})", "inputSource.layout is not"},
        {R"({"inputSource": {"keylayout": "missing.keylayout"}})",
         "inputSource.keylayout: cannot read ./missing.keylayout"},
        {R"({"asciiCapableInputSource": {"keylayout": 1}})",
         "asciiCapableInputSource.keylayout is not a string"},
        {R"({"keyboardLayoutInputSource": {"layout": {"1": {"deadKeyState": 65536}}}})",
         "keyboardLayoutInputSource.layout.1.deadKeyState is not an integer in range"},
        {R"({"inputSource": {"layout": {"1": {"deadKeyState": 0}}}})",
         "inputSource.layout.1.deadKeyState is not a dead-key state 1-65535"},
        {R"({"inputSource": {"layout": {"v": "v"}}})", "inputSource.layout.v: not a key code"},
        {R"({"inputSource": {"layout": {"128": "v"}}})",
         "inputSource.layout.128: not a key code 0-127"},
        {R"({"inputSource": {"layout": {"9": 9}}})", "inputSource.layout.9 is not an object"},
        {R"({"inputSource": {"layout": {"9": {"error": "x"}}}})", "inputSource.layout.9.error is"},
        {R"({"keyboardType": 256})", "keyboardType is not an integer in range"},
        {R"({"elements": {"a": {"settable": {"AXValue": 1}}}})",
         "elements.a.settable.AXValue is not true, false or {\"error\": CODE}"},
        {R"({"elements": {"a": {"attributes": {"AXChildren": {"array": [{"element": "b"}]}}}}})",
         "elements.a.attributes.AXChildren names no element: b"},
    };
    for (const auto& [scenario, reason] : bad) {
        try {
            standin::loadScenario(scenario);
            ADD_FAILURE() << "accepted " << scenario;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos)
                << scenario << " gave: " << error.what();
        }
    }
    // Every key in its right type is taken.
    EXPECT_NO_THROW(standin::loadScenario(R"({"clock": 1, "frontmostApplication": null,
        "trusted": false, "systemWide": {"attributes": {"AXFocusedUIElement": {"element": "f"}}},
        "applications": {"501": {"attributes": {"AXFocusedWindow": {"element": "f"}}}},
        "elements": {"f": {"attributes": {"AXValue": {"utf16": [55296, 65]},
            "AXParent": {"element": "app:501"}, "AXChildren": {"array": [{"element": "systemWide"}]},
            "AXPosition": {"point": [1.5, 2]}, "AXDescription": {"attributedString": "d"},
            "AXTitle": null, "AXHelp": {"error": -25212}, "AXEditable": 1},
            "settable": {"AXValue": true, "AXTitle": {"error": -25204}}}},
        "keyboard": {"grantedTaps": [], "runLoopSource": false, "eventSource": false,
                     "keepRunning": false, "failKeyboardEvents": [2], "listenAccess": false,
                     "postAccess": false,
                     "events": [{"advance": 0.5, "type": 12, "keyCode": 54, "flags": 0,
                                 "withoutUserInfo": true, "wallStep": -2, "sourcePid": 7}]}})"));
}

TEST(Standin, GrantsTapsAndSourcesAsTheScenarioSays) {
    standin::loadScenario(R"({"keyboard": {"grantedTaps": ["session-listen-only"],
                                           "runLoopSource": false}})");
    EXPECT_EQ(CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                               0x5C00, recordingCallback, nullptr),
              nullptr);
    EXPECT_EQ(CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly,
                               0x5C00, recordingCallback, nullptr),
              nullptr);
    const long before = standin::liveObjects();
    {
        CFRef<CFMachPortRef> tap(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                                  kCGEventTapOptionListenOnly, 0x5C00,
                                                  recordingCallback, nullptr));
        ASSERT_TRUE(tap);
        EXPECT_EQ(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap.get(), 0), nullptr);
    }
    EXPECT_EQ(standin::liveObjects(), before);

    // Without the permissions a tap loses its key events, and one left with none is refused.
    standin::loadScenario(R"({"trusted": false, "keyboard": {"listenAccess": false}})");
    EXPECT_EQ(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                               kCGEventTapOptionListenOnly, 0xC00, recordingCallback, nullptr),
              nullptr);
    CFRef<CFMachPortRef> narrowed(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                                   kCGEventTapOptionListenOnly, 0x5C00,
                                                   recordingCallback, nullptr));
    EXPECT_TRUE(narrowed);
}

TEST(Standin, FrontmostApplicationFromTheScenario) {
    standin::loadScenario("{}");
    EXPECT_FALSE(frontmostApplication().has_value());

    standin::loadScenario(
        R"({"frontmostApplication": {"pid": 501, "bundleIdentifier": "com.example.editor"}})");
    auto front = frontmostApplication();
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(front->pid, 501);
    EXPECT_EQ(front->bundleIdentifier, "com.example.editor");

    standin::loadScenario(R"({"frontmostApplication": {"pid": 77, "bundleIdentifier": null}})");
    front = frontmostApplication();
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(front->pid, 77);
    EXPECT_FALSE(front->bundleIdentifier.has_value());

    EXPECT_THROW(standin::loadScenario(R"({"frontmostApplication": {"bundleIdentifier": "x"}})"),
                 std::runtime_error);
}

CFRef<CFStringRef> unitString(std::u16string_view units) {
    return CFRef<CFStringRef>(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units.data()),
        static_cast<CFIndex>(units.size())));
}

TEST(Standin, StringServicesKeepToTheRangeAndBufferTheyAreGiven) {
    // Units 0-3, 5-9 (decomposed) and 11-14: the same word three times.
    const auto text = unitString(u"caf\u00E9 cafe\u0301 caf\u00E9");
    const auto wanted = unitString(u"caf\u00E9");
    CFRange found{-1, -1};
    ASSERT_TRUE(CFStringFindWithOptions(text.get(), wanted.get(), CFRange{1, 14},
                                        kCFCompareNonliteral, &found));
    EXPECT_EQ(found.location, 5);  // offsets of the whole text, not of the range
    EXPECT_EQ(found.length, 5);
    // The range ends before the second word's accent, and the third is outside it.
    EXPECT_FALSE(CFStringFindWithOptions(text.get(), wanted.get(), CFRange{1, 8},
                                         kCFCompareNonliteral, &found));

    // UTF-8 stops before a character that does not fit whole.
    const auto emoji = unitString(u"a\U0001F600b");
    UInt8 bytes[8] = {};
    CFIndex used = -1;
    EXPECT_EQ(CFStringGetBytes(emoji.get(), CFRange{0, 4}, kCFStringEncodingUTF8, 0, false, bytes,
                               4, &used),
              1);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(bytes[1], 0);
}

// The run loop is the process's own; this is the only test that adds a source to it.
TEST(Standin, RunLoopDeliversUntilDisabledAndAgainAfterReEnable) {
    standin::loadScenario(R"({"clock": 10, "keyboard": {"events": [
        {"type": "keyDown", "keyCode": 1},
        {"type": "tapDisabledByUserInput"},
        {"type": "keyUp", "keyCode": 1},
        {"type": "tapDisabledByTimeout", "advance": 2.5},
        {"type": 12, "keyCode": 54, "flags": 1048576, "withoutUserInfo": true}
    ]}})");
    CFRunLoopRun();  // no source yet: returns at once
    EXPECT_TRUE(seen.empty());

    int userInfo = 0;
    CFRef<CFMachPortRef> tap(CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap,
                                              kCGEventTapOptionDefault, 0x5C00, recordingCallback,
                                              &userInfo));
    ASSERT_TRUE(tap);
    currentTap = tap.get();
    CFRef<CFRunLoopSourceRef> source(
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap.get(), 0));
    ASSERT_TRUE(source);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopCommonModes);
    CFRunLoopRun();

    const std::vector<std::pair<uint32_t, bool>> expected = {
        {kCGEventKeyDown, true},
        {kCGEventTapDisabledByUserInput, true},
        {kCGEventTapDisabledByTimeout, true},
        {kCGEventFlagsChanged, false},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(CFAbsoluteTimeGetCurrent(), 12.5);

    // A descriptor's callback fires once, between the events, until it is enabled again.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    int calls = 0;
    CFFileDescriptorContext context{0, &calls, nullptr, nullptr, nullptr};
    CFRef<CFFileDescriptorRef> writable(CFFileDescriptorCreate(
        kCFAllocatorDefault, ends[1], true,
        [](CFFileDescriptorRef, CFOptionFlags, void* info) { ++*static_cast<int*>(info); },
        &context));
    CFRef<CFRunLoopSourceRef> watch(
        CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, writable.get(), 0));
    CFRunLoopAddSource(CFRunLoopGetCurrent(), watch.get(), kCFRunLoopCommonModes);
    CFFileDescriptorEnableCallBacks(writable.get(), kCFFileDescriptorWriteCallBack);
    CGEventTapEnable(tap.get(), true);
    CFRunLoopRun();
    EXPECT_EQ(calls, 1);
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), watch.get(), kCFRunLoopCommonModes);
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopCommonModes);
    CFFileDescriptorInvalidate(writable.get());
    ::close(ends[0]);
}

// The status and the value of one copy request; the value is the caller's.
struct Copied {
    AXError status;
    CFRef<CFTypeRef> value;
};

Copied copied(AXUIElementRef element, const char* attribute) {
    Copied answer{kAXErrorFailure, {}};
    answer.status = AXUIElementCopyAttributeValue(element, makeCFString(attribute).get(),
                                                  answer.value.initializeInto());
    return answer;
}

// The status and the flag of one settable request.
std::pair<AXError, bool> settable(AXUIElementRef element, const char* attribute) {
    Boolean flag = true;
    const AXError status =
        AXUIElementIsAttributeSettable(element, makeCFString(attribute).get(), &flag);
    return {status, flag != 0};
}

std::vector<std::pair<uint32_t, int64_t>> heardInMode;  // type, key code

CGEventRef hearInMode(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    heardInMode.emplace_back(type, CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode));
    return event;
}

TEST(Standin, RunLoopInModeWaitsItsTimeOutDeliveringWhatComesDueAndWhatThisProcessPosted) {
    standin::loadScenario(R"({"clock": 0, "keyboard": {"events": [
        {"advance": 0.7, "type": "flagsChanged", "keyCode": 54, "flags": 1048592},
        {"advance": 0.2, "type": "flagsChanged", "keyCode": 54, "flags": 0}
    ]}})");
    heardInMode.clear();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.5, false), kCFRunLoopRunFinished);
    EXPECT_EQ(CFAbsoluteTimeGetCurrent(), 0);  // nothing to run: no time passes
    CFRef<CFMachPortRef> tap(CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap,
                                              kCGEventTapOptionListenOnly, 0x1C00, hearInMode,
                                              nullptr));
    CFRef<CFRunLoopSourceRef> source(
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap.get(), 0));
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopDefaultMode);
    struct Step {
        double seconds;
        CFRunLoopRunResult result;
        double clock;
        size_t heard;
    };
    // The first event is due at 0.7 s: half a second passes without it, the next call brings it
    // and the second; a posted key comes back at once.
    const Step steps[] = {
        {0.5, kCFRunLoopRunTimedOut, 0.5, 0},
        {0.5, kCFRunLoopRunTimedOut, 1.0, 2},
        {0.5, kCFRunLoopRunTimedOut, 1.5, 2},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, step.seconds, false), step.result);
        EXPECT_DOUBLE_EQ(CFAbsoluteTimeGetCurrent(), step.clock);
        EXPECT_EQ(heardInMode.size(), step.heard);
    }
    CFRef<CGEventSourceRef> poster(CGEventSourceCreate(kCGEventSourceStateHIDSystemState));
    CFRef<CGEventRef> posted(CGEventCreateKeyboardEvent(poster.get(), 9, true));
    CGEventPost(kCGHIDEventTap, posted.get());
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.5, true), kCFRunLoopRunHandledSource);
    EXPECT_DOUBLE_EQ(CFAbsoluteTimeGetCurrent(), 1.5);
    const std::vector<std::pair<uint32_t, int64_t>> expected = {
        {kCGEventFlagsChanged, 54}, {kCGEventFlagsChanged, 54}, {kCGEventKeyDown, 9}};
    EXPECT_EQ(heardInMode, expected);
    CFMachPortInvalidate(tap.get());
}

TEST(Standin, AccessibilityAnswersWithTheValueFormsAndStatusesOfTheScenario) {
    standin::loadScenario(R"({
        "systemWide": {"attributes": {"AXFocusedUIElement": {"element": "a"}}},
        "elements": {"a": {
            "attributes": {"AXNumber": 1, "AXPoint": {"point": [1.5, -2]},
                           "AXRange": {"range": [9007199254740993, 9223372036854775807]},
                           "AXNoValue": {"error": -25212}, "AXValue": "v"},
            "settable": {"AXTitle": true, "AXHelp": {"error": -25204}}}}})");
    const long before = standin::liveObjects();
    {
        // Every element handed over is a live object until it is released.
        const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
        EXPECT_EQ(standin::liveObjects(), before + 1);
        Copied focus = copied(systemWide.get(), "AXFocusedUIElement");
        ASSERT_EQ(focus.status, kAXErrorSuccess);
        EXPECT_EQ(standin::liveObjects(), before + 2);
        const auto a = static_cast<AXUIElementRef>(focus.value.get());

        const Copied number = copied(a, "AXNumber");
        EXPECT_EQ(number.status, kAXErrorSuccess);
        ASSERT_EQ(CFGetTypeID(number.value.get()), CFNumberGetTypeID());  // a number, not a boolean
        for (const auto& [attribute, type] : {std::pair{"AXRange", kAXValueTypeCFRange},
                                              std::pair{"AXPoint", kAXValueTypeCGPoint}}) {
            const Copied value = copied(a, attribute);
            ASSERT_EQ(CFGetTypeID(value.value.get()), AXValueGetTypeID()) << attribute;
            EXPECT_EQ(AXValueGetType(static_cast<AXValueRef>(value.value.get())), type)
                << attribute;
        }
        CFRange range{0, 0};
        EXPECT_TRUE(AXValueGetValue(static_cast<AXValueRef>(copied(a, "AXRange").value.get()),
                                    kAXValueTypeCFRange, &range));
        EXPECT_EQ(range.location, 9007199254740993);  // beyond a double's integers
        EXPECT_EQ(range.length, INT64_MAX);
        CGPoint point{0, 0};
        EXPECT_TRUE(AXValueGetValue(static_cast<AXValueRef>(copied(a, "AXPoint").value.get()),
                                    kAXValueTypeCGPoint, &point));
        EXPECT_EQ(point.x, 1.5);
        EXPECT_EQ(point.y, -2);

        // A failing request hands over no value, whatever its status.
        const Copied noValue = copied(a, "AXNoValue");
        EXPECT_EQ(noValue.status, kAXErrorNoValue);
        EXPECT_FALSE(noValue.value);
        const Copied unlisted = copied(a, "AXTitle");
        EXPECT_EQ(unlisted.status, kAXErrorAttributeUnsupported);
        EXPECT_FALSE(unlisted.value);

        using Settable = std::pair<AXError, bool>;
        EXPECT_EQ(settable(a, "AXTitle"), Settable(kAXErrorSuccess, true));
        EXPECT_EQ(settable(a, "AXHelp"), Settable(kAXErrorCannotComplete, false));
        EXPECT_EQ(settable(a, "AXValue"), Settable(kAXErrorSuccess, false));  // listed only
        EXPECT_EQ(settable(a, "AXRole"), Settable(kAXErrorAttributeUnsupported, false));

        // Anything but an element is an illegal argument, even a value an element gave.
        const auto notElement = reinterpret_cast<AXUIElementRef>(number.value.get());
        const Copied fromNumber = copied(notElement, "AXNumber");
        EXPECT_EQ(fromNumber.status, kAXErrorIllegalArgument);
        EXPECT_FALSE(fromNumber.value);
        EXPECT_EQ(settable(notElement, "AXValue"), Settable(kAXErrorIllegalArgument, false));
    }
    EXPECT_EQ(standin::liveObjects(), before);

    // An element gone away answers -25202 to every request, whatever it listed.
    standin::loadScenario(R"({
        "systemWide": {"attributes": {"AXFocusedUIElement": {"element": "g"}}},
        "elements": {"g": {"attributes": {"AXRole": "AXTextField"}, "gone": true}}})");
    const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
    const Copied gone = copied(systemWide.get(), "AXFocusedUIElement");
    const auto g = static_cast<AXUIElementRef>(gone.value.get());
    EXPECT_EQ(copied(g, "AXRole").status, kAXErrorInvalidUIElement);
    EXPECT_EQ(settable(g, "AXRole"), std::make_pair(kAXErrorInvalidUIElement, false));
}

// What a layout types for presses in turn, each handed the dead-key state the last one left.
struct Typed {
    OSStatus status = noErr;
    std::u16string text;          // of the last press
    bool deadKeyPending = false;  // the last press left a state to go on from

    bool operator==(const Typed&) const = default;
};

void PrintTo(const Typed& typed, std::ostream* out) {
    *out << "status " << typed.status << ", \"" << standin::utf8(typed.text) << "\""
         << (typed.deadKeyPending ? ", a dead key pending" : "");
}

Typed typedThrough(TISInputSourceRef (*copy)(), std::vector<std::pair<UInt32, UInt16>> presses,
                   OptionBits options = 0) {
    const CFRef<TISInputSourceRef> source(copy());
    if (!source) {
        return {1, u"no source", false};
    }
    const auto data = static_cast<CFDataRef>(
        TISGetInputSourceProperty(source.get(), kTISPropertyUnicodeKeyLayoutData));
    if (data == nullptr) {
        return {1, u"no layout", false};
    }
    const auto* layout = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
    UInt32 state = 0;
    Typed typed;
    for (const auto& [modifiers, code] : presses) {
        UniChar buffer[4] = {};
        UniCharCount length = 9;
        typed.status = UCKeyTranslate(layout, code, kUCKeyActionDown, modifiers, LMGetKbdType(),
                                      options, &state, 4, &length, buffer);
        typed.text.assign(reinterpret_cast<const char16_t*>(buffer), length);
    }
    typed.deadKeyPending = (state & 0xFFFF) != 0;
    return typed;
}

// The modifier byte UCKeyTranslate takes: EventRecord's modifiers >> 8.
constexpr UInt32 command = cmdKey >> 8, shift = shiftKey >> 8, option = optionKey >> 8;

TEST(Standin, KeyboardLayoutsCompiledFromKeylayoutFilesTypeAsOnAMac) {
    struct Case {
        const char* layout;  // a file of examples/keylayouts, or the scenario's key map
        int keyboardType;
        std::vector<std::pair<UInt32, UInt16>> presses;
        Typed expected;
        OptionBits options = 0;
    };
    const Case cases[] = {
        {"dvorak", 40, {{0, 47}}, {noErr, u"v"}},
        {"dvorak", 40, {{command, 47}}, {noErr, u"v"}},
        {"dvorak", 40, {{shift, 34}}, {noErr, u"C"}},
        {"dvorak", 40, {{0, 36}}, {noErr, u"\r"}},
        // The later, overlapping Command rule wins: QWERTY under Command, with Shift too.
        {"dvorak-qwerty-command", 40, {{0, 9}}, {noErr, u"k"}},
        {"dvorak-qwerty-command", 40, {{command, 9}}, {noErr, u"v"}},
        {"dvorak-qwerty-command", 40, {{command | shift, 47}}, {noErr, u"."}},
        {"polski-dvp", 40, {{0, 47}}, {noErr, u"v"}},
        {"polski-dvp", 40, {{0, 34}}, {noErr, u"c"}},
        {"polski-dvp", 40, {{0, 122}}, {noErr, u"\x10"}},  // F1's control character
        {"workman-p-qwerty-command", 40, {{0, 11}}, {noErr, u"v"}},
        {"workman-p-qwerty-command", 40, {{command, 9}}, {noErr, u"v"}},
        {"workman-p-qwerty-command", 40, {{command, 8}}, {noErr, u"c"}},
        {"russian-universal", 40, {{0, 9}}, {noErr, u"\u043c"}},
        {"russian-universal", 40, {{command, 9}}, {noErr, u"v"}},
        {"russian-universal", 40, {{shift | option, 44}}, {noErr, u"", true}},
        {"russian-universal", 40, {{shift | option, 44}, {shift, 32}}, {noErr, u"\u0403"}},
        {"dead-acute", 40, {{option, 14}}, {noErr, u"", true}},
        {"dead-acute", 40, {{option, 14}, {0, 14}}, {noErr, u"\u00e9"}},
        {"dead-acute", 40, {{option, 14}, {shift, 14}}, {noErr, u"\u00c9"}},
        {"dead-acute", 40, {{option, 14}, {0, 49}}, {noErr, u"\u00b4"}},
        {"dead-acute", 40, {{option, 14}, {0, 9}}, {noErr, u"\u00b4v"}},  // the terminator first
        {"dead-acute", 40, {{option, 14}, {option, 14}}, {noErr, u"\u00b4"}},
        {"dead-acute", 40, {{option, 14}}, {noErr, u"\u00b4"}, kUCKeyTranslateNoDeadKeysMask},
        {"dead-acute", 40, {{option, 0}}, {noErr, u"\u4e2d"}},
        {"dead-acute", 40, {{option, 9}}, {noErr, u"\u221a\u0305"}},
        {"dead-acute", 40, {{command, 0}}, {noErr, u"a"}},
        {"dead-acute", 40, {{0, 93}}, {noErr, u""}},
        {"dead-acute", 200, {{0, 93}}, {noErr, u"\u00a5"}},  // a JIS keyboard
        {"dead-acute", 200, {{0, 9}}, {noErr, u"v"}},        // its base keys
        {"dead-acute", 40, {{0, 128}}, {paramErr, u""}},
        // The scenario's key map: one table for every modifier state.
        {R"({"47": "V", "3": "ab", "4": "abcde", "5": {"error": -25342, "text": "v"}})",
         40,
         {{command, 47}},
         {noErr, u"V"}},
        {R"({"3": "ab"})", 40, {{0, 3}}, {noErr, u"ab"}},
        {R"({"4": "abcde"})", 40, {{0, 4}}, {kUCOutputBufferTooSmall, u""}},
        {R"({"5": {"error": -25342, "text": "v"}})", 40, {{0, 5}}, {-25342, u"v"}},
        {R"({"6": {"deadKeyState": 3}})", 40, {{0, 6}}, {noErr, u"", true}},
        {R"({"6": "\u4e2d", "7": "\ufffe"})", 40, {{0, 6}}, {noErr, u"\u4e2d"}},
        {R"({"6": "\u4e2d", "7": "\ufffe"})", 40, {{0, 7}}, {noErr, u"\ufffe"}},
    };
    const long before = standin::liveObjects();
    for (const auto& c : cases) {
        const std::string layout = c.layout[0] == '{'
                                       ? std::string(R"({"layout": )") + c.layout + "}"
                                       : R"({"keylayout": ")" + std::string(KEYLAYOUTS) + "/" +
                                             c.layout + R"(.keylayout"})";
        standin::loadScenario(R"({"keyboardType": )" + std::to_string(c.keyboardType) +
                              R"(, "inputSource": )" + layout + "}");
        EXPECT_EQ(typedThrough(TISCopyCurrentKeyboardInputSource, c.presses, c.options), c.expected)
            << c.layout << " key " << c.presses.back().second;
    }
    // Each source as the scenario gives it, the current one's by default.
    standin::loadScenario(std::string(R"({"inputSource": {"layout": null},
        "asciiCapableInputSource": {"keylayout": ")") +
                          KEYLAYOUTS + R"(/dvorak.keylayout"}})");
    EXPECT_EQ(typedThrough(TISCopyCurrentKeyboardInputSource, {{0, 47}}).text, u"no layout");
    EXPECT_EQ(typedThrough(TISCopyCurrentKeyboardLayoutInputSource, {{0, 47}}).text, u"no layout");
    EXPECT_EQ(typedThrough(TISCopyCurrentASCIICapableKeyboardLayoutInputSource, {{0, 47}}).text,
              u"v");
    standin::loadScenario(R"({"inputSource": null})");
    EXPECT_EQ(typedThrough(TISCopyCurrentKeyboardLayoutInputSource, {{0, 9}}).text, u"no source");
    EXPECT_EQ(standin::liveObjects(), before);
}

}  // namespace
