// Accessibility services: trust, elements, attribute reads and value unpacking.
#pragma once

#include "platform/core_foundation.h"

#if defined(__APPLE__)
#include <ApplicationServices/ApplicationServices.h>
#else
#include "platform/standin/accessibility_decl.h"
#endif
