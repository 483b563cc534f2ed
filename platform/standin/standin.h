// What unit tests may ask of the stand-in platform directly, in process.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/keyboard_events.h"

namespace standin {

// Replaces the world with the one this scenario describes (JSON text, as in the scenario
// file); throws std::runtime_error when it is malformed.
void loadScenario(std::string_view scenarioJson);

// Moves the virtual clocks forward: the wall clock and both of Mach's.
void advanceClock(double seconds);

// Moves the wall clock alone, forward or back, as a time synchronisation does.
void stepWallClock(double seconds);

// Platform objects alive now, constants excluded.
long liveObjects();

// Accessibility requests made so far (attribute copies and settable tests), in any world.
long accessibilityRequests();

// A new keyboard event of any type with a raw key code field (also one outside 0..65535), as
// the keyboard makes it (source process 0) or as a process posts it, with its source's user data.
CGEventRef createEvent(CGEventType type, int64_t keyCode, CGEventFlags flags, int64_t sourcePid = 0,
                       int64_t userData = 0);

}  // namespace standin
