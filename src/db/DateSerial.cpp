#include "db/DateSerial.h"

#include <cmath>
#include <cstdint>

#include "base/CivilDate.h"
#include "base/Errors.h"

namespace zirvo::db {

namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

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
