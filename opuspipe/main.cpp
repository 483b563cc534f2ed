// opuspipe: PCM on standard input, Ogg Opus on standard output.
#include <csignal>

#include "opuspipe/opuspipe.h"

int main(int argc, char** argv) {
    // A host that closes its end early must see a failed write and an error status, not a
    // silent death or, with SIGPIPE ignored by the host, a success.
    std::signal(SIGPIPE, SIG_IGN);
    return run_opuspipe(argc, argv);
}
