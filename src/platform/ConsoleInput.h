// The operator's input for the command-line tools (the "-scramble" switch).
#pragma once

#include <optional>
#include <string>

namespace zirvo::platform {

// Reads one line of standard input, without its line end, as the characters the
// operator typed. Windows: from a console through its wide input, so that the console's
// own (OEM) code page plays no part; from a pipe or a file as bytes in the ANSI code
// page. Linux: UTF-8 bytes, a malformed sequence giving U+FFFD. Nothing when the input
// ends before a line (also Ctrl-Z at the start of a Windows console line). Main thread.
std::optional<std::u16string> ReadInputLine();

}  // namespace zirvo::platform
