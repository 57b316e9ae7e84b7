// The local wall clock and the regional date and time formats.
// Linux: the formats of the LC_TIME locale the environment selects (LC_ALL, LC_TIME,
// LANG), read once per process. Windows: the user's regional settings.
// All functions may be called from any thread.
#pragma once

#include <string>

#include "base/DateTime.h"

namespace zirvo::platform {

// The current local date and time, to the millisecond. Raises EOSError only when the
// system cannot express the time in the local calendar.
LocalDateTime LocalNow();
std::string FormatShortDate(const LocalDateTime& value);
std::string FormatLongTime(const LocalDateTime& value);

}  // namespace zirvo::platform
