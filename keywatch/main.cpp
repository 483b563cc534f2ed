// keywatch: reports held keys and configured shortcuts, line by line, until terminated.
#include <signal.h>
#include <cstdlib>
#include <string>
#include <vector>

#include "keywatch/keyboard_monitor.h"
#include "keywatch/shortcut_config.h"

namespace {

// A child inherits ignored and blocked signals through exec, and many application frameworks
// ignore SIGPIPE. keywatch must still end when its host goes away (its next line meets the
// broken pipe) and when the host terminates it, or its tap would hold keys back for good.
void restoreEndingSignals() {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : {SIGPIPE, SIGTERM}) {
        ::signal(signal, SIG_DFL);
        sigaddset(&ending, signal);
    }
    sigprocmask(SIG_UNBLOCK, &ending, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    restoreEndingSignals();
    const std::vector<std::string> arguments(argv, argv + argc);
    // Lives until the process ends: the tap callback holds a plain pointer to it, and the
    // tap and its source are never torn down.
    static KeyboardMonitor* const monitor = new KeyboardMonitor(parseShortcuts(arguments));
    std::exit(monitor->start() ? EXIT_SUCCESS : EXIT_FAILURE);
}
