#include "keywatch/key_names.h"

#include <array>
#include <string_view>

namespace {

struct KeyName {
    uint16_t code;
    std::string_view name;
};

constexpr KeyName keyNames[] = {
    {0, "A"},
    {1, "S"},
    {2, "D"},
    {3, "F"},
    {4, "H"},
    {5, "G"},
    {6, "Z"},
    {7, "X"},
    {8, "C"},
    {9, "V"},
    {10, "\\"},
    {11, "B"},
    {12, "Q"},
    {13, "W"},
    {14, "E"},
    {15, "R"},
    {16, "Y"},
    {17, "T"},
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {22, "6"},
    {23, "5"},
    {24, "="},
    {25, "9"},
    {26, "7"},
    {27, "-"},
    {28, "8"},
    {29, "0"},
    {30, "]"},
    {31, "O"},
    {32, "U"},
    {33, "["},
    {34, "I"},
    {35, "P"},
    {36, "Return"},
    {37, "L"},
    {38, "J"},
    {39, "'"},
    {40, "K"},
    {41, ";"},
    {42, "\\"},
    {43, ","},
    {44, "/"},
    {45, "N"},
    {46, "M"},
    {47, "."},
    {48, "Tab"},
    {49, "Space"},
    {50, "`"},
    {51, "Delete"},
    {53, "Esc"},
    {54, "RightCmd"},
    {55, "LeftCmd"},
    {56, "LeftShift"},
    {57, "CapsLock"},
    {58, "LeftOption"},
    {59, "LeftCtrl"},
    {60, "RightShift"},
    {61, "RightOption"},
    {62, "RightCtrl"},
    {63, "Fn"},
    {65, "Num."},
    {67, "Num*"},
    {69, "Num+"},
    {71, "NumClear"},
    {75, "Num/"},
    {76, "NumReturn"},
    {78, "Num-"},
    {81, "Num="},
    {82, "Num0"},
    {83, "Num1"},
    {84, "Num2"},
    {85, "Num3"},
    {86, "Num4"},
    {87, "Num5"},
    {88, "Num6"},
    {89, "Num7"},
    {90, "F20"},
    {91, "Num8"},
    {92, "Num9"},
    {93, "IntlYen"},
    {94, "IntlRo"},
    {96, "F5"},
    {97, "F6"},
    {98, "F7"},
    {99, "F3"},
    {100, "F8"},
    {101, "F9"},
    {103, "F11"},
    {105, "F13"},
    {106, "F16"},
    {107, "F14"},
    {109, "F10"},
    {111, "F12"},
    {113, "F15"},
    {114, "Insert"},
    {115, "Home"},
    {116, "PageUp"},
    {117, "ForwardDelete"},
    {118, "F4"},
    {119, "End"},
    {120, "F2"},
    {121, "PageDown"},
    {122, "F1"},
    {123, "LeftArrow"},
    {124, "RightArrow"},
    {125, "DownArrow"},
    {126, "UpArrow"},
    {179, "Fn"},
};

static_assert(std::size(keyNames) == 111);

// Every named code is below 180: a direct index beats a search on the per-event path.
constexpr size_t tableSize = 180;

constexpr std::array<std::string_view, tableSize> byCode = [] {
    std::array<std::string_view, tableSize> table{};
    for (const auto& entry : keyNames) {
        table[entry.code] = entry.name;
    }
    return table;
}();

}  // namespace

std::string KeyNameMapper::name(uint16_t keyCode) {
    if (keyCode < tableSize && !byCode[keyCode].empty()) {
        return std::string(byCode[keyCode]);
    }
    return "Key" + std::to_string(keyCode);
}

std::vector<KeyRecord> KeyNameMapper::payload(const std::vector<uint16_t>& keyCodes) {
    std::vector<KeyRecord> records;
    records.reserve(keyCodes.size());
    for (const uint16_t code : keyCodes) {
        std::string keyName = name(code);
        records.push_back(KeyRecord{code, keyName, std::move(keyName)});
    }
    return records;
}
