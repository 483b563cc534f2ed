#include "platform/system.h"

#include "platform/standin/world.h"

SystemVersion systemVersion() {
    const auto& scenario = standin::world().scenario;
    return {scenario.osVersion, scenario.architecture, scenario.translated};
}

extern "C" {

IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType requestType) {
    const auto& scenario = standin::world().scenario;
    // Only listening is modelled; the suite posts through CoreGraphics, not IOHIDPostEvent.
    const IOHIDAccessType access = requestType == kIOHIDRequestTypeListenEvent
                                       ? scenario.hidListenAccess
                                       : kIOHIDAccessTypeUnknown;
    standin::log({{"op", "IOHIDCheckAccess"}, {"requestType", requestType}, {"result", access}});
    return access;
}

Boolean IsSecureEventInputEnabled(void) {
    const bool enabled = standin::world().scenario.secureEventInput;
    standin::log({{"op", "IsSecureEventInputEnabled"}, {"result", enabled}});
    return enabled;
}

}  // extern "C"
