// fieldscan: prints a JSON snapshot of the text field that has the keyboard focus.
#include <cstdlib>

#include "fieldscan/context_snapshot.h"
#include "fieldscan/snapshot_assembly.h"

int main() {
    writeSnapshot(encodeSnapshot(buildSnapshot()));
    // The host reads what was found from the record alone.
    return EXIT_SUCCESS;
}
