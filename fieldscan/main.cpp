// fieldscan: prints a JSON snapshot of the text field that has the keyboard focus.
#include <csignal>
#include <cstdlib>

#include "fieldscan/context_snapshot.h"
#include "fieldscan/snapshot_assembly.h"
#include "platform/program_options.h"

namespace {

constexpr const char* usage =
    "Usage: fieldscan\n"
    "Writes one JSON object describing the text field that has the keyboard focus, wherever\n"
    "it is (its text, the text before and after the caret, the selection, the text around it,\n"
    "role, editable) on standard output. Needs the Accessibility permission.\n"
    "  -V, --version  print the version and exit\n"
    "  -h, --help     print this text and exit\n"
    "Exit status:\n"
    "  0  always; without the permission or a focused field every text is empty\n";

}  // namespace

int main(int argc, char** argv) {
    // A host that stops reading gets no answer, but the status stays 0: no death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (answeredVersionOrHelp(argc, argv, "fieldscan", usage)) {
        return EXIT_SUCCESS;
    }
    writeSnapshot(encodeSnapshot(buildSnapshot()));
    // The host reads what was found from the record alone.
    return EXIT_SUCCESS;
}
