#include "db/Parameter.h"

#include <utility>

namespace zirvo::db {

void Parameter::SetBoolean(bool value) {
  kind_ = Kind::Boolean;
  boolean_ = value;
}
void Parameter::SetDateTime(const LocalDateTime& value) {
  kind_ = Kind::DateTime;
  dateTime_ = value;
}
void Parameter::SetFloat(double value) {
  kind_ = Kind::Float;
  number_ = value;
}
void Parameter::SetDaySerial(double serial) {
  kind_ = Kind::DaySerial;
  number_ = serial;
}
void Parameter::SetText(std::string value) {
  kind_ = Kind::Text;
  text_ = std::move(value);
}
void Parameter::SetByte(std::uint8_t value) {
  kind_ = Kind::Byte;
  byte_ = value;
}

}  // namespace zirvo::db
