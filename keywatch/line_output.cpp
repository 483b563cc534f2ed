#include "keywatch/line_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/output.h"

namespace {

// Nobody reads any more, yet no SIGPIPE came: on a Mac a pipe can be marked not to raise it
// (F_SETNOSIGPIPE). End as the signal would have ended us.
[[noreturn]] void endAsTheSignalWould() {
    ::signal(SIGPIPE, SIG_DFL);
    ::raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

// What one write may take of `bytes` without blocking once the descriptor is ready: whole lines
// up to PIPE_BUF bytes (so a line stays whole beside other writers of a shared pipe), or
// PIPE_BUF bytes of a longer line.
size_t chunkOf(std::string_view bytes) {
    if (bytes.size() <= PIPE_BUF) {
        return bytes.size();
    }
    const size_t newline = bytes.rfind('\n', PIPE_BUF - 1);
    return newline == std::string_view::npos ? PIPE_BUF : newline + 1;
}

}  // namespace

LineOutput::LineOutput(int fd, size_t maxWaitingBytes, WhenFull full)
    : descriptor(fd), maxWaiting(maxWaitingBytes), whenFull(full) {}

LineOutput::~LineOutput() {
    stopWatching();
}

void LineOutput::add(std::string_view line, bool isKeys) {
    if (whenFull == WhenFull::dropNew && isOverfull()) {
        return;
    }
    if (isKeys && blocked && waitingKeys && waitingKeys->first >= sent) {
        // Only shortcut lines, those of the latest event, can follow it: the move is short.
        pending.erase(waitingKeys->first, waitingKeys->second - waitingKeys->first);
    }
    if (isKeys) {
        waitingKeys.emplace(pending.size(), pending.size() + line.size());
    }
    pending.append(line);
}

void LineOutput::send() {
    while (isWaiting()) {
        pollfd ready{descriptor, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, 0);
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            break;  // no room now
        }
        if ((ready.revents & POLLNVAL) != 0 && ::fcntl(descriptor, F_GETFD) == -1) {
            forgetAll();  // no descriptor: nothing can ever be written
            return;
        }
        // Room for PIPE_BUF bytes, or a reader gone (POLLERR, POLLHUP): the write tells which.
        // A Mac's poll also says POLLNVAL of open devices its kqueue cannot watch (/dev/tty,
        // /dev/null); those take the write.
        const std::string_view rest(pending.data() + sent, pending.size() - sent);
        const ssize_t written = ::write(descriptor, rest.data(), chunkOf(rest));
        if (written > 0) {
            sent += static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;  // a non-blocking descriptor that took nothing after all
        } else if (written < 0 && errno == EPIPE) {
            endAsTheSignalWould();
        } else {
            forgetAll();  // the descriptor fails: nothing more can be written
            return;
        }
    }
    if (!isWaiting()) {
        forgetAll();
        return;
    }
    blocked = true;
    if (waitingKeys && waitingKeys->first < sent) {
        waitingKeys.reset();  // partly written: it stays
    }
    if (sent > pending.size() / 2) {
        // Drop what was written once it is most of the buffer: amortised, each byte moves once.
        pending.erase(0, sent);
        if (waitingKeys) {
            waitingKeys->first -= sent;
            waitingKeys->second -= sent;
        }
        sent = 0;
    }
    watch();
}

void LineOutput::sendAll() {
    if (isWaiting() && !writeAll(descriptor, std::string_view(pending).substr(sent)) &&
        errno == EPIPE) {
        endAsTheSignalWould();
    }
    forgetAll();
    stopWatching();
}

void LineOutput::descriptorWritable(CFFileDescriptorRef, CFOptionFlags, void* info) {
    static_cast<LineOutput*>(info)->send();
}

void LineOutput::watch() {
    if (!watched) {
        CFFileDescriptorContext context{0, this, nullptr, nullptr, nullptr};
        // Not closed on invalidation: the descriptor is the host's.
        watched.reset(CFFileDescriptorCreate(kCFAllocatorDefault, descriptor, false,
                                             descriptorWritable, &context));
        if (!watched) {
            return;  // lines wait for the next event's send
        }
        watchSource.reset(
            CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, watched.get(), 0));
        if (watchSource) {
            CFRunLoopAddSource(CFRunLoopGetCurrent(), watchSource.get(), kCFRunLoopCommonModes);
        }
    }
    // A callback fires once; each wait asks again.
    CFFileDescriptorEnableCallBacks(watched.get(), kCFFileDescriptorWriteCallBack);
}

void LineOutput::stopWatching() {
    if (watchSource) {
        CFRunLoopRemoveSource(CFRunLoopGetCurrent(), watchSource.get(), kCFRunLoopCommonModes);
        watchSource.reset();
    }
    if (watched) {
        CFFileDescriptorInvalidate(watched.get());
        watched.reset();
    }
}

void LineOutput::forgetAll() {
    pending.clear();
    sent = 0;
    blocked = false;
    waitingKeys.reset();
}
