// Reading a scenario into the world it describes: every key known, every value of its type, and
// every element a value names present.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/standin/object_reader.h"
#include "platform/standin/uchr.h"
#include "platform/standin/world.h"

namespace standin {
namespace {

const std::pair<const char*, uint32_t> eventTypeNames[] = {
    {"keyDown", 10},
    {"keyUp", 11},
    {"flagsChanged", 12},
    {"systemDefined", 14},
    {"tapDisabledByTimeout", 0xFFFFFFFE},
    {"tapDisabledByUserInput", 0xFFFFFFFF},
};

// An application's bundle identifier: given, as a text or null.
std::optional<std::string> bundleIdentifierOf(ObjectReader& application) {
    const auto* bundle = application.find("bundleIdentifier");
    application.expect(bundle != nullptr, "bundleIdentifier", "given (a text or null)");
    if (bundle->is_null()) {
        return std::nullopt;
    }
    return ObjectReader::text(*bundle, application.pathOf("bundleIdentifier"));
}

std::optional<RunningApplication> parseFrontmost(const nlohmann::json& value,
                                                 const std::string& path) {
    if (value.is_null()) {
        return std::nullopt;
    }
    ObjectReader application(value, path);
    const auto* pid = application.find("pid");
    application.expect(pid != nullptr, "pid", "given");
    RunningApplication front{ObjectReader::integerValue<pid_t>(*pid, application.pathOf("pid")),
                             bundleIdentifierOf(application)};
    application.finish();
    return front;
}

// What the platform does to a tap unasked, named as event types are.
const std::pair<const char*, ScriptedEvent::Kind> tapHappenings[] = {
    {"tapDisabledSilently", ScriptedEvent::Kind::tapDisabledSilently},
    {"tapInvalidated", ScriptedEvent::Kind::tapInvalidated},
};

void parseEventType(const nlohmann::json& value, const std::string& path, ScriptedEvent& event) {
    if (value.is_number()) {
        event.type = ObjectReader::integerValue<uint32_t>(value, path);
        return;
    }
    const auto name = ObjectReader::text(value, path);
    for (const auto& [known, raw] : eventTypeNames) {
        if (name == known) {
            event.type = raw;
            return;
        }
    }
    for (const auto& [known, kind] : tapHappenings) {
        if (name == known) {
            event.kind = kind;
            return;
        }
    }
    throw std::runtime_error(path + ": unknown event type " + name);
}

ScriptedEvent parseEvent(const nlohmann::json& value, const std::string& path) {
    ObjectReader reader(value, path);
    ScriptedEvent event;
    const auto seconds = [&](const char* key) {
        const double value = reader.number(key, 0.0);
        reader.expect(value >= 0, key, "zero or more (time only goes forward)");
        return value;
    };
    event.asleep = seconds("asleep");
    event.advance = seconds("advance");
    event.wallStep = reader.number("wallStep", 0.0);
    const auto* type = reader.find("type");
    event.keyCode = reader.integer<int64_t>("keyCode", 0);
    event.flags = reader.integer<uint64_t>("flags", 0);
    event.withoutUserInfo = reader.boolean("withoutUserInfo", false);
    event.sourcePid = reader.integer<int64_t>("sourcePid", 0);
    event.sourceUserData = reader.integer<int64_t>("sourceUserData", 0);
    event.unseen = reader.boolean("unseen", false);
    event.afterOutputClosed = reader.boolean("afterOutputClosed", false);
    reader.finish();  // a misspelt "type" is an unknown key before it is a missing one
    if (type == nullptr) {
        throw std::runtime_error(reader.pathOf("type") + " is missing");
    }
    parseEventType(*type, reader.pathOf("type"), event);
    return event;
}

AttributeValue parseValue(const nlohmann::json& value, const std::string& path);

// A one-key object naming a value form.
AttributeValue parseForm(const nlohmann::json& value, const std::string& path) {
    using Kind = AttributeValue::Kind;
    if (value.size() != 1) {
        throw std::runtime_error(path + " is not a value (one of the value forms)");
    }
    const std::string form = value.begin().key();
    const nlohmann::json& content = value.begin().value();
    const std::string at = path + "." + form;
    AttributeValue parsed;
    const auto pairOf = [&](auto& into) {
        if (!content.is_array() || content.size() != 2 || !content[0].is_number() ||
            !content[1].is_number()) {
            throw std::runtime_error(at + " is not a pair of numbers");
        }
        for (size_t i = 0; i < 2; ++i) {
            // Not one conditional expression: its type would be double, which rounds a range.
            if constexpr (std::is_integral_v<std::remove_reference_t<decltype(into[0])>>) {
                into[i] = ObjectReader::integerValue<int64_t>(content[i], at);
            } else {
                into[i] = content[i].template get<double>();
            }
        }
    };
    if (form == "element") {
        parsed.kind = Kind::element;
        parsed.element = ObjectReader::text(content, at);
    } else if (form == "array") {
        parsed.kind = Kind::array;
        if (!content.is_array()) {
            throw std::runtime_error(at + " is not an array");
        }
        for (size_t i = 0; i < content.size(); ++i) {
            parsed.items.push_back(parseValue(content[i], at + "[" + std::to_string(i) + "]"));
            const auto kind = parsed.items.back().kind;
            if (kind == Kind::null || kind == Kind::error) {
                throw std::runtime_error(at + "[" + std::to_string(i) +
                                         "] cannot stand in a list (null or error)");
            }
        }
    } else if (form == "range") {
        parsed.kind = Kind::range;
        pairOf(parsed.range);
    } else if (form == "point") {
        parsed.kind = Kind::point;
        pairOf(parsed.point);
    } else if (form == "attributedString") {
        parsed.kind = Kind::attributedString;
        parsed.text = utf16(ObjectReader::text(content, at));
    } else if (form == "utf16") {
        // Code units as they are, lone surrogates included, which JSON text cannot carry.
        parsed.kind = Kind::text;
        if (!content.is_array()) {
            throw std::runtime_error(at + " is not an array");
        }
        for (const auto& unit : content) {
            parsed.text += static_cast<char16_t>(ObjectReader::integerValue<uint16_t>(unit, at));
        }
    } else if (form == "error") {
        parsed.kind = Kind::error;
        parsed.error = ObjectReader::integerValue<int32_t>(content, at);
    } else {
        throw std::runtime_error("unknown value form " + at);
    }
    return parsed;
}

AttributeValue parseValue(const nlohmann::json& value, const std::string& path) {
    using Kind = AttributeValue::Kind;
    AttributeValue parsed;
    if (value.is_string()) {
        parsed.kind = Kind::text;
        parsed.text = utf16(value.get<std::string>());
    } else if (value.is_boolean()) {
        parsed.kind = Kind::boolean;
        parsed.boolean = value.get<bool>();
    } else if (value.is_number()) {
        parsed.kind = Kind::number;
        parsed.number = value.get<double>();
    } else if (value.is_null()) {
        parsed.kind = Kind::null;
    } else if (value.is_object()) {
        parsed = parseForm(value, path);
    } else {
        throw std::runtime_error(path + " is not a value");
    }
    return parsed;
}

ElementScenario parseElement(const nlohmann::json& value, const std::string& path) {
    ObjectReader reader(value, path);
    ElementScenario element;
    if (const auto* attributes = reader.find("attributes")) {
        ObjectReader::forEachMember(
            *attributes, reader.pathOf("attributes"),
            [&](const std::string& name, const nlohmann::json& attribute, const std::string& at) {
                element.attributes[name] = parseValue(attribute, at);
            });
    }
    if (const auto* settable = reader.find("settable")) {
        ObjectReader::forEachMember(
            *settable, reader.pathOf("settable"),
            [&](const std::string& name, const nlohmann::json& answer, const std::string& at) {
                Settable parsed;
                if (answer.is_boolean()) {
                    parsed.flag = answer.get<bool>();
                } else if (!answer.is_object()) {
                    throw std::runtime_error(at + " is not true, false or {\"error\": CODE}");
                } else {
                    ObjectReader error(answer, at);
                    const auto* code = error.find("error");
                    error.expect(code != nullptr, "error",
                                 "given (true, false or {\"error\": CODE})");
                    parsed.error =
                        ObjectReader::integerValue<int32_t>(*code, error.pathOf("error"));
                    error.finish();
                }
                element.settable[name] = parsed;
            });
    }
    if (const auto* pid = reader.find("pid")) {
        element.pid = ObjectReader::integerValue<pid_t>(*pid, reader.pathOf("pid"));
    }
    element.gone = reader.boolean("gone", false);
    reader.finish();
    return element;
}

// Every {"element": ID} must name an element the scenario has, so a misspelt id fails loudly.
void checkReferences(const Scenario& scenario, const AttributeValue& value,
                     const std::string& path) {
    if (value.kind == AttributeValue::Kind::element &&
        findElement(scenario, value.element) == nullptr) {
        throw std::runtime_error(path + " names no element: " + value.element);
    }
    for (const auto& item : value.items) {
        checkReferences(scenario, item, path);
    }
}

void checkReferences(const Scenario& scenario) {
    const auto checkElement = [&](const ElementScenario& element, const std::string& path) {
        for (const auto& [name, value] : element.attributes) {
            checkReferences(scenario, value, path + ".attributes." + name);
        }
    };
    checkElement(scenario.systemWide, "systemWide");
    for (size_t index = 0; index < scenario.focusChanges.size(); ++index) {
        if (const auto& systemWide = scenario.focusChanges[index].systemWide) {
            checkElement(*systemWide, "focusChanges[" + std::to_string(index) + "].systemWide");
        }
    }
    for (const auto& [pid, element] : scenario.applications) {
        checkElement(element, "applications." + std::to_string(pid));
    }
    for (const auto& [id, element] : scenario.elements) {
        checkElement(element, "elements." + id);
    }
}

// A key map of the scenario as a layout: one table that every modifier state reads. A dead key
// is an action that leaves its state; a failing key goes to the side, for UCKeyTranslate.
InputSourceScenario flatLayout(const nlohmann::json& keys, const std::string& path) {
    LayoutModel model;
    InputSourceScenario source;
    auto& type = model.keyboardTypes.emplace_back();
    auto& table = type.tables.emplace_back();
    ObjectReader::forEachMember(
        keys, path,
        [&](const std::string& code, const nlohmann::json& typed, const std::string& at) {
            const auto keyCode = numberNamed<uint16_t>(code, at, "a key code");
            // The table holds the codes of Apple's keyboards, 0 to 127: a key beyond would never
            // be translated, and a test naming one could pass without meaning anything.
            if (keyCode >= LayoutModel::keyCodes) {
                throw std::runtime_error(at + ": not a key code 0-127");
            }
            LayoutModel::Key& key = table[keyCode];
            if (typed.is_string()) {
                key.output = utf16(typed.get<std::string>());
                return;
            }
            ObjectReader other(typed, at);
            const auto* status = other.find("error");
            const auto* deadKey = other.find("deadKeyState");
            other.expect((status != nullptr) != (deadKey != nullptr), "error",
                         "given (a text, {\"error\": STATUS[, \"text\": TEXT]} or "
                         "{\"deadKeyState\": N})");
            if (status != nullptr) {
                FailingKey failing{
                    ObjectReader::integerValue<int32_t>(*status, other.pathOf("error")), {}};
                if (const auto* text = other.find("text")) {
                    failing.text = utf16(ObjectReader::text(*text, other.pathOf("text")));
                }
                source.failingKeys[keyCode] = failing;
            } else {
                key.action = model.actions.size();
                const auto state =
                    ObjectReader::integerValue<uint16_t>(*deadKey, other.pathOf("deadKeyState"));
                // State 0 is no dead key at all.
                other.expect(state != 0, "deadKeyState", "a dead-key state 1-65535");
                model.actions.push_back({std::nullopt, state, {}});
            }
            other.finish();
        });
    source.layoutData = compileUchr(model);
    return source;
}

// An input source: null for none, {"layout": null} (no layout data), {"layout": {...}} or
// {"keylayout": PATH}.
std::optional<InputSourceScenario> parseInputSource(const nlohmann::json& value,
                                                    const std::string& path,
                                                    const std::string& folder) {
    if (value.is_null()) {
        return std::nullopt;
    }
    ObjectReader source(value, path);
    const auto* layout = source.find("layout");
    const auto* keylayout = source.find("keylayout");
    source.expect((layout != nullptr) != (keylayout != nullptr), "layout",
                  "given (null, key code to text, or a \"keylayout\" file instead)");
    source.finish();
    if (keylayout != nullptr) {
        std::string file = ObjectReader::text(*keylayout, source.pathOf("keylayout"));
        if (!file.empty() && file[0] != '/') {
            file = folder + "/" + file;
        }
        try {
            return InputSourceScenario{compileUchr(readKeylayout(file)), {}};
        } catch (const std::runtime_error& error) {
            throw std::runtime_error(source.pathOf("keylayout") + ": " + error.what());
        }
    }
    if (layout->is_null()) {
        return InputSourceScenario{};
    }
    return flatLayout(*layout, source.pathOf("layout"));
}

}  // namespace

std::string readFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    }
    std::string text;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(error));
    }
    return text;
}

