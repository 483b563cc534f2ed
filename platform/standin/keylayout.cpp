// .keylayout files (Apple's Technical Note TN2056) read into a layout's parts. Real files
// declare XML 1.1 or 1.0 and hold references to control characters (&#x0010;) that XML 1.0
// forbids, so character references are decoded here, not by the XML parser.
#include <unicode/utf16.h>
#include <pugixml.hpp>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

#include "platform/standin/uchr.h"
#include "platform/standin/world.h"

namespace standin {
namespace {

void appendCodePoint(std::u16string& text, unsigned long point) {
    if (point > 0x10FFFF) {
        point = 0xFFFD;
    }
    UChar units[U16_MAX_LENGTH];
    int32_t length = 0;
    U16_APPEND_UNSAFE(units, length, static_cast<UChar32>(point));
    text.append(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length));
}

// An attribute's UTF-8 text with its references (&lt; &#16; &#x0010;) decoded, into UTF-16.
std::u16string decoded(std::string_view raw) {
    static const std::map<std::string_view, char16_t> named = {
        {"lt", u'<'}, {"gt", u'>'}, {"amp", u'&'}, {"quot", u'"'}, {"apos", u'\''}};
    std::u16string text;
    for (size_t at = 0; at < raw.size();) {
        if (raw[at] != '&') {
            // UTF-8, as the parser hands every document over, up to the next reference.
            const size_t next = std::min(raw.find('&', at), raw.size());
            text += utf16(raw.substr(at, next - at));
            at = next;
            continue;
        }
        const size_t end = raw.find(';', at);
        if (end == std::string_view::npos) {
            throw std::runtime_error("unterminated reference in \"" + std::string(raw) + "\"");
        }
        const std::string_view name = raw.substr(at + 1, end - at - 1);
        if (const auto found = named.find(name); found != named.end()) {
            text += found->second;
        } else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            size_t used = 0;
            const unsigned long point =
                digits.empty() ? 0 : std::stoul(digits, &used, hex ? 16 : 10);
            if (digits.empty() || used != digits.size()) {
                throw std::runtime_error("bad reference &" + std::string(name) + ";");
            }
            appendCodePoint(text, point);
        } else {
            throw std::runtime_error("unknown reference &" + std::string(name) + ";");
        }
        at = end + 1;
    }
    return text;
}

long number(const pugi::xml_node& node, const char* name) {
    const pugi::xml_attribute attribute = node.attribute(name);
    const std::string text = attribute.value();
    size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (!attribute || text.empty() || used != text.size()) {
        throw std::runtime_error(std::string("<") + node.name() + "> has no number " + name +
                                 " (\"" + text + "\")");
    }
    return value;
}

// A table's number, which the layout holds in one byte.
long tableNumber(const pugi::xml_node& node, const char* name) {
    const long table = number(node, name);
    if (table < 0 || table > 255) {
        throw std::runtime_error(std::string("<") + node.name() + "> " + name + " " +
                                 std::to_string(table) + " is not a table number 0-255");
    }
    return table;
}

// The modifier bytes one <modifier keys="..."/> matches: a named key is down, "key?" either
// way, any other up; "anyShift" is the left, the right or both.
struct ModifierExpression {
    uint8_t down = 0;
    uint8_t either = 0;
    std::vector<uint8_t> oneOf;  // pairs of which at least one is down

    explicit ModifierExpression(const std::string& keys) {
        static const std::map<std::string, uint8_t> single = {
            {"command", 0x01}, {"shift", 0x02},      {"caps", 0x04},        {"option", 0x08},
            {"control", 0x10}, {"rightShift", 0x20}, {"rightOption", 0x40}, {"rightControl", 0x80}};
        static const std::map<std::string, uint8_t> pairs = {
            {"anyShift", 0x22}, {"anyOption", 0x48}, {"anyControl", 0x90}};
        std::istringstream words(keys);
        for (std::string word; words >> word;) {
            const bool optional = word.back() == '?';
            if (optional) {
                word.pop_back();
            }
            if (const auto bit = single.find(word); bit != single.end()) {
                (optional ? either : down) |= bit->second;
            } else if (const auto pair = pairs.find(word); pair != pairs.end()) {
                either |= pair->second;
                if (!optional) {
                    oneOf.push_back(pair->second);
                }
            } else {
                throw std::runtime_error("unknown modifier \"" + word + "\"");
            }
        }
    }

