// Mach's clocks, the subset the programs use, with the platform's names and types.
#pragma once

#include <cstdint>

using kern_return_t = int;

struct mach_timebase_info {
    uint32_t numer;
    uint32_t denom;
};
using mach_timebase_info_t = struct mach_timebase_info*;
using mach_timebase_info_data_t = struct mach_timebase_info;

extern "C" {

kern_return_t mach_timebase_info(mach_timebase_info_t info);
// Ticks since an arbitrary start, going on while the machine sleeps; never goes back.
uint64_t mach_continuous_time(void);
// Ticks since the same start, standing still while the machine sleeps.
uint64_t mach_absolute_time(void);

}  // extern "C"
