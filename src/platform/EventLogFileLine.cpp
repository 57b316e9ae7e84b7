#include "platform/EventLog.h"

namespace zirvo::platform {

std::string EventLogFileLine(const std::string& source, const std::string& text) {
  std::string line = source + ": ";
  for (char c : text) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\n':
        line += "\\n";
        break;
      default:
        line += c;
    }
  }
  line += '\n';
  return line;
}

}  // namespace zirvo::platform
