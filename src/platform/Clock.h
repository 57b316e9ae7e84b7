// The local wall clock and the regional date and time formats.
// Linux: the formats of the LC_TIME locale the environment selects (LC_ALL, LC_TIME,
// LANG), read once per process; the French ones (day/month/year, 24-hour time) where
// that is the C locale, as for a daemon started by systemd. Windows: the user's
// regional settings.
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

namespace zirvo {

// The short date, one blank and the long time of the regional settings; at the very
// first second of a day (00:00:00, whatever the milliseconds) only the short date.
std::string DateTimeToStr(const LocalDateTime& value);

}  // namespace zirvo
