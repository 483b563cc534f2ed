#include "platform/clock.h"

namespace {

// Ticks are nanoseconds on Intel, 125/3 of one on Apple silicon.
uint64_t nanosecondsOf(uint64_t ticks) {
    static const mach_timebase_info_data_t timebase = [] {
        mach_timebase_info_data_t base{1, 1};
        if (mach_timebase_info(&base) != 0 || base.denom == 0) {
            base = {1, 1};
        }
        return base;
    }();
    // Split so that no product of a large count overflows.
    return ticks / timebase.denom * timebase.numer +
           ticks % timebase.denom * timebase.numer / timebase.denom;
}

}  // namespace

uint64_t monotonicNanoseconds() {
    return nanosecondsOf(mach_continuous_time());
}

uint64_t sleptNanoseconds() {
    // Read in this order, the difference never goes below what has been slept.
    const uint64_t awake = mach_absolute_time();
    const uint64_t all = mach_continuous_time();
    return all > awake ? nanosecondsOf(all - awake) : 0;
}
