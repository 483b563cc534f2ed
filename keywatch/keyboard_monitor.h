// Owns the event tap and handles every event it delivers: keeps the detector informed, prints
// the key-state and shortcut lines, and runs the Fn suppression window.
//
// Lifetime: once start() has installed the tap, the run loop holds its source, and the platform
// calls the monitor through a plain pointer it does not own. A started monitor therefore lives
// as long as the process (main never destroys it). Should one be destroyed anyway, on the
// run-loop thread, its destructor first takes the source out of the run loop and disables and
// invalidates the tap, so the platform has no way left to call the freed object.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keywatch/line_output.h"
#include "keywatch/shortcut_config.h"
#include "keywatch/shortcut_detector.h"
#include "platform/cf_ref.h"
#include "platform/keyboard_events.h"

class KeyboardMonitor {
  public:
    static constexpr uint32_t systemDefinedEventRawValue = 14;
    static constexpr double fnSuppressionWindowSeconds = 0.55;
    static constexpr auto fnSuppressionWindowNanoseconds =
        static_cast<uint64_t>(fnSuppressionWindowSeconds * 1e9);
    static constexpr CGEventMask eventMask = 0x5C00;
    // Lines that may wait for a host that stopped reading; past this, the tap is given up
    // (a host that reads nothing for minutes): neither memory nor the keyboard is held.
    static constexpr size_t maxWaitingOutputBytes = 16 << 20;
    // Debug lines and messages past this are dropped while nobody reads them.
    static constexpr size_t maxWaitingDiagnosticBytes = 1 << 20;
    // The watch on the tap: how often, how late it may come, and how many ticks in a row may
    // find the tap disabled before keywatch gives up on it.
    static constexpr double watchIntervalSeconds = 2.0;
    static constexpr double watchToleranceSeconds = 0.5;
    static constexpr int maxDisabledTicks = 3;
    // A sleep longer than this between two events may have hidden releases from the tap.
    static constexpr uint64_t sleepGapNanoseconds = 1000000000;

    // Lines go to `output`; messages and debug lines to `diagnostics`. Neither ever blocks an
    // event: what a descriptor cannot take at once waits for the run loop.
    explicit KeyboardMonitor(std::vector<ShortcutConfig> shortcuts, int output = STDOUT_FILENO,
                             int diagnostics = STDERR_FILENO);
    KeyboardMonitor(const KeyboardMonitor&) = delete;
    KeyboardMonitor& operator=(const KeyboardMonitor&) = delete;
    ~KeyboardMonitor();

    // Installs the first tap the platform grants, announces it and runs the run loop. False
    // when no tap or no run-loop source could be had, when the tap was given up because the
    // host stopped reading, or when the tap died (invalidated, or not to be re-enabled); true
    // once the run loop returns.
    bool start();

    // One delivered event: the event to pass it on, null to swallow it.
    CGEventRef handle(uint32_t type, CGEventRef event);

    // With debugging on, one debug line each for what the configuration did not use.
    void logConfigurationNotes(const std::vector<std::string>& notes);

  private:
    CGEventRef dispatch(uint32_t type, CGEventRef event);
    CGEventRef handleKeyDown(CGEventRef event);
    CGEventRef handleKeyUp(CGEventRef event);
    CGEventRef handleFlagsChanged(CGEventRef event);
    void handleTapDisabled();
    // Why the run ends before the run loop returns by itself.
    enum class Ending { none, hostStoppedReading, tapInvalidated, tapNotReEnabled };
    void end(Ending why);
    // The repeating watch: a tap that stopped without a word, releases the tap missed.
    void tick();
    static void tickCallback(CFRunLoopTimerRef timer, void* info);
    static void tapInvalidatedCallback(CFMachPortRef port, void* info);
    // The lines an event or a tick produced leave; a host that has read nothing for too long
    // loses the tap.
    void sendWaiting();
    // A sleep since the last look counts as a gap.
    void noteSleep();
    // Held modifiers whose release the tap may have missed, before an event is handled: those
    // the HID system confirmed and now reports up; after a gap, at the keyboard's own first
    // event, also those it never confirmed that the event's side bits say are up.
    void releaseModifiersMissed(CGEventRef event, uint16_t ownKey);
    // Asks the HID system about each held modifier: confirms it, or releases a confirmed one
    // it reports up.
    void askHidSystemAboutHeldModifiers();
    void confirmIfDown(uint16_t keyCode);
    bool isConfirmed(uint16_t keyCode) const;
    void releaseModifier(uint16_t keyCode, CGEventFlags flags);
    // Whether the flags-changed event of this key is held back, by the shortcuts active now.
    bool shouldSuppressFlagsChanged(uint16_t keyCode, CGEventFlags flags) const;
    // The tap stops and the run loop returns: the host has not read for too long.
    void giveUpTap();
    // The tap leaves the run loop for good, outside its callback.
    void tearDownTap();
    static CGEventRef tapCallback(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                  void* userInfo);

    // Shortcuts are named by their index in `shortcuts`.
    void emitCurrentKeys();
    void emitShortcutIfNeeded(size_t index);
    void emitShortcutReleaseIfNeeded(size_t index);
    // One whole line, its newline included; it leaves when the event's handling ends.
    void writeLine(std::string_view line, bool isKeys = false);

    // `visit(index)` for each flags-changed shortcut that a release of this key ends.
    template <typename Visit>
    void forEachModifierShortcut(uint16_t keyCode, Visit&& visit) const;
    bool shouldSuppressFnKeyEvent(uint32_t type, CGEventRef event) const;
    bool shouldSuppressSystemDefinedEvent(uint32_t type) const;
    bool isFnWindowOpen() const;
    void markFnSuppressionWindow();
    void writeDebugLine(const std::string& message);
    // A message that ends keywatch: written whole, waiting for the reader, after what waits.
    void writeMessageNow(std::string_view message);

    std::vector<ShortcutConfig> shortcuts;
    ShortcutDetector detector;
    bool debugEnabled;
    CFRef<CFMachPortRef> eventTap;
    CFRef<CFRunLoopSourceRef> runLoopSource;
    CFRef<CFRunLoopTimerRef> watchTimer;
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
    // End of the Fn window, on the monotonic clock, in nanoseconds.
    uint64_t suppressSystemDefinedUntil = 0;
    bool canSuppressEvents = true;
    Ending ending = Ending::none;
    // Held modifier keys the HID system has reported down since their press: only these may it
    // release, so a Mac where it answers nothing useful never ends a shortcut early.
    std::vector<uint16_t> confirmedModifiers;
    // A gap (a disabled tap, a sleep) was seen: releases may have been missed.
    bool afterGap = false;
    uint64_t sleptAtLastLook = 0;
    int disabledTicks = 0;
    LineOutput lines;
    LineOutput diagnostics;
};
