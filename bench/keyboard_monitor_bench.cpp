// Cost of one event through KeyboardMonitor::handle, line writing to /dev/null included. The
// platform disables taps whose callbacks are slow, so this is the number that matters.
//
// Each case has a floor beside it: the very lines the case prints per iteration, sent as the
// monitor sends them (per event, a poll for room, then one write of the event's lines) to the
// same kind of sink, with no event handling. Absolute times swing from machine to machine; the
// ratio of the two, printed after the run, is what to compare.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "keywatch/keyboard_monitor.h"
#include "platform/standin/standin.h"

namespace {

constexpr CGEventFlags command = 0x100000;
constexpr CGEventFlags shift = 0x20000;

struct NullOutput {
    NullOutput() : file(std::fopen("/dev/null", "w")) {}
    ~NullOutput() { std::fclose(file); }
    int fd() const { return fileno(file); }
    FILE* file;
};

struct EventSpec {
    CGEventType type;
    int64_t keyCode;
    CGEventFlags flags;
};

// A configuration, the events that bring the monitor to its steady state, the events of one
// timed iteration and, per event, the lines (newlines included) it prints.
struct Scenario {
    std::vector<ShortcutConfig> shortcuts;
    std::vector<EventSpec> setup;
    std::vector<EventSpec> iteration;
    std::vector<std::string> lines;
};

CFRef<CGEventRef> event(const EventSpec& step) {
    return CFRef<CGEventRef>(standin::createEvent(step.type, step.keyCode, step.flags));
}

// Right Command down and up with the default configuration: two events per iteration.
Scenario defaultPressReleasePair() {
    return {defaultShortcuts(),
            {},
            {{kCGEventFlagsChanged, 54, command}, {kCGEventFlagsChanged, 54, 0}},
            {R"(keys:[{"keyCode":54,"keyName":"RightCmd","enKeyName":"RightCmd"}])"
             "\nshortcut:transcript-start\n",
             "shortcut-up:transcript-start\nkeys:[]\n"}};
}

// An auto-repeating key-down with three keys held and five shortcuts configured.
Scenario keyDownThreeHeldFiveShortcuts() {
    const std::string configuration = R"([
        {"id":"transcript-start","keyCode":54,"modifiers":["command"],"eventType":"flagsChanged"},
        {"id":"dictate","keyCode":0,"modifiers":["fn"],"eventType":"flagsChanged"},
        {"id":"paste","keyCode":9,"modifiers":["Command"],"eventType":"keyDown"},
        {"id":"hold","keyCode":49,"modifiers":["command","shift"],"modifierKeyCodes":[55,56],
         "eventType":"keyDown"},
        {"id":"copy","keyCode":8,"modifiers":["command"],"eventType":"keyDown"}])";
    return {parseShortcuts({"keywatch", "--config-json", configuration}),
            {{kCGEventFlagsChanged, 55, command}, {kCGEventFlagsChanged, 56, command | shift}},
            {{kCGEventKeyDown, 49, command | shift}},
            // "hold" is active from the first iteration on: the repeats print the held list alone.
            {R"(keys:[{"keyCode":55,"keyName":"LeftCmd","enKeyName":"LeftCmd"},)"
             R"({"keyCode":56,"keyName":"LeftShift","enKeyName":"LeftShift"},)"
             R"({"keyCode":49,"keyName":"Space","enKeyName":"Space"}])"
             "\n"}};
}

// The monitor after the setup events, printing to `out`, and one iteration's events.
struct Prepared {
    Prepared(const Scenario& scenario, int out) : monitor(scenario.shortcuts, out, out) {
        for (const auto& step : scenario.setup) {
            monitor.handle(step.type, event(step).get());
        }
        for (const auto& step : scenario.iteration) {
            events.emplace_back(step.type, event(step));
        }
    }
    void iterate() {
        for (const auto& [type, ref] : events) {
            benchmark::DoNotOptimize(monitor.handle(type, ref.get()));
        }
    }
    KeyboardMonitor monitor;
    std::vector<std::pair<uint32_t, CFRef<CGEventRef>>> events;
};

void runHandling(benchmark::State& state, const Scenario& scenario) {
    standin::loadScenario("{}");
    NullOutput out;
    Prepared prepared(scenario, out.fd());
    for (auto _ : state) {
        prepared.iterate();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(scenario.iteration.size()));
}

