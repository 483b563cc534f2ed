// Applications as the workspace knows them: the one in front, or the one with a process id.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

struct RunningApplication {
    pid_t pid;
    std::optional<std::string> bundleIdentifier;  // absent for an application without one
};

// Nothing when no application is in front.
std::optional<RunningApplication> frontmostApplication();

// The application with this process id; nothing when no application has it (a process that is
// not an application, or one that has ended).
std::optional<RunningApplication> runningApplication(pid_t pid);
