// grabtext: writes the text selected in the focused element to standard output.
#include <csignal>
#include <cstdlib>

#include "grabtext/selected_text_reader.h"
#include "platform/program_options.h"

namespace {

constexpr const char* usage =
    "Usage: grabtext\n"
    "Writes the text selected in the focused element, as raw UTF-8, on standard output (nothing\n"
    "when there is no selection). Needs the Accessibility permission.\n"
    "  -V, --version  print the version and exit\n"
    "  -h, --help     print this text and exit\n"
    "Exit status:\n"
    "  0  always; a message on standard error without the permission or a focused element\n";

}  // namespace

int main(int argc, char** argv) {
    // A host that stops reading gets no answer, but the status stays 0: no death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (answeredVersionOrHelp(argc, argv, "grabtext", usage)) {
        return EXIT_SUCCESS;
    }
    printResult(readSelectedTextViaAX());
    // The host reads the outcome from the output alone.
    return EXIT_SUCCESS;
}
