#include "db/DateSerial.h"

#include <cmath>
#include <cstdint>

#include "base/Errors.h"

namespace zirvo::db {

namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

// Days from 1 January 1970 for a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2));
}

const std::int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

}  // namespace

double DateTimeToSerial(const LocalDateTime& value) {
  const std::int64_t days = DaysFromCivil(value.year, static_cast<unsigned>(value.month),
                                          static_cast<unsigned>(value.day)) -
                            kEpochDays;
  const std::int64_t milliseconds =
      ((value.hour * 60LL + value.minute) * 60LL + value.second) * 1000LL + value.millisecond;
  return static_cast<double>(days) +
         static_cast<double>(milliseconds) / static_cast<double>(kMillisecondsPerDay);
}

LocalDateTime SerialToDateTime(double serial) {
  // 1 January of year 1 and 31 December 9999, as serials.
  if (!std::isfinite(serial) || serial < -693593.0 || serial >= 2958466.0) {
    throw EConvertError("Valeur de date-heure hors limites : " + std::to_string(serial));
  }
  std::int64_t total = std::llround(serial * static_cast<double>(kMillisecondsPerDay));
  std::int64_t days = total / kMillisecondsPerDay;
  std::int64_t milliseconds = total % kMillisecondsPerDay;
  if (milliseconds < 0) {
    milliseconds += kMillisecondsPerDay;
    --days;
  }
  LocalDateTime result;
  CivilFromDays(days + kEpochDays, result.year, result.month, result.day);
  result.millisecond = static_cast<int>(milliseconds % 1000);
  const std::int64_t seconds = milliseconds / 1000;
  result.second = static_cast<int>(seconds % 60);
  result.minute = static_cast<int>(seconds / 60 % 60);
  result.hour = static_cast<int>(seconds / 3600);
  return result;
}

}  // namespace zirvo::db
