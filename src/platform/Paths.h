// Path helpers that follow the OS's directory separator.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zirvo {

// The directory part of a path with its trailing separator ("" when there is none).
std::string ExtractFilePath(std::string_view path);

// "" when the path is blank once blanks and control characters are trimmed; the path
// unchanged when it already ends with the separator; otherwise the path followed by one
// separator.
std::string AddTrailingBackslash(std::string_view path);

// The standard library's path for one of the program's paths (UTF-8 on both systems):
// from a plain string the Windows library would read the ANSI code page.
std::filesystem::path FileSystemPath(std::string_view path);
// The program's path (UTF-8) of a standard library path.
std::string PathString(const std::filesystem::path& path);

}  // namespace zirvo
