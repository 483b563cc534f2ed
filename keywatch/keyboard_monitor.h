// Owns the event tap and handles every event it delivers: keeps the detector informed, prints
// the key-state and shortcut lines, and runs the Fn suppression window.
//
// Lifetime: once start() has installed the tap, the run loop holds its source, and the platform
// calls the monitor through a plain pointer it does not own. A started monitor therefore lives
// as long as the process (main never destroys it). Should one be destroyed anyway, on the
// run-loop thread, its destructor first takes the source out of the run loop and disables and
// invalidates the tap, so the platform has no way left to call the freed object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keywatch/shortcut_config.h"
#include "keywatch/shortcut_detector.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_events.h"

class KeyboardMonitor {
  public:
    static constexpr uint32_t systemDefinedEventRawValue = 14;
    static constexpr double fnSuppressionWindowSeconds = 0.55;
    static constexpr CGEventMask eventMask = 0x5C00;

    // Lines go to `output`, flushed one by one; messages and debug lines to `diagnostics`.
    explicit KeyboardMonitor(std::vector<ShortcutConfig> shortcuts, FILE* output = stdout,
                             FILE* diagnostics = stderr);
    KeyboardMonitor(const KeyboardMonitor&) = delete;
    KeyboardMonitor& operator=(const KeyboardMonitor&) = delete;
    ~KeyboardMonitor();

    // Installs the first tap the platform grants, announces it and runs the run loop. False
    // when no tap or no run-loop source could be had; true once the run loop returns.
    bool start();

    // One delivered event: the event to pass it on, null to swallow it.
    CGEventRef handle(uint32_t type, CGEventRef event);

  private:
    CGEventRef handleKeyDown(CGEventRef event);
    CGEventRef handleKeyUp(CGEventRef event);
    CGEventRef handleFlagsChanged(CGEventRef event);
    void handleTapDisabled();
    static CGEventRef tapCallback(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                  void* userInfo);

    // Shortcuts are named by their index in `shortcuts`.
    void emitCurrentKeys();
    void emitShortcutIfNeeded(size_t index);
    void emitShortcutReleaseIfNeeded(size_t index);
    // One whole line, its newline included, then a flush.
    void writeLine(std::string_view line);

    // `visit(index)` for each flags-changed shortcut that a release of this key ends.
    template <typename Visit>
    void forEachModifierShortcut(uint16_t keyCode, Visit&& visit) const;
    bool shouldSuppressFnKeyEvent(uint32_t type, CGEventRef event) const;
    bool shouldSuppressSystemDefinedEvent(uint32_t type) const;
    bool isFnWindowOpen() const;
    void markFnSuppressionWindow();
    void writeDebugLine(const std::string& message) const;

    std::vector<ShortcutConfig> shortcuts;
    ShortcutDetector detector;
    bool debugEnabled;
    CFRef<CFMachPortRef> eventTap;
    CFRef<CFRunLoopSourceRef> runLoopSource;
    // What the per-event path needs of each shortcut, in the order of `shortcuts`. Built once:
    // the list never changes and each part is a pure function of its record.
    struct Watched {
        ShortcutTraits traits;
        size_t idSlot;            // the same for every shortcut with the same id
        std::string pressLine;    // "shortcut:" + id + "\n"
        std::string releaseLine;  // "shortcut-up:" + id + "\n"
    };
    std::vector<Watched> watched;
    // Per id slot: whether the id's press line has been printed and its release line has not.
    std::vector<char> activeShortcutIds;
    // The last "keys:" line, its newline included, and the version of the held list it shows;
    // not valid when that list could not be serialized, and then nothing is printed.
    std::string keysLine;
    std::optional<uint64_t> keysLineVersion;
    bool keysLineValid = false;
    double suppressSystemDefinedUntil = 0;
    bool canSuppressEvents = true;
    FILE* output;
    FILE* diagnostics;
};
