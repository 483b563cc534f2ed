#include "keywatch/key_names.h"

#include <gtest/gtest.h>

#include <set>

#include "keywatch/keyboard_monitor.h"

namespace {

TEST(KeyNameMapper, PayloadKeepsOrderAndDuplicates) {
    EXPECT_TRUE(KeyNameMapper::payload({}).empty());
    const auto records = KeyNameMapper::payload({54, 52, 54, 65535, 63, 179});
    ASSERT_EQ(records.size(), 6u);
    const std::vector<std::string> names = {"RightCmd", "Key52", "RightCmd",
                                            "Key65535", "Fn",    "Fn"};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].keyName, names[i]);
        EXPECT_EQ(records[i].enKeyName, names[i]);
    }
    EXPECT_EQ(records[3].keyCode, 65535);
}

TEST(KeyNameMapper, TableHasExactlyTheNamedCodes) {
    const std::set<uint16_t> unnamedBelow127 = {52, 64, 66, 68,  70,  72,  73,  74, 77,
                                                79, 80, 95, 102, 104, 108, 110, 112};
    int named = 0;
    for (uint32_t code = 0; code <= 0xFFFF; ++code) {
        const auto name = KeyNameMapper::name(static_cast<uint16_t>(code));
        const bool isNamed = name != "Key" + std::to_string(code);
        const bool expectNamed = (code < 127 && unnamedBelow127.count(code) == 0) || code == 179;
        EXPECT_EQ(isNamed, expectNamed) << code;
        named += isNamed;
    }
    EXPECT_EQ(named, 111);
    EXPECT_EQ(KeyNameMapper::name(10), "\\");
    EXPECT_EQ(KeyNameMapper::name(42), "\\");
    EXPECT_EQ(KeyNameMapper::name(50), "`");
    EXPECT_EQ(KeyNameMapper::name(117), "ForwardDelete");
    EXPECT_EQ(KeyNameMapper::name(0), "A");
}

}  // namespace
