// keywatch: reports held keys and configured shortcuts, line by line, until terminated.
#include <cstdlib>
#include <string>
#include <vector>

#include "keywatch/keyboard_monitor.h"
#include "keywatch/shortcut_config.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    // Lives until the process ends: the tap callback holds a plain pointer to it, and the
    // tap and its source are never torn down.
    static KeyboardMonitor* const monitor = new KeyboardMonitor(parseShortcuts(arguments));
    std::exit(monitor->start() ? EXIT_SUCCESS : EXIT_FAILURE);
}
