#include "platform/frontmost_application.h"

#include "platform/standin/world.h"

std::optional<FrontmostApplication> frontmostApplication() {
    const auto& scenario = standin::world().scenario;
    standin::log(
        {{"op", "frontmostApplication"},
         {"pid", scenario.frontmostApplication ? nlohmann::json(scenario.frontmostApplication->pid)
                                               : nlohmann::json(nullptr)}});
    return scenario.frontmostApplication;
}
