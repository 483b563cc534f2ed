// The application in front, as the workspace reports it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

struct FrontmostApplication {
    pid_t pid;
    std::optional<std::string> bundleIdentifier;  // absent for an application without one
};

// Nothing when no application is in front.
std::optional<FrontmostApplication> frontmostApplication();
