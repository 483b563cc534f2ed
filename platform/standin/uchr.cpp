// The 'uchr' resource of UnicodeUtilities.h: its tables are written here as the header lays them
// out (format codes, offsets from the start of the resource, 4-byte padding), and read back the
// way the header comments say UCKeyTranslate reads them.
#include "platform/standin/uchr.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

namespace standin {
namespace {

enum : uint16_t {
    headerFormat = 0x1002,
    dataVersion = 0x0100,
    featureInfoFormat = 0x2001,
    modifiersFormat = 0x3001,
    keyTablesFormat = 0x4001,
    stateRecordsFormat = 0x5001,
    terminatorsFormat = 0x6001,
    sequencesFormat = 0x7001,
    terminalEntryFormat = 1,
    rangeEntryFormat = 2,
};

enum : uint16_t {
    noOutput = 0xFFFF,
    stateIndexBits = 0x4000,
    sequenceIndexBits = 0x8000,
    indexTestBits = 0xC000,
    indexBits = 0x3FFF,
};

constexpr size_t typeHeaderSize = 28;
constexpr size_t typeListAt = 12;

class Writer {
  public:
    size_t size() const { return bytes.size(); }
    void u8(uint8_t value) { bytes.push_back(value); }
    void u16(uint16_t value) { append(&value, sizeof value); }
    void u32(uint32_t value) { append(&value, sizeof value); }
    void pad() {
        while (bytes.size() % 4 != 0) {
            bytes.push_back(0);
        }
    }
    void u16At(size_t at, uint16_t value) { std::memcpy(&bytes[at], &value, sizeof value); }
    void u32At(size_t at, size_t value) {
        const auto narrow = static_cast<uint32_t>(value);
        std::memcpy(&bytes[at], &narrow, sizeof narrow);
    }
    std::vector<uint8_t> take() { return std::move(bytes); }

  private:
    void append(const void* value, size_t size) {
        const auto* from = static_cast<const uint8_t*>(value);
        bytes.insert(bytes.end(), from, from + size);
    }
    std::vector<uint8_t> bytes;
};

// Texts that do not fit one code unit of their own go to the sequence table.
class Sequences {
  public:
    // A key cell: a lone unit stands for itself unless its top bits would read as an index.
    uint16_t keyOutput(const std::optional<std::u16string>& text) {
        return encode(text, [](char16_t unit) {
            const auto bits = static_cast<uint16_t>(unit & indexTestBits);
            return bits == 0 || bits == indexTestBits;
        });
    }
    // A state record's or terminator's text: only the sequence bits are an index there.
    uint16_t charSequence(const std::optional<std::u16string>& text) {
        return encode(text,
                      [](char16_t unit) { return (unit & indexTestBits) != sequenceIndexBits; });
    }
    const std::vector<std::u16string>& all() const { return texts; }

  private:
    template <typename StandsAlone>
    uint16_t encode(const std::optional<std::u16string>& text, StandsAlone standsAlone) {
        if (!text || text->empty()) {
            return noOutput;
        }
        if (text->size() == 1 && (*text)[0] < 0xFFFE && standsAlone((*text)[0])) {
            return (*text)[0];
        }
        auto [at, added] = indexOf.try_emplace(*text, texts.size());
        if (added) {
            texts.push_back(*text);
        }
        if (at->second > indexBits) {
            throw std::runtime_error("more output texts than a layout can hold");
        }
        return static_cast<uint16_t>(sequenceIndexBits | at->second);
    }
    std::map<std::u16string, size_t> indexOf;
    std::vector<std::u16string> texts;
};

size_t longestOutput(const LayoutModel& layout) {
    size_t longest = 1;
    const auto consider = [&](const std::optional<std::u16string>& text) {
        if (text) {
            longest = std::max(longest, text->size());
        }
    };
    for (const auto& type : layout.keyboardTypes) {
        for (const auto& table : type.tables) {
            for (const auto& key : table) {
                consider(key.output);
            }
        }
    }
    for (const auto& action : layout.actions) {
        consider(action.output);
        for (const auto& when : action.whens) {
            consider(when.output);
        }
    }
    for (const auto& terminator : layout.terminators) {
        consider(terminator);
    }
    return longest;
}

// Reads the bytes as the platform does: native order, offsets from the start.
class Reader {
  public:
    explicit Reader(const uint8_t* start) : bytes(start) {}
    uint8_t u8(size_t at) const { return bytes[at]; }
    uint16_t u16(size_t at) const {
        uint16_t value;
        std::memcpy(&value, bytes + at, sizeof value);
        return value;
    }
    uint32_t u32(size_t at) const {
        uint32_t value;
        std::memcpy(&value, bytes + at, sizeof value);
        return value;
    }

