#include "platform/Clock.h"

#include <windows.h>

namespace zirvo::platform {

namespace {

SYSTEMTIME ToSystemTime(const LocalDateTime& value) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(value.year);
  st.wMonth = static_cast<WORD>(value.month);
  st.wDay = static_cast<WORD>(value.day);
  st.wHour = static_cast<WORD>(value.hour);
  st.wMinute = static_cast<WORD>(value.minute);
  st.wSecond = static_cast<WORD>(value.second);
  st.wMilliseconds = static_cast<WORD>(value.millisecond);
  return st;
}

}  // namespace

LocalDateTime LocalNow() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return LocalDateTime{st.wYear,   st.wMonth,  st.wDay,         st.wHour,
                       st.wMinute, st.wSecond, st.wMilliseconds};
}

std::string FormatShortDate(const LocalDateTime& value) {
  const SYSTEMTIME st = ToSystemTime(value);
  char buffer[128];
  const int length =
      GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length - 1)) : std::string();
}

std::string FormatLongTime(const LocalDateTime& value) {
  const SYSTEMTIME st = ToSystemTime(value);
  char buffer[128];
  const int length = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length - 1)) : std::string();
}

}  // namespace zirvo::platform
