// fieldscan run as the host runs it, one process per snapshot, on a browser page at the bounds
// of the gathering: a web area whose subtree goes deeper than the seven levels walked, with more
// distinct long texts than the line limit. Reports the requests of one run (from the stand-in
// log) against what the bounds allow, and the median time of a whole run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern char** environ;

namespace {

using nlohmann::json;

constexpr int pageLevels = 8;  // below the web area, depths 0 to 7; the walks stop at 6
constexpr int branching = 2;   // 255 elements, 127 of them within reach
constexpr size_t textUnits = 1000;
constexpr int toolbarButtons = 8;
constexpr long lineLimit = 120;
constexpr long elementsPerWalk = 10000;

json refTo(const std::string& id) {
    return {{"element", id}};
}

json element(const std::string& role, json attributes) {
    attributes["AXRole"] = role;
    return {{"attributes", std::move(attributes)}};
}

// About textUnits of prose, some of it outside ASCII, that starts with `lead`.
std::string longText(const std::string& lead) {
    std::string text = lead;
    while (text.size() < textUnits) {
        text += " caf\u00E9 na\u00EFve r\u00E9sum\u00E9 \u2014 the quick brown fox jumps";
    }
    return text;
}

// The page below the web area, in pre-order: every element a distinct title; a description of
// its own on every fourth and one shared by the rest (a repeat after the first); a value with
// blanks around it on every third. So the gathering ends at 122 lines, two past the limit.
void addPage(json& elements, const std::string& id, int depth, int& index) {
    json attributes = {
        {"AXTitle", longText("Heading " + id)},
        {"AXDescription", longText(index % 4 == 3 ? "Note " + id : "Shared navigation")},
        {"AXValue", index % 3 == 0 ? "\n  " + longText("Value " + id) + " \t" : " "}};
    ++index;
    if (depth + 1 < pageLevels) {
        json children = json::array();
        for (int i = 0; i < branching; ++i) {
            const std::string child = id + "." + std::to_string(i);
            addPage(elements, child, depth + 1, index);
            children.push_back(refTo(child));
        }
        attributes["AXChildren"] = {{"array", std::move(children)}};
    }
    elements[id] = element(depth == 0 ? "AXWebArea" : "AXGroup", std::move(attributes));
    if (depth == 0) {
        elements[id]["attributes"].erase("AXValue");  // the page text is gathered
    }
}

json browserPage() {
    json elements;
    int index = 0;
    addPage(elements, "page", 0, index);
    json buttons = json::array();
    for (int i = 0; i < toolbarButtons; ++i) {
        elements["button" + std::to_string(i)] = element("AXButton", {{"AXTitle", "Back"}});
        buttons.push_back(refTo("button" + std::to_string(i)));
    }
    elements["toolbar"] = element("AXToolbar", {{"AXChildren", {{"array", buttons}}}});
    elements["content"] = element("AXGroup", {{"AXChildren", {{"array", {refTo("page")}}}}});
    elements["window"] =
        element("AXWindow", {{"AXChildren", {{"array", {refTo("toolbar"), refTo("content")}}}}});
    // No range: the selection, decomposed where the page is not, is searched for in the page
    // text and found in its last line.
    elements["field"] = {{"attributes",
                          {{"AXRole", "AXTextField"},
                           {"AXValue", "draft"},
                           {"AXSelectedText", "Heading page.1.0.0.1.0 cafe\u0301"}}},
                         {"settable", {{"AXValue", true}}}};
    return {
        {"trusted", true},
        {"frontmostApplication", {{"pid", 501}, {"bundleIdentifier", "com.apple.Safari"}}},
        {"applications",
         {{"501",
           {{"attributes",
             {{"AXFocusedUIElement", refTo("field")}, {"AXFocusedWindow", refTo("window")}}}}}}},
        {"elements", std::move(elements)}};
}

// Requests this page may cost: the fixed ones, the web-area search from the field (no children)
// and from the window (through the toolbar first), and four per element gathered. Every element
// brings a new line, so the gathering enters at most lineLimit of them.
long requestBound() {
    const long fixed = 4 + 2 + 1 + 1 + 9;  // focus; field search; window; page value; the field
    const long windowSearch = 2 * (3 + toolbarButtons) + 1;
    return fixed + windowSearch + 4 * lineLimit;
}

// Whatever the page: three walks of at most elementsPerWalk elements each.
long ceilingOnAnyPage() {
    return 4 + 2 * elementsPerWalk + 1 + 2 * elementsPerWalk + 1 + 4 * elementsPerWalk + 9;
}

struct RunCost {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    bool succeeded = false;
};

RunCost runFieldscan(const std::vector<std::string>& settings, const std::string& outPath) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string(*variable).rfind("STANDIN_", 0) != 0) {
            environment.emplace_back(*variable);
        }
    }
    environment.insert(environment.end(), settings.begin(), settings.end());
    std::vector<char*> envp;
    for (auto& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string program = FIELDSCAN_PATH;
    char* argv[] = {program.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    RunCost cost;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid) {
            cost.wallSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
            cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
            cost.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return cost;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void BM_FieldscanBrowserPageAtTheBounds(benchmark::State& state) {
    char pattern[] = "/tmp/fieldscan-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const std::string dir = pattern;
    const std::string scenario = dir + "/page.json";
    const std::string log = dir + "/log.jsonl";
    const std::string out = dir + "/out.json";
    std::ofstream(scenario) << browserPage().dump();

    // One run with the log on, for the requests and the output; the timed runs go without.
    long requests = 0;
    long liveObjects = -1;
    const RunCost logged =
        runFieldscan({"STANDIN_SCENARIO=" + scenario, "STANDIN_LOG=" + log}, out);
    std::ifstream logFile(log);
    for (std::string line; std::getline(logFile, line);) {
        const json record = json::parse(line);
        if (record.at("op") == "exit") {
            liveObjects = record.at("liveObjects").get<long>();
        } else {
            ++requests;
        }
    }
    std::ifstream outFile(out);
    const json snapshot = json::parse(outFile, nullptr, false);
    if (!logged.succeeded || liveObjects != 0 || !snapshot.is_object()) {
        state.SkipWithError("fieldscan did not run cleanly on the page");
        std::filesystem::remove_all(dir);
        return;
    }
    const auto& visible = snapshot.at("visibleText").get_ref<const std::string&>();

    std::vector<double> wall;
    std::vector<double> cpu;
    for (auto _ : state) {
        const RunCost cost = runFieldscan({"STANDIN_SCENARIO=" + scenario}, "/dev/null");
        if (!cost.succeeded) {
            state.SkipWithError("fieldscan failed");
            break;
        }
        state.SetIterationTime(cost.wallSeconds);
        wall.push_back(cost.wallSeconds);
        cpu.push_back(cost.cpuSeconds);
    }
    state.counters["requests"] = static_cast<double>(requests);
    state.counters["requestBound"] = static_cast<double>(requestBound());
    state.counters["ceilingAnyPage"] = static_cast<double>(ceilingOnAnyPage());
    state.counters["lines"] =
        static_cast<double>(std::count(visible.begin(), visible.end(), '\n') + 1);
    state.counters["outputBytes"] = static_cast<double>(std::filesystem::file_size(out));
    state.counters["cursor"] = snapshot.at("cursorPosition").get<double>();
    state.counters["medianWallMs"] = median(wall) * 1e3;
    state.counters["medianCpuMs"] = median(cpu) * 1e3;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FieldscanBrowserPageAtTheBounds)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
