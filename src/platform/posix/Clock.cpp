#include "platform/Clock.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cerrno>

#include "platform/SystemError.h"
#include "platform/posix/RegionalLocale.h"

namespace zirvo::platform {

namespace {

struct TimeConventions {
  locale_t locale;
  const char* shortDate;
  const char* longTime;
};

// The date and time formats of the environment's LC_TIME, worked out once. Under the C
// conventions, and when the named locale is not installed, the French ones: day, month,
// four-digit year and 24-hour time, so that the log always gets a date its readers take
// the right way and gateway dates are read day first.
const TimeConventions& Conventions() {
  static const TimeConventions conventions = []() -> TimeConventions {
    if (const locale_t made = posix::EnvironmentLocale(LC_ALL_MASK, "LC_TIME")) {
      return {made, nl_langinfo_l(D_FMT, made), nl_langinfo_l(T_FMT, made)};
    }
    return {newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0)), "%d/%m/%Y", "%H:%M:%S"};
  }();
  return conventions;
}

std::string Format(const LocalDateTime& value, const char* format) {
  struct tm parts {};
  parts.tm_year = value.year - 1900;
  parts.tm_mon = value.month - 1;
  parts.tm_mday = value.day;
  parts.tm_hour = value.hour;
  parts.tm_min = value.minute;
  parts.tm_sec = value.second;
  parts.tm_isdst = -1;
  char buffer[128];
  const size_t length = strftime_l(buffer, sizeof buffer, format, &parts, Conventions().locale);
  return std::string(buffer, length);
}

}  // namespace

LocalDateTime LocalNow() {
  struct timespec now {};
  // The real-time clock cannot fail on Linux; should it, the clock of whole seconds
  // stands in.
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
    now.tv_sec = time(nullptr);
    now.tv_nsec = 0;
  }
  struct tm parts {};
  // Only a time beyond the calendar's range fails here; a made-up date would be worse
  // than an error.
  if (localtime_r(&now.tv_sec, &parts) == nullptr) {
    throw EOSError(static_cast<std::uint32_t>(errno != 0 ? errno : EOVERFLOW));
  }
  return LocalDateTime{parts.tm_year + 1900,
                       parts.tm_mon + 1,
                       parts.tm_mday,
                       parts.tm_hour,
                       parts.tm_min,
                       parts.tm_sec,
                       static_cast<int>(now.tv_nsec / 1000000)};
}

std::string FormatShortDate(const LocalDateTime& value) {
  return Format(value, Conventions().shortDate);
}

std::string FormatLongTime(const LocalDateTime& value) {
  return Format(value, Conventions().longTime);
}

}  // namespace zirvo::platform
