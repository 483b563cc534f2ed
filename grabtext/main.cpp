// grabtext: writes the text selected in the focused element to standard output.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "grabtext/selected_text_reader.h"

int main() {
    // A host that stops reading gets no answer, but the status stays 0: no death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Unbuffered, the text leaves in one write, not in buffer-sized pieces.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    printResult(readSelectedTextViaAX());
    // The host reads the outcome from the output alone.
    return EXIT_SUCCESS;
}