  private:
    const uint8_t* bytes;
};

}  // namespace

std::vector<uint8_t> compileUchr(const LayoutModel& layout) {
    if (layout.keyboardTypes.empty()) {
        throw std::runtime_error("a layout without keyboard types");
    }
    Sequences sequences;
    Writer out;
    out.u16(headerFormat);
    out.u16(dataVersion);
    out.u32(0);  // feature info, below
    out.u32(static_cast<uint32_t>(layout.keyboardTypes.size()));
    for (const auto& type : layout.keyboardTypes) {
        out.u32(type.first);
        out.u32(type.last);
        for (int offset = 0; offset < 5; ++offset) {
            out.u32(0);
        }
    }
    out.u32At(4, out.size());
    out.u16(featureInfoFormat);
    out.u16(0);
    out.u32(static_cast<uint32_t>(longestOutput(layout)));

    for (size_t t = 0; t < layout.keyboardTypes.size(); ++t) {
        const auto& type = layout.keyboardTypes[t];
        const size_t header = typeListAt + t * typeHeaderSize;
        out.u32At(header + 8, out.size());
        out.u16(modifiersFormat);
        out.u16(type.defaultTable);
        out.u32(static_cast<uint32_t>(type.tableOfModifiers.size()));
        for (const uint8_t table : type.tableOfModifiers) {
            out.u8(table);
        }
        out.pad();

        out.u32At(header + 12, out.size());
        out.u16(keyTablesFormat);
        out.u16(LayoutModel::keyCodes);
        out.u32(static_cast<uint32_t>(type.tables.size()));
        const size_t offsets = out.size();
        for (size_t i = 0; i < type.tables.size(); ++i) {
            out.u32(0);
        }
        for (size_t i = 0; i < type.tables.size(); ++i) {
            out.u32At(offsets + 4 * i, out.size());
            for (const auto& key : type.tables[i]) {
                if (key.action) {
                    if (*key.action >= layout.actions.size() || *key.action > indexBits) {
                        throw std::runtime_error("a key names an action the layout lacks");
                    }
                    out.u16(static_cast<uint16_t>(stateIndexBits | *key.action));
                } else {
                    out.u16(sequences.keyOutput(key.output));
                }
            }
        }
        out.pad();
    }

    const auto shared = [&](size_t field, size_t at) {
        for (size_t t = 0; t < layout.keyboardTypes.size(); ++t) {
            out.u32At(typeListAt + t * typeHeaderSize + field, at);
        }
    };
    if (!layout.actions.empty()) {
        shared(16, out.size());
        const size_t index = out.size();
        out.u16(stateRecordsFormat);
        out.u16(static_cast<uint16_t>(layout.actions.size()));
        for (size_t i = 0; i < layout.actions.size(); ++i) {
            out.u32(0);
        }
        for (size_t i = 0; i < layout.actions.size(); ++i) {
            const auto& action = layout.actions[i];
            out.u32At(index + 4 + 4 * i, out.size());
            out.u16(sequences.charSequence(action.output));
            out.u16(action.next);
            out.u16(static_cast<uint16_t>(action.whens.size()));
            // The terminal form cannot name a next state.
            const bool ranges = std::any_of(action.whens.begin(), action.whens.end(),
                                            [](const auto& when) { return when.next != 0; });
            out.u16(ranges ? rangeEntryFormat : terminalEntryFormat);
            for (const auto& when : action.whens) {
                out.u16(when.state);
                if (ranges) {
                    out.u8(0);  // a range of one state
                    out.u8(0);
                    out.u16(sequences.charSequence(when.output));
                    out.u16(when.next);
                } else {
                    out.u16(sequences.charSequence(when.output));
                }
            }
        }
        out.pad();
    }
    if (!layout.terminators.empty()) {
        shared(20, out.size());
        out.u16(terminatorsFormat);
        out.u16(static_cast<uint16_t>(layout.terminators.size()));
        for (const auto& terminator : layout.terminators) {
            out.u16(sequences.charSequence(terminator));
        }
        out.pad();
    }
    if (!sequences.all().empty()) {
        shared(24, out.size());
        const auto& texts = sequences.all();
        out.u16(sequencesFormat);
        out.u16(static_cast<uint16_t>(texts.size()));
        size_t at = 4 + 2 * (texts.size() + 1);
        for (const auto& text : texts) {
            out.u16(static_cast<uint16_t>(at));
            at += 2 * text.size();
        }
        if (at > 0xFFFF) {
            throw std::runtime_error("output texts too long for a layout");
        }
        out.u16(static_cast<uint16_t>(at));
        for (const auto& text : texts) {
            for (const char16_t unit : text) {
                out.u16(unit);
            }
        }
        out.pad();
    }
    return out.take();
}

OSStatus translateUchr(const uint8_t* bytes, UInt16 virtualKeyCode, UInt16 keyAction,
                       UInt32 modifierKeyState, UInt32 keyboardType, OptionBits options,
                       UInt32* deadKeyState, UniCharCount maxStringLength,
                       UniCharCount* actualStringLength, UniChar unicodeString[]) {
    if (actualStringLength != nullptr) {
        *actualStringLength = 0;
    }
    if (bytes == nullptr || deadKeyState == nullptr || actualStringLength == nullptr ||
        unicodeString == nullptr || keyAction > kUCKeyActionDisplay) {
        return paramErr;
    }
    const Reader in(bytes);
    if (in.u16(0) != headerFormat || in.u32(8) == 0) {
        return paramErr;
    }
    // The first header whose range holds the keyboard type, else the first one.
    size_t header = typeListAt;
    for (uint32_t t = 0; t < in.u32(8); ++t) {
        const size_t at = typeListAt + t * typeHeaderSize;
        if (in.u32(at) <= keyboardType && keyboardType <= in.u32(at + 4)) {
            header = at;
            break;
        }
    }
    const size_t modifiers = in.u32(header + 8);
    const size_t keyTables = in.u32(header + 12);
    const size_t records = in.u32(header + 16);
    const size_t terminators = in.u32(header + 20);
    const size_t sequences = in.u32(header + 24);

    // The modifier byte (EventRecord modifiers >> 8) picks the table.
    const uint8_t modifierByte = modifierKeyState & 0xFF;
    size_t table = modifierByte < in.u32(modifiers + 4) ? in.u8(modifiers + 8 + modifierByte)
                                                        : in.u16(modifiers + 2);
    if (table >= in.u32(keyTables + 4)) {
        table = in.u16(modifiers + 2);
    }
    if (virtualKeyCode >= in.u16(keyTables + 2) || table >= in.u32(keyTables + 4)) {
        return paramErr;
    }
    const uint16_t cell = in.u16(in.u32(keyTables + 8 + 4 * table) + 2 * virtualKeyCode);
    if (keyAction == kUCKeyActionUp) {
        *actualStringLength = 0;  // a release types nothing and leaves the state alone
        return noErr;
    }

    const auto text = [&](uint16_t value) -> std::u16string {
        if (value >= 0xFFFE) {
            return {};
        }
        if ((value & indexTestBits) == sequenceIndexBits && sequences != 0 &&
            (value & indexBits) < in.u16(sequences + 2)) {
            const size_t index = value & indexBits;
            const size_t from = in.u16(sequences + 4 + 2 * index);
            const size_t to = in.u16(sequences + 4 + 2 * (index + 1));
            std::u16string sequence;
            for (size_t at = from; at + 2 <= to; at += 2) {
                sequence += static_cast<char16_t>(in.u16(sequences + at));
            }
            return sequence;
        }
        return std::u16string(1, static_cast<char16_t>(value));
    };
    const auto terminator = [&](uint32_t state) -> std::u16string {
        if (terminators == 0 || state == 0 || state > in.u16(terminators + 2)) {
            return {};
        }
        return text(in.u16(terminators + 4 + 2 * (state - 1)));
    };

    const uint16_t state = *deadKeyState & 0xFFFF;
    std::u16string typed;
    uint16_t next = 0;
    if ((cell & indexTestBits) == stateIndexBits && records != 0 &&
        (cell & indexBits) < in.u16(records + 2)) {
        const size_t record = in.u32(records + 4 + 4 * (cell & indexBits));
        bool matched = state == 0;
        if (matched) {
            typed = text(in.u16(record));
            next = in.u16(record + 2);
        }
        const uint16_t entries = in.u16(record + 4);
        const uint16_t format = in.u16(record + 6);
        for (uint16_t e = 0; !matched && e < entries; ++e) {
            if (format == terminalEntryFormat) {
                const size_t entry = record + 8 + 4 * e;
                if (in.u16(entry) == state) {
                    typed = text(in.u16(entry + 2));
                    matched = true;
                }
            } else if (format == rangeEntryFormat) {
                const size_t entry = record + 8 + 8 * e;
                const uint16_t start = in.u16(entry);
                if (start <= state && state <= start + in.u8(entry + 2)) {
                    const auto delta = static_cast<uint16_t>((state - start) * in.u8(entry + 3));
                    uint16_t output = in.u16(entry + 4);
                    next = in.u16(entry + 6);
                    if (output < 0xFFFE) {
                        output = static_cast<uint16_t>(output + delta);
                    }
                    if (next != 0) {
                        next = static_cast<uint16_t>(next + delta);
                    }
                    typed = text(output);
                    matched = true;
                }
            }
        }
        if (!matched) {
            typed = terminator(state) + text(in.u16(record));
            next = in.u16(record + 2);
        }
    } else {
        typed = terminator(state) + text(cell);
    }
    if ((options & kUCKeyTranslateNoDeadKeysMask) != 0 && next != 0) {
        // No new dead-key state: the key types what ends that state instead.
        typed += terminator(next);
        next = 0;
    }
    if (typed.size() > maxStringLength) {
        *actualStringLength = 0;
        return kUCOutputBufferTooSmall;
    }
    std::copy(typed.begin(), typed.end(), unicodeString);
    *actualStringLength = typed.size();
    // The state a dead key left rides in the upper half once another follows.
    *deadKeyState = state != 0 ? (UInt32{state} << 16) | next : next;
    return noErr;
}

}  // namespace standin
