// CoreFoundation: types, reference counting, strings, arrays, the clock and the run loop.
#pragma once

#if defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#else
#include "platform/standin/core_foundation_decl.h"
#endif
