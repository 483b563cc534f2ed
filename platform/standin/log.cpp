// The log: one JSON record per line, appended to STANDIN_LOG, of what the program did to the
// world.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/standin/world.h"

namespace standin {
namespace {

int openError = 0;

int logDescriptor() {
    static const int descriptor = [] {
        const char* path = std::getenv("STANDIN_LOG");
        if (path == nullptr || *path == '\0') {
            return -1;
        }
        const int opened = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        openError = opened < 0 ? errno : 0;
        return opened;
    }();
    return descriptor;
}

}  // namespace

int logOpenError() {
    logDescriptor();
    return openError;
}

bool logging() {
    return logDescriptor() >= 0;
}

void log(const nlohmann::ordered_json& record) {
    const int descriptor = logDescriptor();
    if (descriptor < 0) {
        return;
    }
    const std::string line = record.dump() + "\n";
    // One write per record keeps lines whole when the file is shared.
    [[maybe_unused]] const ssize_t written = ::write(descriptor, line.data(), line.size());
}

}  // namespace standin
