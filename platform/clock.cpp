#include "platform/clock.h"

uint64_t monotonicNanoseconds() {
    // Ticks are nanoseconds on Intel, 125/3 of one on Apple silicon.
    static const mach_timebase_info_data_t timebase = [] {
        mach_timebase_info_data_t base{1, 1};
        if (mach_timebase_info(&base) != 0 || base.denom == 0) {
            base = {1, 1};
        }
        return base;
    }();
    // Split so that no product of a large count overflows.
    const uint64_t ticks = mach_continuous_time();
    return ticks / timebase.denom * timebase.numer +
           ticks % timebase.denom * timebase.numer / timebase.denom;
}
