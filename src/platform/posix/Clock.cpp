#include "platform/Clock.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cerrno>

#include "base/Errors.h"

namespace zirvo::platform {

namespace {

// The locale the environment asks for, made once. A locale that is not installed falls
// back to "C" rather than failing: the log must always get a date.
locale_t EnvironmentLocale() {
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (made == static_cast<locale_t>(0)) {
      made = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    }
    return made;
  }();
  return locale;
}

std::string Format(const LocalDateTime& value, nl_item formatItem) {
  struct tm parts {};
  parts.tm_year = value.year - 1900;
  parts.tm_mon = value.month - 1;
  parts.tm_mday = value.day;
  parts.tm_hour = value.hour;
  parts.tm_min = value.minute;
  parts.tm_sec = value.second;
  parts.tm_isdst = -1;
  const locale_t locale = EnvironmentLocale();
  const char* format = nl_langinfo_l(formatItem, locale);
  char buffer[128];
  const size_t length = strftime_l(buffer, sizeof buffer, format, &parts, locale);
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
  return LocalDateTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                       parts.tm_min,         parts.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

std::string FormatShortDate(const LocalDateTime& value) { return Format(value, D_FMT); }

std::string FormatLongTime(const LocalDateTime& value) { return Format(value, T_FMT); }

}  // namespace zirvo::platform
