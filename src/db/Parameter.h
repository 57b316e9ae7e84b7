#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "base/DateTime.h"

namespace zirvo::db {

// The value of one named parameter. Its kind fixes the ODBC type it is bound with.
class Parameter {
 public:
  enum class Kind { Unset, Null, Boolean, DateTime, Float, DaySerial, Text, Byte };

  explicit Parameter(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  Kind ValueKind() const { return kind_; }

  void SetNull() { kind_ = Kind::Null; }
  void SetBoolean(bool value);
  void SetDateTime(const LocalDateTime& value);  // bound as a timestamp, to the millisecond
  void SetFloat(double value);                   // bound as a double everywhere
  // A date-time as its day-count serial, bound as a double on SQL Server, which reads a
  // number compared with a datetime as days since 1 January 1900; every other server
  // gets the timestamp SQL Server would have made of it (the serial's date two days
  // later), so a date window selects the same rows on every backend.
  void SetDaySerial(double serial);
  void SetText(std::string value);  // narrow text, bound as UTF-16
  void SetByte(std::uint8_t value);

  bool BooleanValue() const { return boolean_; }
  const LocalDateTime& DateTimeValue() const { return dateTime_; }
  double FloatValue() const { return number_; }
  const std::string& TextValue() const { return text_; }
  std::uint8_t ByteValue() const { return byte_; }

 private:
  std::string name_;
  Kind kind_ = Kind::Unset;
  bool boolean_ = false;
  LocalDateTime dateTime_;
  double number_ = 0;
  std::string text_;
  std::uint8_t byte_ = 0;
};

}  // namespace zirvo::db
