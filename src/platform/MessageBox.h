// Messages for the operator at the command line: message boxes on Windows, the
// standard streams on Linux.
#pragma once

#include <string>

namespace zirvo::platform {

enum class MessageKind { kInformation, kError };

// Shows a modal message with an OK button only and returns once it is dismissed.
// Windows: a message box with the title as caption. Linux: the text and a line end on
// standard output (information) or standard error (error); the title is not shown.
void ShowMessage(const std::string& title, const std::string& text, MessageKind kind);

// Prints one line on standard output and flushes it (the console mode's status lines).
void PrintConsoleLine(const std::string& text);
// The same on standard error (the command-line tools' failures).
void PrintConsoleErrorLine(const std::string& text);

}  // namespace zirvo::platform
