// Names of the platform's virtual key codes, as printed on the "keys:" line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KeyRecord {
    int64_t keyCode;
    std::string keyName;
    std::string enKeyName;
};

namespace KeyNameMapper {

// The table's name for a code, or "Key" and the code in decimal.
std::string name(uint16_t keyCode);

// One record per code, same order, duplicates kept.
std::vector<KeyRecord> payload(const std::vector<uint16_t>& keyCodes);

}  // namespace KeyNameMapper
