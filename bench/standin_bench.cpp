// How long the stand-in takes to load a scenario at the bounds fieldscan's tests reach: a page
// of 100,000 elements (about 12 MB of JSON). Every program run on such a scenario pays it before
// its first request, so it must stay small beside what the program itself does.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "platform/standin/standin.h"

namespace {

using nlohmann::json;

constexpr int pageElements = 100000;

std::string pageScenario() {
    json elements;
    json children = json::array();
    for (int i = 0; i < pageElements; ++i) {
        const std::string id = "text" + std::to_string(i);
        elements[id] = {
            {"attributes",
             {{"AXRole", "AXStaticText"},
              {"AXValue", "line " + std::to_string(i) + " of the page, some words of it"},
              {"AXParent", {{"element", "page"}}}}}};
        children.push_back({{"element", id}});
    }
    elements["page"] = {
        {"attributes", {{"AXRole", "AXWebArea"}, {"AXChildren", {{"array", children}}}}}};
    return json{{"elements", std::move(elements)}}.dump();
}

void BM_LoadScenarioOf100000Elements(benchmark::State& state) {
    const std::string scenario = pageScenario();
    for (auto _ : state) {
        standin::loadScenario(scenario);
    }
    state.counters["MB"] = static_cast<double>(scenario.size()) / 1e6;
}
BENCHMARK(BM_LoadScenarioOf100000Elements)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
