// Cost of one event through KeyboardMonitor::handle, line writing to /dev/null included. The
// platform disables taps whose callbacks are slow, so this is the number that matters.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "keywatch/keyboard_monitor.h"
#include "platform/standin/standin.h"

namespace {

constexpr CGEventFlags command = 0x100000;
constexpr CGEventFlags shift = 0x20000;

struct NullOutput {
    NullOutput() : file(std::fopen("/dev/null", "w")) {}
    ~NullOutput() { std::fclose(file); }
    FILE* file;
};

CFRef<CGEventRef> event(CGEventType type, int64_t keyCode, CGEventFlags flags) {
    return CFRef<CGEventRef>(standin::createEvent(type, keyCode, flags));
}

// Right Command down and up with the default configuration: two events per iteration.
void BM_DefaultPressReleasePair(benchmark::State& state) {
    standin::loadScenario("{}");
    NullOutput out;
    KeyboardMonitor monitor(defaultShortcuts(), out.file, out.file);
    const auto down = event(kCGEventFlagsChanged, 54, command);
    const auto up = event(kCGEventFlagsChanged, 54, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(monitor.handle(kCGEventFlagsChanged, down.get()));
        benchmark::DoNotOptimize(monitor.handle(kCGEventFlagsChanged, up.get()));
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_DefaultPressReleasePair);

// An auto-repeating key-down with three keys held and five shortcuts configured.
void BM_KeyDownThreeHeldFiveShortcuts(benchmark::State& state) {
    standin::loadScenario("{}");
    NullOutput out;
    const auto shortcuts = parseShortcuts({"keywatch", "--config-json", R"([
        {"id":"transcript-start","keyCode":54,"modifiers":["command"],"eventType":"flagsChanged"},
        {"id":"dictate","keyCode":0,"modifiers":["fn"],"eventType":"flagsChanged"},
        {"id":"paste","keyCode":9,"modifiers":["Command"],"eventType":"keyDown"},
        {"id":"hold","keyCode":49,"modifiers":["command","shift"],"modifierKeyCodes":[55,56],
         "eventType":"keyDown"},
        {"id":"copy","keyCode":8,"modifiers":["command"],"eventType":"keyDown"}])"});
    KeyboardMonitor monitor(shortcuts, out.file, out.file);
    monitor.handle(kCGEventFlagsChanged, event(kCGEventFlagsChanged, 55, command).get());
    monitor.handle(kCGEventFlagsChanged, event(kCGEventFlagsChanged, 56, command | shift).get());
    const auto space = event(kCGEventKeyDown, 49, command | shift);
    for (auto _ : state) {
        benchmark::DoNotOptimize(monitor.handle(kCGEventKeyDown, space.get()));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeyDownThreeHeldFiveShortcuts);

}  // namespace

BENCHMARK_MAIN();
