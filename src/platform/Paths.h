// Path helpers that follow the OS's directory separator.
#pragma once

#include <string>
#include <string_view>

namespace zirvo {

// The directory part of a path with its trailing separator ("" when there is none).
std::string ExtractFilePath(std::string_view path);

// "" when the path is blank once blanks and control characters are trimmed; the path
// unchanged when it already ends with the separator; otherwise the path followed by one
// separator.
std::string AddTrailingBackslash(std::string_view path);

}  // namespace zirvo
