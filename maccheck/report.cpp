#include "maccheck/report.h"

#include <nlohmann/json.hpp>

namespace {

constexpr const char* resultNames[] = {"holds", "differs", "skipped"};
constexpr std::string_view unknownAssumption = "(no assumption recorded)";

const char* nameOf(Result result) {
    return resultNames[static_cast<int>(result)];
}

Assumption assumptionFor(std::string_view id) {
    const Assumption* row = assumptionOf(id);
    return row != nullptr ? *row : Assumption{id, unknownAssumption, unknownAssumption};
}

long countOf(const std::vector<Observation>& checks, Result result) {
    long count = 0;
    for (const auto& check : checks) {
        count += check.result == result ? 1 : 0;
    }
    return count;
}

}  // namespace

std::string humanReport(const std::vector<Observation>& checks) {
    std::string report;
    for (const auto& check : checks) {
        const Assumption row = assumptionFor(check.id);
        report += std::string(nameOf(check.result)) + "  " + std::string(check.id) + "\n";
        report += "    observed:   " + check.observed + "\n";
        report += "    assumption: " + std::string(row.assumption) + "\n";
        report += "    code:       " + std::string(row.code) + "\n";
    }
    report += std::to_string(checks.size()) +
              " checks: " + std::to_string(countOf(checks, Result::holds)) + " hold, " +
              std::to_string(countOf(checks, Result::differs)) + " differ, " +
              std::to_string(countOf(checks, Result::skipped)) + " skipped\n";
    return report;
}

std::string jsonReport(const std::vector<Observation>& checks) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& check : checks) {
        const Assumption row = assumptionFor(check.id);
        list.push_back({{"id", check.id},
                        {"observed", check.observed},
                        {"assumption", row.assumption},
                        {"code", row.code},
                        {"result", nameOf(check.result)}});
    }
    nlohmann::ordered_json summary;
    for (const auto result : {Result::holds, Result::differs, Result::skipped}) {
        summary[nameOf(result)] = countOf(checks, result);
    }
    const nlohmann::ordered_json report{{"checks", list}, {"summary", summary}};
    // Whatever a field held never reaches here, but a system answer might not be UTF-8.
    return report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
