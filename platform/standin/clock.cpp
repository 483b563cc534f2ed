// The two clocks of the world: the wall clock, which the scenario may step either way, and
// Mach's continuous time, which only goes forward.
#include "platform/clock.h"
#include "platform/core_foundation.h"
#include "platform/standin/world.h"

extern "C" {

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
    return standin::world().clock;
}

// Apple silicon's timebase (a tick is 125/3 ns), so that a conversion the wrong way round shows.
constexpr mach_timebase_info_data_t timebase{125, 3};

kern_return_t mach_timebase_info(mach_timebase_info_t info) {
    *info = timebase;
    return 0;
}

uint64_t mach_continuous_time(void) {
    const uint64_t nanoseconds = standin::world().monotonic;
    return nanoseconds / timebase.numer * timebase.denom +
           nanoseconds % timebase.numer * timebase.denom / timebase.numer;
}

}  // extern "C"
