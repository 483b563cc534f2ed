#include "platform/program_options.h"

#include <signal.h>
#include <unistd.h>

#include <string>

#include "platform/output.h"

bool answeredVersionOrHelp(int argc, const char* const* argv, std::string_view program,
                           std::string_view usage) {
    if (argc != 2) {
        return false;
    }
    const std::string_view option = argv[1];
    if (option == "--version" || option == "--help") {
        // A host that stops reading gets no answer, but the status stays 0.
        ::signal(SIGPIPE, SIG_IGN);
    }
    if (option == "--version") {
        writeAll(STDOUT_FILENO, std::string(program) + " " + HELPERS_VERSION + "\n");
        return true;
    }
    if (option == "--help") {
        writeAll(STDOUT_FILENO, usage);
        return true;
    }
    return false;
}
