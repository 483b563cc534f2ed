// Text input sources and keyboard layouts: the layout the user has selected and what its keys
// type.
#pragma once

#include "platform/core_foundation.h"

#if defined(__APPLE__)
#include <Carbon/Carbon.h>
#else
#include "platform/standin/keyboard_layout_decl.h"
#endif
