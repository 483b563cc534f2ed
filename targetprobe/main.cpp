// targetprobe: says whether text can be inserted at, above or below the keyboard focus, and why.
#include <csignal>
#include <cstdlib>

#include "targetprobe/insert_target_check.h"
#include "targetprobe/insertable_element_search.h"

int main() {
    // A host that stops reading gets no answer, but the status stays 0: no death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    writeCheck(buildCheck());
    // The host reads the outcome from the record alone.
    return EXIT_SUCCESS;
}
