// targetprobe: says whether text can be inserted at, above or below the keyboard focus, and why.
#include <cstdlib>

#include "targetprobe/insert_target_check.h"
#include "targetprobe/insertable_element_search.h"

int main() {
    writeCheck(buildCheck());
    // The host reads the outcome from the record alone.
    return EXIT_SUCCESS;
}
