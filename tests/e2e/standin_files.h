// A scratch folder per test for stand-in scenarios and logs.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Writes a file in the folder and returns its path.
    std::string write(const std::string& name, const std::string& contents) const;
    std::string path(const std::string& name) const { return root + "/" + name; }

  private:
    std::string root;
};

// The stand-in log: one JSON object per line.
std::vector<nlohmann::json> readLog(const std::string& path);

// The log records whose "op" is `op`.
std::vector<nlohmann::json> recordsOf(const std::vector<nlohmann::json>& log,
                                      const std::string& op);
