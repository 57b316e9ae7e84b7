// Local date-times as the service sees them: broken-down local wall-clock time. Their
// text form follows the regional settings, which only the platform knows
// (DateTimeToStr, platform/Clock.h).
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

}  // namespace zirvo
