// Local date-times as the service sees them: broken-down local wall-clock time, and the
// text form the regional settings give it.
#pragma once

#include <string>

namespace zirvo {

struct LocalDateTime {
  int year = 1899;
  int month = 12;  // 1 to 12
  int day = 30;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  bool operator==(const LocalDateTime&) const = default;
};

// The short date, one blank and the long time of the regional settings; at the very
// first second of a day (00:00:00, whatever the milliseconds) only the short date.
std::string DateTimeToStr(const LocalDateTime& value);

}  // namespace zirvo
