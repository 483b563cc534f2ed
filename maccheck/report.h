// The checks' outcome, for a person or as one JSON object to attach to a report.
#pragma once

#include <string>
#include <vector>

#include "maccheck/check.h"

// One paragraph per check, then the count of each result.
std::string humanReport(const std::vector<Observation>& checks);

// {"checks": [{"id", "observed", "assumption", "code", "result"}, ...], "summary": {...}}, and a
// newline.
std::string jsonReport(const std::vector<Observation>& checks);
