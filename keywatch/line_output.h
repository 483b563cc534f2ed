// Lines for a reader that may stop reading for a while. What the descriptor takes now leaves at
// once; the rest waits, in order, and leaves from the run loop as the descriptor takes more.
// Nothing here blocks the caller, and the descriptor's flags, which the host shares, are left as
// they are: a descriptor ready for writing promises room for PIPE_BUF bytes, so that is what
// goes out per write.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cf_ref.h"
#include "platform/core_foundation.h"

class LineOutput {
  public:
    enum class WhenFull {
        keep,     // every line is kept; the owner asks isOverfull() and decides
        dropNew,  // lines past the bound are dropped (diagnostics)
    };

    LineOutput(int descriptor, size_t maxWaitingBytes, WhenFull whenFull);
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;
    ~LineOutput();

    // One whole line, its newline included. While lines wait, a "keys:" line (isKeys) replaces
    // the one that waits unsent: a reader needs the keys held now, not each step.
    void add(std::string_view line, bool isKeys = false);
    // Writes what the descriptor takes now; the rest waits for the run loop to find room.
    void send();
    // Writes everything, waiting as long as the reader takes, then stops watching.
    void sendAll();

    bool isWaiting() const { return sent < pending.size(); }
    // More than the bound waits: the reader has not read for a long time.
    bool isOverfull() const { return pending.size() - sent > maxWaiting; }

  private:
    static void descriptorWritable(CFFileDescriptorRef, CFOptionFlags, void* info);
    // Asks the run loop to call back once the descriptor takes more.
    void watch();
    void stopWatching();
    // Nothing waits, written or not.
    void forgetAll();

    int descriptor;
    size_t maxWaiting;
    WhenFull whenFull;
    std::string pending;  // bytes in order; those before `sent` have been written
    size_t sent = 0;
    bool blocked = false;  // the last send left lines waiting
    // Where the newest "keys:" line lies in `pending`, while none of it has been written.
    std::optional<std::pair<size_t, size_t>> waitingKeys;
    CFRef<CFFileDescriptorRef> watched;
    CFRef<CFRunLoopSourceRef> watchSource;
};
