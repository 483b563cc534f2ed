// keywatch: reports held keys and configured shortcuts, line by line, until terminated.
#include <signal.h>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "keywatch/keyboard_monitor.h"
#include "keywatch/shortcut_config.h"
#include "platform/program_options.h"

namespace {

constexpr const char* usage =
    "Usage: keywatch [--config-json LIST]\n"
    "Reports the keys held and the configured shortcuts pressed, in any application, one line\n"
    "each on standard output, until terminated (SIGTERM) or until its reader goes away.\n"
    "  --config-json LIST  JSON array of shortcuts to watch (default: right Command alone)\n"
    "  -V, --version       print the version and exit\n"
    "  -h, --help          print this text and exit\n"
    "Exit status:\n"
    "  1  no event tap that hears keys (grant Input Monitoring or Accessibility), no\n"
    "     run-loop source, 16 MiB of output left unread (the tap is then given up), or\n"
    "     the tap died (invalidated, or disabled and not to be re-enabled)\n"
    "  0  the run loop ended\n"
    "When keywatch ends, every shortcut still active counts as released.\n"
    "HOTKEY_MONITOR_DEBUG=1 adds debug lines on standard error.\n";

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
    // The program's own name counts as an argument too: started as "--config-json", its first
    // argument is that option's value, whatever it says.
    const bool nameIsOption = argc > 0 && std::string_view(argv[0]) == "--config-json";
    if (!nameIsOption && answeredVersionOrHelp(argc, argv, "keywatch", usage)) {
        return EXIT_SUCCESS;
    }
    restoreEndingSignals();
    const std::vector<std::string> arguments(argv, argv + argc);
    // Lives until the process ends: the tap callback holds a plain pointer to it, and the
    // tap and its source are never torn down.
    ShortcutsRead configuration = readShortcuts(arguments);
    static KeyboardMonitor* const monitor = new KeyboardMonitor(std::move(configuration.shortcuts));
    monitor->logConfigurationNotes(configuration.notes);
    std::exit(monitor->start() ? EXIT_SUCCESS : EXIT_FAILURE);
}
