// fieldscan: prints a JSON snapshot of the text field that has the keyboard focus.
#include <csignal>
#include <cstdlib>

#include "fieldscan/context_snapshot.h"
#include "fieldscan/snapshot_assembly.h"

int main() {
    // A host that stops reading gets no answer, but the status stays 0: no death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    writeSnapshot(encodeSnapshot(buildSnapshot()));
    // The host reads what was found from the record alone.
    return EXIT_SUCCESS;
}
