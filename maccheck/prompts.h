// What maccheck tells the person at the Mac, on standard error.
#pragma once

// Before its own Shift press: a key typed meanwhile would be counted with it, and Shift alone
// types nothing into the application in front.
inline constexpr const char* postedShiftNotice =
    "maccheck: do not type for a second: it presses and releases Shift itself\n";
