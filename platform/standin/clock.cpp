// The two clocks of the world: the wall clock, which the scenario may step either way, and
// Mach's continuous time, which only goes forward.
#include "platform/clock.h"
#include "platform/core_foundation.h"
#include "platform/standin/world.h"

extern "C" {

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
    return standin::world().clock;
}

kern_return_t mach_timebase_info(mach_timebase_info_t info) {
    *info = {1, 1};
    return 0;
}

uint64_t mach_continuous_time(void) {
    return standin::world().monotonic;
}

}  // extern "C"
