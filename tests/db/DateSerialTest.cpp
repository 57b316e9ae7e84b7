#include "db/DateSerial.h"

#include <gtest/gtest.h>

#include "base/Errors.h"

namespace zirvo::db {
namespace {

TEST(DateSerial, KnownDatesTimesAndRoundTrips) {
  EXPECT_EQ(DateTimeToSerial({1899, 12, 30}), 0.0);
  EXPECT_EQ(DateTimeToSerial({1900, 1, 1}), 2.0);
  EXPECT_EQ(DateTimeToSerial({2000, 1, 1}), 36526.0);
  EXPECT_EQ(DateTimeToSerial({2025, 1, 1}), 45658.0);
  // 365 days before 1 January 2025 is 2 January 2024: 2024 is a leap year.
  EXPECT_EQ(SerialToDateTime(DateTimeToSerial({2025, 1, 1}) - 365.0), (LocalDateTime{2024, 1, 2}));
  EXPECT_DOUBLE_EQ(DateTimeToSerial({2025, 3, 15, 18, 0, 0}), 45731.75);
  EXPECT_EQ(SerialToDateTime(-1.25), (LocalDateTime{1899, 12, 28, 18, 0, 0, 0}));
  for (const LocalDateTime value :
       {LocalDateTime{2025, 3, 15, 10, 20, 30, 250}, LocalDateTime{2024, 2, 29, 23, 59, 59, 999},
        LocalDateTime{1, 1, 1}, LocalDateTime{9999, 12, 31, 23, 59, 59, 999}}) {
    EXPECT_EQ(SerialToDateTime(DateTimeToSerial(value)), value);
  }
  EXPECT_THROW(SerialToDateTime(1e12), EConvertError);
  EXPECT_THROW(SerialToDateTime(-1e9), EConvertError);
}

}  // namespace
}  // namespace zirvo::db
