// The IOKit and HIToolbox subset the programs use, with the platform's names, types and values.
#pragma once

#include "platform/standin/core_foundation_decl.h"

enum IOHIDRequestType : unsigned {
    kIOHIDRequestTypePostEvent,
    kIOHIDRequestTypeListenEvent,
};

enum IOHIDAccessType : unsigned {
    kIOHIDAccessTypeGranted,
    kIOHIDAccessTypeDenied,
    kIOHIDAccessTypeUnknown,
};

extern "C" {

IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType requestType);
Boolean IsSecureEventInputEnabled(void);

}  // extern "C"
