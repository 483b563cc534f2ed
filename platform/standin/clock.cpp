// The three clocks of the world: the wall clock, which the scenario may step either way, Mach's
// continuous time, which only goes forward, and Mach's absolute time, which also stands still
// while the machine sleeps.
#include "platform/clock.h"
#include "platform/core_foundation.h"
#include "platform/standin/world.h"

namespace {

// Apple silicon's timebase (a tick is 125/3 ns), so that a conversion the wrong way round shows.
constexpr mach_timebase_info_data_t timebase{125, 3};

uint64_t ticksOf(uint64_t nanoseconds) {
    return nanoseconds / timebase.numer * timebase.denom +
           nanoseconds % timebase.numer * timebase.denom / timebase.numer;
}

}  // namespace

extern "C" {

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
    return standin::world().clock;
}

kern_return_t mach_timebase_info(mach_timebase_info_t info) {
    *info = timebase;
    return 0;
}

uint64_t mach_continuous_time(void) {
    return ticksOf(standin::world().monotonic);
}

uint64_t mach_absolute_time(void) {
    return ticksOf(standin::world().absolute);
}

}  // extern "C"
