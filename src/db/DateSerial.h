// The day-count form of a date-time: days since 30 December 1899 00:00, the time of day
// as the fraction. It is how a date-time travels when it is bound or stored as a number.
#pragma once

#include "base/DateTime.h"

namespace zirvo::db {

// The serial of a local date-time, to the millisecond. Dates before 30 December 1899
// give negative serials counted straight back (-1.25 is 28 December 1899 18:00), not the
// mirrored fractions some desktop tools use.
double DateTimeToSerial(const LocalDateTime& value);

// The local date-time of a serial, rounded to the nearest millisecond. Serials outside
// years 1 to 9999 raise EConvertError.
LocalDateTime SerialToDateTime(double serial);

// How many days SQL Server's reading of a number as a datetime (days since
// 1 January 1900) lies after the serial's own epoch.
inline constexpr double kSqlServerNumberEpochShift = 2.0;

}  // namespace zirvo::db
