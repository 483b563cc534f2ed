// A clock that only goes forward, for intervals. The wall clock (CFAbsoluteTimeGetCurrent) may
// step back or forth when the time is synchronised or changed by the user.
#pragma once

#include <cstdint>

#if defined(__APPLE__)
#include <mach/mach_time.h>
#else
#include "platform/standin/clock_decl.h"
#endif

// Nanoseconds since an arbitrary start, sleep included: a key held before the machine slept is
// as old as the sleep was long.
uint64_t monotonicNanoseconds();

// Nanoseconds the machine has slept since it started: the first clock less the one that stands
// still during sleep.
uint64_t sleptNanoseconds();
