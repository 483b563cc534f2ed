// Scenario JSON read strictly: an object's keys are those its reader asks for, and every value
// has the type asked for, so that a typo in a test fails loudly instead of passing silently.
#pragma once

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace standin {

// One object of the scenario, read strictly. Its known keys are exactly those its reader asks
// for: finish() rejects any other, so a misspelt key fails loudly instead of leaving a default.
// A value of the wrong type is rejected too (nlohmann would turn true into 1), naming its path.
class ObjectReader {
  public:
    ObjectReader(const nlohmann::json& value, std::string path)
        : object(value), at(std::move(path)) {
        if (!object.is_object()) {
            throw std::runtime_error(described() + " is not an object");
        }
    }

    // The member, or null when absent; every key asked for is a known key.
    const nlohmann::json* find(const std::string& key) {
        known.push_back(key);
        const auto found = object.find(key);
        return found == object.end() ? nullptr : &*found;
    }

    std::string pathOf(const std::string& key) const { return at.empty() ? key : at + "." + key; }

    bool boolean(const std::string& key, bool fallback) {
        const auto* value = find(key);
        if (value == nullptr) {
            return fallback;
        }
        expect(value->is_boolean(), key, "a boolean");
        return value->get<bool>();
    }

    double number(const std::string& key, double fallback) {
        const auto* value = find(key);
        if (value == nullptr) {
            return fallback;
        }
        expect(value->is_number(), key, "a number");
        return value->get<double>();
    }

    template <typename Integer>
    Integer integer(const std::string& key, Integer fallback) {
        const auto* value = find(key);
        return value == nullptr ? fallback : integerValue<Integer>(*value, pathOf(key));
    }

    // The elements of an array member, each handed to `read` with its path.
    template <typename Read>
    void array(const std::string& key, Read read) {
        const auto* value = find(key);
        if (value == nullptr) {
            return;
        }
        expect(value->is_array(), key, "an array");
        for (size_t i = 0; i < value->size(); ++i) {
            read((*value)[i], pathOf(key) + "[" + std::to_string(i) + "]");
        }
    }

    void expect(bool holds, const std::string& key, const char* what) const {
        if (!holds) {
            throw std::runtime_error(pathOf(key) + " is not " + what);
        }
    }

    void finish() const {
        for (const auto& [key, value] : object.items()) {
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                throw std::runtime_error("unknown key " + pathOf(key));
            }
        }
    }

    // Each member of an object whose keys are data, not names the reader knows (element ids,
    // attribute names, key codes), with its path. No key is unknown there, so none is recorded:
    // such an object can hold a hundred thousand members.
    template <typename Visit>
    static void forEachMember(const nlohmann::json& value, const std::string& path, Visit visit) {
        if (!value.is_object()) {
            throw std::runtime_error(path + " is not an object");
        }
        for (const auto& [key, member] : value.items()) {
            visit(key, member, path + "." + key);
        }
    }

    template <typename Integer>
    static Integer integerValue(const nlohmann::json& value, const std::string& path) {
        const bool fits =
            value.is_number_unsigned()
                ? value.get<uint64_t>() <= uint64_t(std::numeric_limits<Integer>::max())
            : value.is_number_integer()
                ? value.get<int64_t>() >= int64_t(std::numeric_limits<Integer>::min())
                : false;
        if (!fits) {
            throw std::runtime_error(path + " is not an integer in range");
        }
        return value.get<Integer>();
    }

    static std::string text(const nlohmann::json& value, const std::string& path) {
        if (!value.is_string()) {
            throw std::runtime_error(path + " is not a string");
        }
        return value.get<std::string>();
    }

  private:
    std::string described() const { return at.empty() ? "the scenario" : at; }

    const nlohmann::json& object;
    std::string at;
    std::vector<std::string> known;
};

// A member name that must be a number (a process id, a key code), written as the number
// prints: "007" and "+7" would name what "7" names and hide a typo.
template <typename Integer>
Integer numberNamed(std::string_view name, const std::string& path, const char* what) {
    Integer value = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), value);
    if (error != std::errc() || end != name.data() + name.size() || std::to_string(value) != name) {
        throw std::runtime_error(path + ": not " + what);
    }
    return value;
}

}  // namespace standin