    bool matches(uint8_t byte) const {
        if ((byte & down) != down || (byte & ~(down | either)) != 0) {
            return false;
        }
        return std::all_of(oneOf.begin(), oneOf.end(),
                           [byte](uint8_t pair) { return (byte & pair) != 0; });
    }
};

class KeylayoutReader {
  public:
    explicit KeylayoutReader(const pugi::xml_node& root) : keyboard(root) {
        for (const auto& node : keyboard.children("modifierMap")) {
            modifierMaps[node.attribute("id").value()] = node;
        }
        for (const auto& node : keyboard.children("keyMapSet")) {
            keyMapSets[node.attribute("id").value()] = node;
        }
        readActions();
        readTerminators();
    }

    LayoutModel model() {
        LayoutModel layout;
        for (const auto& node : keyboard.child("layouts").children("layout")) {
            layout.keyboardTypes.push_back(keyboardType(node));
        }
        if (layout.keyboardTypes.empty()) {
            throw std::runtime_error("no <layout> in <layouts>");
        }
        layout.actions = actions;
        layout.terminators = terminators;
        return layout;
    }

  private:
    // Dead-key states are named; "none" is state 0, the others are numbered as they come.
    uint16_t state(const std::string& name) {
        if (name.empty() || name == "none") {
            return 0;
        }
        const auto [found, added] = stateNumbers.try_emplace(name, stateNumbers.size() + 1);
        if (found->second > 0xFFFF) {
            throw std::runtime_error("too many dead-key states");
        }
        return static_cast<uint16_t>(found->second);
    }

    static std::optional<std::u16string> output(const pugi::xml_node& node) {
        const pugi::xml_attribute attribute = node.attribute("output");
        if (!attribute) {
            return std::nullopt;
        }
        std::u16string text = decoded(attribute.value());
        return text.empty() ? std::nullopt : std::optional(std::move(text));
    }

    void readActions() {
        for (const auto& node : keyboard.child("actions").children("action")) {
            actionIndex[node.attribute("id").value()] = actions.size();
            LayoutModel::Action action;
            for (const auto& when : node.children("when")) {
                if (when.attribute("through") || when.attribute("multiplier")) {
                    throw std::runtime_error(
                        "ranges of states (through, multiplier) are not "
                        "supported");
                }
                const uint16_t from = state(when.attribute("state").value());
                const uint16_t next = state(when.attribute("next").value());
                if (from == 0) {
                    action.output = output(when);
                    action.next = next;
                } else {
                    action.whens.push_back({from, output(when), next});
                }
            }
            actions.push_back(std::move(action));
        }
    }

    void readTerminators() {
        for (const auto& when : keyboard.child("terminators").children("when")) {
            const uint16_t ended = state(when.attribute("state").value());
            if (ended != 0) {
                terminators.resize(std::max<size_t>(terminators.size(), ended));
                terminators[ended - 1] = output(when);
            }
        }
        terminators.resize(stateNumbers.size());
    }

