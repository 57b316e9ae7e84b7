#include "platform/MessageBox.h"

#include <iostream>

namespace zirvo::platform {

void ShowMessage(const std::string&, const std::string& text, MessageKind kind) {
  std::ostream& stream = kind == MessageKind::kError ? std::cerr : std::cout;
  stream << text << std::endl;
}

void PrintConsoleLine(const std::string& text) { std::cout << text << std::endl; }

void PrintConsoleErrorLine(const std::string& text) { std::cerr << text << std::endl; }

}  // namespace zirvo::platform
