// maccheck: asks the Mac it runs on what the suite assumes of macOS, and says where it differs.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "maccheck/check.h"
#include "maccheck/report.h"
#include "platform/output.h"
#include "platform/program_options.h"

namespace {

constexpr const char* usage =
    "Usage: maccheck [keyboard | fields] [--json]\n"
    "Checks what the helpers assume of macOS on this Mac: the system, the permissions as this\n"
    "process sees them, the event taps keywatch asks for, the keyboard layouts pastekey and\n"
    "copykey read, and a Shift press it posts and reads back (do not type meanwhile). For each\n"
    "check: what it observed, the assumption and the code relying on it, and holds, differs or\n"
    "skipped. Nothing typed and no field's contents are written out.\n"
    "  keyboard       instead, steps at the keyboard: it asks on standard error for a key,\n"
    "                 listens up to 30 s for it and records that key alone\n"
    "  fields         instead, steps at text fields: it asks on standard error for a click\n"
    "                 into a field, waits up to 30 s for the focus to be there and records\n"
    "                 what the field answers (of its text only the length)\n"
    "  --json         one JSON object {\"checks\": [...], \"summary\": {...}} instead\n"
    "  -V, --version  print the version and exit\n"
    "  -h, --help     print this text and exit\n"
    "Exit status:\n"
    "  0  the checks ran (whatever they found)\n"
    "  2  an argument it does not know\n";
constexpr const char* unknownArgumentMessage = "maccheck: unknown argument; see maccheck --help\n";
constexpr std::string_view jsonOption = "--json";
constexpr std::string_view keyboardCommand = "keyboard";
constexpr std::string_view fieldsCommand = "fields";
constexpr int exitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (answeredVersionOrHelp(argc, argv, "maccheck", usage)) {
        return EXIT_SUCCESS;
    }
    bool json = false;
    bool command = false;
    std::vector<std::vector<Observation> (*)()> groups{systemChecks, keyboardChecks, runLoopChecks};
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == jsonOption && !json) {
            json = true;
        } else if (argument == keyboardCommand && !command) {
            groups = {keyboardSteps};
            command = true;
        } else if (argument == fieldsCommand && !command) {
            groups = {fieldSteps};
            command = true;
        } else {
            std::fputs(unknownArgumentMessage, stderr);
            return exitUsage;
        }
    }
    std::vector<Observation> checks;
    for (auto group : groups) {
        for (auto& check : group()) {
            checks.push_back(std::move(check));
        }
    }
    writeAll(STDOUT_FILENO, json ? jsonReport(checks) : humanReport(checks));
    return EXIT_SUCCESS;
}