    LayoutModel::KeyboardType keyboardType(const pugi::xml_node& node) {
        LayoutModel::KeyboardType type;
        type.first = static_cast<uint32_t>(number(node, "first"));
        type.last = static_cast<uint32_t>(number(node, "last"));
        const std::string mapId = node.attribute("modifiers").value();
        const auto map = modifierMaps.find(mapId);
        if (map == modifierMaps.end()) {
            throw std::runtime_error("no <modifierMap id=\"" + mapId + "\">");
        }
        type.defaultTable = static_cast<uint8_t>(tableNumber(map->second, "defaultIndex"));
        type.tableOfModifiers.fill(type.defaultTable);
        // Where several keyMapSelects match a combination, the last one in the file wins.
        for (const auto& select : map->second.children("keyMapSelect")) {
            const auto table = static_cast<uint8_t>(tableNumber(select, "mapIndex"));
            for (const auto& modifier : select.children("modifier")) {
                const ModifierExpression expression(modifier.attribute("keys").value());
                for (int byte = 0; byte < 256; ++byte) {
                    if (expression.matches(static_cast<uint8_t>(byte))) {
                        type.tableOfModifiers[byte] = table;
                    }
                }
            }
        }
        const std::string setId = node.attribute("mapSet").value();
        const pugi::xml_node set = keyMapSet(setId);
        long tables = 0;
        for (const auto& keyMap : set.children("keyMap")) {
            tables = std::max(tables, tableNumber(keyMap, "index") + 1);
        }
        for (long index = 0; index < tables; ++index) {
            type.tables.push_back(table(setId, index, 0));
        }
        return type;
    }

    pugi::xml_node keyMapSet(const std::string& id) const {
        const auto found = keyMapSets.find(id);
        if (found == keyMapSets.end()) {
            throw std::runtime_error("no <keyMapSet id=\"" + id + "\">");
        }
        return found->second;
    }

    // A keyMap's keys over those of the keyMap it names as its base.
    LayoutModel::Table table(const std::string& setId, long index, int depth) {
        if (depth > 16) {
            throw std::runtime_error("keyMaps name each other as bases in a circle");
        }
        LayoutModel::Table keys{};
        for (const auto& keyMap : keyMapSet(setId).children("keyMap")) {
            if (number(keyMap, "index") != index) {
                continue;
            }
            if (keyMap.attribute("baseMapSet")) {
                keys = table(keyMap.attribute("baseMapSet").value(), number(keyMap, "baseIndex"),
                             depth + 1);
            }
            for (const auto& key : keyMap.children("key")) {
                const long code = number(key, "code");
                if (code < 0 || code >= static_cast<long>(LayoutModel::keyCodes)) {
                    continue;  // editors leave placeholders (code 512) past the table
                }
                LayoutModel::Key& cell = keys[static_cast<size_t>(code)];
                cell = {};
                if (const pugi::xml_attribute action = key.attribute("action")) {
                    const auto found = actionIndex.find(action.value());
                    if (found == actionIndex.end()) {
                        throw std::runtime_error("no <action id=\"" + std::string(action.value()) +
                                                 "\">");
                    }
                    cell.action = found->second;
                } else {
                    cell.output = output(key);
                }
            }
        }
        return keys;
    }

    pugi::xml_node keyboard;
    std::map<std::string, pugi::xml_node> modifierMaps;
    std::map<std::string, pugi::xml_node> keyMapSets;
    std::map<std::string, size_t> stateNumbers;
    std::map<std::string, size_t> actionIndex;
    std::vector<LayoutModel::Action> actions;
    std::vector<std::optional<std::u16string>> terminators;
};

}  // namespace

LayoutModel readKeylayout(const std::string& path) {
    const std::string text = readFile(path);
    pugi::xml_document document;
    // References are left as they stand and decoded above: the parser's own decoding loses NUL.
    const pugi::xml_parse_result parsed =
        document.load_buffer(text.data(), text.size(), pugi::parse_default & ~pugi::parse_escapes);
    if (!parsed) {
        throw std::runtime_error(path + ": " + parsed.description() + " at byte " +
                                 std::to_string(parsed.offset));
    }
    const pugi::xml_node keyboard = document.child("keyboard");
    if (!keyboard) {
        throw std::runtime_error(path + ": no <keyboard>");
    }
    try {
        return KeylayoutReader(keyboard).model();
    } catch (const std::exception& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
}

}  // namespace standin
