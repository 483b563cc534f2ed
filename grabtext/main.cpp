// grabtext: writes the text selected in the focused element to standard output.
#include <cstdlib>

#include "grabtext/selected_text_reader.h"

int main() {
    printResult(readSelectedTextViaAX());
    // The host reads the outcome from the output alone.
    return EXIT_SUCCESS;
}
