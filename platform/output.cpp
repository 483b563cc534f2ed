#include "platform/output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

bool writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A host may hand over a non-blocking pipe: wait until it takes more.
            pollfd output{descriptor, POLLOUT, 0};
            if (::poll(&output, 1, -1) < 0 && errno != EINTR) {
                return false;
            }
        } else {
            return false;  // the reader has gone, or nothing more can be written
        }
    }
    return true;
}
