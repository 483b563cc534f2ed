// targetprobe: says whether text can be inserted at, above or below the keyboard focus, and why.
#include <csignal>
#include <cstdlib>

#include "platform/program_options.h"
#include "targetprobe/insert_target_check.h"
#include "targetprobe/insertable_element_search.h"

namespace {

constexpr const char* usage =
    "Usage: targetprobe\n"
    "Writes one JSON object saying whether text can be inserted at the keyboard focus, above it\n"
    "or below it, and why, on standard output. Needs the Accessibility permission.\n"
    "  -V, --version  print the version and exit\n"
    "  -h, --help     print this text and exit\n"
    "Exit status:\n"
    "  0  always; the reason says what was found (accessibility_missing without the permission)\n";

}  // namespace

int main(int argc, char** argv) {
    // A host that stops reading gets no answer, but the status stays 0: no death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (answeredVersionOrHelp(argc, argv, "targetprobe", usage)) {
        return EXIT_SUCCESS;
    }
    writeCheck(buildCheck());
    // The host reads the outcome from the record alone.
    return EXIT_SUCCESS;
}
