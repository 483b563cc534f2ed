#include "platform/running_application.h"

#include "platform/standin/world.h"

std::optional<RunningApplication> frontmostApplication() {
    const auto& scenario = standin::world().scenario;
    standin::log(
        {{"op", "frontmostApplication"},
         {"pid", scenario.frontmostApplication ? nlohmann::json(scenario.frontmostApplication->pid)
                                               : nlohmann::json(nullptr)}});
    return scenario.frontmostApplication;
}

std::optional<RunningApplication> runningApplication(pid_t pid) {
    const auto& scenario = standin::world().scenario;
    std::optional<RunningApplication> found;
    if (const auto listed = scenario.runningApplications.find(pid);
        listed != scenario.runningApplications.end()) {
        found = RunningApplication{pid, listed->second};
    } else if (scenario.frontmostApplication && scenario.frontmostApplication->pid == pid) {
        found = scenario.frontmostApplication;
    }
    standin::log({{"op", "runningApplication"}, {"pid", pid}, {"found", found.has_value()}});
    return found;
}
