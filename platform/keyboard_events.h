// CoreGraphics keyboard event services: event taps, event fields, posted keyboard events.
#pragma once

#include "platform/core_foundation.h"

#if defined(__APPLE__)
#include <ApplicationServices/ApplicationServices.h>
#else
#include "platform/standin/keyboard_events_decl.h"
#endif
