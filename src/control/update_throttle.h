// When a check for updates of an installed product is due.
#pragma once

#include <windows.h>

#include "packed_version.h"

namespace orvex {

// Due when now is not before nextUpdateTime (high halves signed, low halves
// unsigned), or when the user holds Shift. A missing value reads as 0: due.
constexpr bool IsUpdateCheckDue(const FILETIME& now, const FILETIME& nextUpdateTime, bool shiftHeld) {
  return shiftHeld || CompareSplit64(now.dwHighDateTime, now.dwLowDateTime,
                                     nextUpdateTime.dwHighDateTime, nextUpdateTime.dwLowDateTime) >= 0;
}

}  // namespace orvex
