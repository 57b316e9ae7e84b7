// Conversions between the process's narrow text and the other encodings it meets.
// Narrow text is the ANSI code page on Windows and UTF-8 on Linux. "Legacy bytes" are
// the Windows-1252 bytes the desktop application stores (scrambled values): on Windows
// they are the narrow text itself, on Linux they are converted.
#pragma once

#include <string>
#include <string_view>

namespace zirvo::platform {

std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);

std::string LegacyBytesToAnsi(std::string_view bytes);
std::string AnsiToLegacyBytes(std::string_view text);

// Paths are UTF-8 on both systems: on Windows they reach the system through its wide
// functions, so that a folder named outside the ANSI code page ("C:\Łódź\") is the folder
// meant and not a look-alike. A path shown in a text (log, console, message) becomes
// narrow text, a character the code page lacks shown as '?'; a path read from a text (a
// settings value) is converted from it. Both are the identity on Linux.
std::string PathToText(std::string_view path);
std::string TextToPath(std::string_view text);

}  // namespace zirvo::platform