Scenario parseScenario(const std::string& text, const std::string& folder) {
    try {
        const auto document = nlohmann::json::parse(text);
        ObjectReader top(document, "");
        Scenario scenario;
        scenario.clock = top.number("clock", scenario.clock);
        scenario.trusted = top.boolean("trusted", scenario.trusted);
        if (const auto* systemWide = top.find("systemWide")) {
            scenario.systemWide = parseElement(*systemWide, "systemWide");
        }
        if (const auto* applications = top.find("applications")) {
            ObjectReader::forEachMember(
                *applications, "applications",
                [&](const std::string& key, const nlohmann::json& element, const std::string& at) {
                    scenario.applications[numberNamed<pid_t>(key, at, "a process id")] =
                        parseElement(element, at);
                });
        }
        if (const auto* elements = top.find("elements")) {
            // The ids come in order, so each goes in at the end of the map.
            ObjectReader::forEachMember(
                *elements, "elements",
                [&](const std::string& id, const nlohmann::json& element, const std::string& at) {
                    scenario.elements.emplace_hint(scenario.elements.end(), id,
                                                   parseElement(element, at));
                });
        }
        if (const auto* front = top.find("frontmostApplication")) {
            scenario.frontmostApplication = parseFrontmost(*front, "frontmostApplication");
        }
        top.array("focusChanges", [&](const nlohmann::json& value, const std::string& path) {
            ObjectReader reader(value, path);
            FocusChange change;
            change.after = reader.number("after", -1);
            const double before =
                scenario.focusChanges.empty() ? 0 : scenario.focusChanges.back().after;
            reader.expect(change.after >= before, "after",
                          "given, in seconds, no earlier than the change before");
            if (const auto* systemWide = reader.find("systemWide")) {
                change.systemWide = parseElement(*systemWide, reader.pathOf("systemWide"));
            }
            if (const auto* front = reader.find("frontmostApplication")) {
                change.frontmostApplication =
                    parseFrontmost(*front, reader.pathOf("frontmostApplication"));
            }
            reader.finish();
            scenario.focusChanges.push_back(std::move(change));
        });
        if (const auto* running = top.find("runningApplications")) {
            ObjectReader::forEachMember(
                *running, "runningApplications",
                [&](const std::string& key, const nlohmann::json& value, const std::string& at) {
                    const auto pid = numberNamed<pid_t>(key, at, "a process id");
                    ObjectReader application(value, at);
                    scenario.runningApplications[pid] = bundleIdentifierOf(application);
                    application.finish();
                });
        }
        if (const auto* source = top.find("inputSource")) {
            scenario.inputSource = parseInputSource(*source, "inputSource", folder);
        }
        // The layout an input method types through, and the last ASCII-capable one: the
        // current source's unless the scenario says otherwise.
        scenario.keyboardLayoutInputSource = scenario.inputSource;
        scenario.asciiCapableInputSource = scenario.inputSource;
        if (const auto* source = top.find("keyboardLayoutInputSource")) {
            scenario.keyboardLayoutInputSource =
                parseInputSource(*source, "keyboardLayoutInputSource", folder);
        }
        if (const auto* source = top.find("asciiCapableInputSource")) {
            scenario.asciiCapableInputSource =
                parseInputSource(*source, "asciiCapableInputSource", folder);
        }
        scenario.keyboardType = top.integer<uint8_t>("keyboardType", scenario.keyboardType);
        scenario.requestSeconds = top.number("requestSeconds", scenario.requestSeconds);
        top.expect(scenario.requestSeconds >= 0, "requestSeconds",
                   "zero or more (time only goes forward)");
        if (const auto* version = top.find("osVersion")) {
            scenario.osVersion = ObjectReader::text(*version, "osVersion");
        }
        if (const auto* architecture = top.find("architecture")) {
            scenario.architecture = ObjectReader::text(*architecture, "architecture");
        }
        scenario.translated = top.boolean("translated", scenario.translated);
        if (const auto* keyboardValue = top.find("keyboard")) {
            ObjectReader keyboard(*keyboardValue, "keyboard");
            if (keyboard.find("grantedTaps") != nullptr) {
                scenario.grantedTaps.clear();
                keyboard.array(
                    "grantedTaps", [&](const nlohmann::json& tap, const std::string& path) {
                        std::string name = ObjectReader::text(tap, path);
                        static constexpr std::string_view tapNames[] = {
                            "hid-default",
                            "hid-listen-only",
                            "session-default",
                            "session-listen-only",
                            "annotated-session-default",
                            "annotated-session-listen-only"};
                        if (std::find(std::begin(tapNames), std::end(tapNames), name) ==
                            std::end(tapNames)) {
                            throw std::runtime_error(path + ": no tap is called " + name);
                        }
                        scenario.grantedTaps.push_back(std::move(name));
                    });
            }
            scenario.listenAccess = keyboard.boolean("listenAccess", scenario.listenAccess);
            scenario.postAccess = keyboard.boolean("postAccess", scenario.postAccess);
            scenario.runLoopSource = keyboard.boolean("runLoopSource", scenario.runLoopSource);
            scenario.eventSource = keyboard.boolean("eventSource", scenario.eventSource);
            scenario.heldFlags = keyboard.integer<uint64_t>("heldFlags", scenario.heldFlags);
            scenario.keepRunning = keyboard.boolean("keepRunning", scenario.keepRunning);
            scenario.keyState = keyboard.boolean("keyState", scenario.keyState);
            scenario.secureEventInput =
                keyboard.boolean("secureEventInput", scenario.secureEventInput);
            scenario.postedToOwnTaps =
                keyboard.boolean("postedToOwnTaps", scenario.postedToOwnTaps);
            scenario.writeCallBacks = keyboard.boolean("writeCallBacks", scenario.writeCallBacks);
            for (auto [key, into] : {std::pair{"postedSourcePid", &scenario.postedSourcePid},
                                     std::pair{"postedUserData", &scenario.postedUserData}}) {
                if (const auto* value = keyboard.find(key)) {
                    *into = ObjectReader::integerValue<int64_t>(*value, keyboard.pathOf(key));
                }
            }
            if (const auto* access = keyboard.find("hidListenAccess")) {
                static constexpr std::pair<std::string_view, IOHIDAccessType> accessNames[] = {
                    {"granted", kIOHIDAccessTypeGranted},
                    {"denied", kIOHIDAccessTypeDenied},
                    {"unknown", kIOHIDAccessTypeUnknown}};
                const auto path = keyboard.pathOf("hidListenAccess");
                const auto name = ObjectReader::text(*access, path);
                const auto* found =
                    std::find_if(std::begin(accessNames), std::end(accessNames),
                                 [&](const auto& known) { return known.first == name; });
                if (found == std::end(accessNames)) {
                    throw std::runtime_error(path + ": not granted, denied or unknown");
                }
                scenario.hidListenAccess = found->second;
            }
            keyboard.array(
                "failKeyboardEvents", [&](const nlohmann::json& n, const std::string& path) {
                    const auto call = ObjectReader::integerValue<int64_t>(n, path);
                    if (call < 1) {
                        throw std::runtime_error(path + " is not a call number (1 or more)");
                    }
                    scenario.failKeyboardEvents.push_back(call);
                });
            keyboard.array("events", [&](const nlohmann::json& event, const std::string& path) {
                scenario.events.push_back(parseEvent(event, path));
            });
            keyboard.finish();
        }
        top.finish();
        checkReferences(scenario);
        return scenario;
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(error.what());
    }
}

InputSourceScenario usInputSource() {
    static const std::pair<uint16_t, const char16_t*> keys[] = {
        {0, u"a"},  {1, u"s"},  {2, u"d"},  {3, u"f"},  {4, u"h"},  {5, u"g"},
        {6, u"z"},  {7, u"x"},  {8, u"c"},  {9, u"v"},  {11, u"b"}, {12, u"q"},
        {13, u"w"}, {14, u"e"}, {15, u"r"}, {16, u"y"}, {17, u"t"}, {18, u"1"},
        {19, u"2"}, {20, u"3"}, {21, u"4"}, {22, u"6"}, {23, u"5"}, {25, u"9"},
        {26, u"7"}, {28, u"8"}, {29, u"0"}, {31, u"o"}, {32, u"u"}, {34, u"i"},
        {35, u"p"}, {37, u"l"}, {38, u"j"}, {40, u"k"}, {45, u"n"}, {46, u"m"},
    };
    static const std::vector<uint8_t> bytes = [] {
        LayoutModel model;
        auto& table = model.keyboardTypes.emplace_back().tables.emplace_back();
        for (const auto& [code, text] : keys) {
            table[code].output = text;
        }
        return compileUchr(model);
    }();
    return {bytes, {}};
}

}  // namespace standin
