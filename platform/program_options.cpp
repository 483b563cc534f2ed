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
    const bool version = option == "--version" || option == "-V";
    if (!version && option != "--help" && option != "-h") {
        return false;
    }
    // A host that stops reading gets no answer, but the status stays 0.
    ::signal(SIGPIPE, SIG_IGN);
    writeAll(STDOUT_FILENO,
             version ? std::string(program) + " " + HELPERS_VERSION + "\n" : std::string(usage));
    return true;
}
