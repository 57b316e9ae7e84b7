#include "platform/Clock.h"

namespace zirvo {

std::string DateTimeToStr(const LocalDateTime& value) {
  std::string text = platform::FormatShortDate(value);
  if (value.hour != 0 || value.minute != 0 || value.second != 0) {
    text += ' ';
    text += platform::FormatLongTime(value);
  }
  return text;
}

}  // namespace zirvo