// What one steady-state iteration prints: the setup, one iteration to settle (a first press
// prints lines its repeats do not), then one captured.
std::string steadyStateOutput(const Scenario& scenario) {
    FILE* capture = std::tmpfile();
    std::string text;
    {
        standin::loadScenario("{}");
        Prepared prepared(scenario, fileno(capture));
        prepared.iterate();
        const off_t settled = ::lseek(fileno(capture), 0, SEEK_CUR);
        prepared.iterate();
        const off_t end = ::lseek(fileno(capture), 0, SEEK_CUR);
        text.resize(static_cast<size_t>(end - settled));
        if (::pread(fileno(capture), text.data(), text.size(), settled) !=
            static_cast<ssize_t>(text.size())) {
            text.clear();
        }
    }
    std::fclose(capture);
    return text;
}

// The case's lines to the same kind of sink, sent per event as the monitor sends them, and
// nothing else.
void runFloor(benchmark::State& state, const Scenario& scenario) {
    std::string expected;
    for (const auto& line : scenario.lines) {
        expected += line;
    }
    if (steadyStateOutput(scenario) != expected) {
        state.SkipWithError("the case no longer prints the floor's lines");
        return;
    }
    NullOutput out;
    for (auto _ : state) {
        for (const auto& lines : scenario.lines) {
            pollfd ready{out.fd(), POLLOUT, 0};
            benchmark::DoNotOptimize(::poll(&ready, 1, 0));
            benchmark::DoNotOptimize(::write(out.fd(), lines.data(), lines.size()));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(scenario.iteration.size()));
}

struct Case {
    const char* name;
    Scenario (*scenario)();
};

constexpr Case cases[] = {
    {"BM_DefaultPressReleasePair", defaultPressReleasePair},
    {"BM_KeyDownThreeHeldFiveShortcuts", keyDownThreeHeldFiveShortcuts},
};

constexpr const char* floorSuffix = "_Floor";

// The console output, then per case the handling and floor time per event and their ratio, in
// CPU time (steady when other processes compete for the cores) and in real time. Medians when
// the run is repeated.
class FloorReporter : public benchmark::ConsoleReporter {
  public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const auto& run : reports) {
            const bool isMedian =
                run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !isMedian)) {
                continue;
            }
            auto& figures = perIteration[run.run_name.function_name];
            // A median outranks the single repetitions it was taken from.
            if (isMedian || !figures.fromMedian) {
                const double toNs = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
                figures = {run.GetAdjustedCPUTime() * toNs, run.GetAdjustedRealTime() * toNs,
                           isMedian};
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        auto& out = GetOutputStream();
        char line[200];
        bool header = false;
        for (const auto& entry : cases) {
            const auto handling = perIteration.find(entry.name);
            const auto floor = perIteration.find(std::string(entry.name) + floorSuffix);
            if (handling == perIteration.end() || floor == perIteration.end()) {
                continue;
            }
            if (!header) {
                out << "\nns per event" << (handling->second.fromMedian ? ", medians" : "")
                    << ": handling beside its floor (the same lines written, no handling)\n";
                std::snprintf(line, sizeof line, "%-34s %9s %9s %7s   %9s %9s %7s\n", "case", "cpu",
                              "floor", "ratio", "real", "floor", "ratio");
                out << line;
                header = true;
            }
            const double events = static_cast<double>(entry.scenario().iteration.size());
            const Figures& h = handling->second;
            const Figures& f = floor->second;
            std::snprintf(line, sizeof line, "%-34s %9.1f %9.1f %7.3f   %9.1f %9.1f %7.3f\n",
                          entry.name, h.cpuNs / events, f.cpuNs / events, h.cpuNs / f.cpuNs,
                          h.realNs / events, f.realNs / events, h.realNs / f.realNs);
            out << line;
        }
    }

  private:
    struct Figures {
        double cpuNs = 0;
        double realNs = 0;
        bool fromMedian = false;
    };
    std::map<std::string, Figures> perIteration;
};

}  // namespace

int main(int argc, char** argv) {
    // Another output format asked for: leave the display to the library.
    bool console = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0 &&
            std::strcmp(argv[i] + 19, "console") != 0) {
            console = false;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    for (const auto& entry : cases) {
        benchmark::RegisterBenchmark(
            entry.name, [entry](benchmark::State& state) { runHandling(state, entry.scenario()); });
        benchmark::RegisterBenchmark(
            (std::string(entry.name) + floorSuffix).c_str(),
            [entry](benchmark::State& state) { runFloor(state, entry.scenario()); });
    }
    if (console) {
        FloorReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color
                                                     : benchmark::ConsoleReporter::OO_None);
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}
