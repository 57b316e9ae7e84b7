// Reading back what the diagnostic log holds.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace zirvo::test {

// The messages of a log file, without their date and time.
inline std::vector<std::string> LogMessages(const std::string& path) {
  std::vector<std::string> messages;
  std::istringstream lines(ReadFileBytes(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto separator = line.find(" : ");
    messages.push_back(separator == std::string::npos ? line : line.substr(separator + 3));
  }
  return messages;
}

}  // namespace zirvo::test
