#include "tests/e2e/standin_files.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "helpers-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::string ScratchDir::write(const std::string& name, const std::string& contents) const {
    const std::string file = path(name);
    std::ofstream(file, std::ios::binary) << contents;
    return file;
}

std::vector<nlohmann::json> readLog(const std::string& path) {
    std::vector<nlohmann::json> records;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        records.push_back(nlohmann::json::parse(line));
    }
    return records;
}

std::vector<nlohmann::json> recordsOf(const std::vector<nlohmann::json>& log,
                                      const std::string& op) {
    std::vector<nlohmann::json> matching;
    for (const auto& record : log) {
        if (record.at("op") == op) {
            matching.push_back(record);
        }
    }
    return matching;
}
