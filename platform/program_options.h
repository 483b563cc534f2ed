// The two options every program answers when given alone, before it touches the platform or
// reads anything: "--version" and "--help". A host can then ask a bundled helper which version
// it is without it tapping the keyboard, posting a keystroke or waiting for audio.
#pragma once

#include <string_view>

// With "--version" (or "-V") as the only argument, writes "<program> <version>\n" (the
// project's version) to standard output; with "--help" (or "-h") alone, writes `usage`. True when
// it answered: the caller then ends with status 0. Any other argument list is the program's own,
// and nothing is written.
bool answeredVersionOrHelp(int argc, const char* const* argv, std::string_view program,
                           std::string_view usage);
