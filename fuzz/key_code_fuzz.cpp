// The keyboard layout is whatever the user installed: keys that type nothing, several units,
// capitals, look-alikes from other scripts, or fail to translate. Over any layout the lookup
// must answer the lowest key code below 128 whose text lower-cases to the letter, or the
// fallback, and release what it obtained.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "keypost/key_code_lookup.h"
#include "platform/standin/standin.h"

using fuzz::require;

namespace {

constexpr size_t maxKeys = 40;
constexpr size_t maxPieces = 5;
constexpr uint16_t keyCodesSearched = 128;
constexpr size_t typedUnitsAtMost = 4;

// What a key types is built from these pieces. Each lower-cases to its `lower` with no regard
// to its neighbours (no final sigma among them), so a text's lower case is that of its pieces.
struct Piece {
    std::u16string_view text;
    std::u16string_view lower;
};
constexpr Piece pieces[] = {
    {u"v", u"v"},
    {u"V", u"v"},
    {u"c", u"c"},
    {u"C", u"c"},
    {u"a", u"a"},
    {u"b", u"b"},
    {u"i", u"i"},
    {u"I", u"i"},
    {u"\u0432", u"\u0432"},          // Cyrillic ve
    {u"\u0412", u"\u0432"},          // its capital
    {u"\u0441", u"\u0441"},          // Cyrillic es, which looks like c
    {u"\u0421", u"\u0441"},          // its capital
    {u"\u0130", u"i\u0307"},         // the full mapping, not the simple one
    {u"\u2164", u"\u2174"},          // Roman numeral five: not v
    {u"\uFF36", u"\uFF56"},          // full-width V: not v
    {u"\u00DF", u"\u00DF"},          // no single-unit upper or lower
    {u"\u0301", u"\u0301"},          // combining acute
    {u"\u0307", u"\u0307"},          // combining dot above
    {u"\U0001D54D", u"\U0001D54D"},  // double-struck V: no lower case
    {u"\U00010400", u"\U00010428"},  // a case pair outside the BMP
};

struct Key {
    std::u16string text;
    std::u16string lower;
    int32_t status = 0;
    bool givenAsStatus = false;  // {"error": status} in the scenario, 0 included
};

// The answer the layout calls for.
uint16_t expectedKeyCode(const std::optional<std::map<uint16_t, Key>>& layout,
                         std::u16string_view wantedLower, uint16_t fallback) {
    if (!layout) {
        return fallback;
    }
    for (const auto& [code, key] : *layout) {
        if (code < keyCodesSearched && key.status == 0 && !key.text.empty() &&
            key.text.size() <= typedUnitsAtMost && key.lower == wantedLower) {
            return code;
        }
    }
    return fallback;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    nlohmann::json scenario = {{"keyboardType", in.byte()}};
    std::optional<std::map<uint16_t, Key>> layout;
    switch (in.below(8)) {
        case 0:
            scenario["inputSource"] = nullptr;
            break;
        case 1:
            scenario["inputSource"] = {{"layout", nullptr}};
            break;
        default: {
            layout.emplace();
            const size_t keys = in.below(maxKeys + 1);
            for (size_t k = 0; k < keys; ++k) {
                // The layout's table holds key codes 0 to 127.
                const auto code = static_cast<uint16_t>(in.below(keyCodesSearched));
                Key key;
                switch (in.below(8)) {
                    case 6: {
                        static constexpr int32_t failures[] = {-25340, -50, 1};
                        key.status = failures[in.below(std::size(failures))];
                        key.givenAsStatus = true;
                        break;
                    }
                    case 7:
                        key.givenAsStatus = true;  // success, but no text
                        break;
                    default:
                        for (size_t p = in.below(maxPieces + 1); p > 0; --p) {
                            const Piece& piece = pieces[in.below(std::size(pieces))];
                            key.text += piece.text;
                            key.lower += piece.lower;
                        }
                }
                (*layout)[code] = key;  // a later entry for the same key replaces the earlier
            }
            auto keysJson = nlohmann::json::object();
            for (const auto& [code, key] : *layout) {
                keysJson[std::to_string(code)] = key.givenAsStatus
                                                     ? nlohmann::json{{"error", key.status}}
                                                     : nlohmann::json(fuzz::expectedUtf8(key.text));
            }
            scenario["inputSource"] = {{"layout", keysJson}};
        }
    }
    standin::loadScenario(scenario.dump());

    struct Ask {
        std::u16string_view character;
        std::u16string_view lower;
        uint16_t fallback;
    };
    // The two letters the tools ask for, and one whose lower case is two units long. (Each ask
    // translates 128 keys, the bulk of a run.)
    const Ask asks[] = {{u"v", u"v", 9}, {u"c", u"c", 8}, {u"\u0130", u"i\u0307", 200}};
    for (const auto& ask : asks) {
        const long live = standin::liveObjects();
        const uint16_t answer = keyCodeForCharacter(ask.character, ask.fallback);
        require(answer == expectedKeyCode(layout, ask.lower, ask.fallback));
        require(standin::liveObjects() == live);
    }
    // Back to a fixed world: a run then frees all it allocated, and libFuzzer's leak check (a
    // full heap scan) is not set off by the scenario kept until the next run.
    standin::loadScenario("{}");
    return 0;
}
