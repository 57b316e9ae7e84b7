// Paths as the wide Windows functions take them. The program's paths are UTF-8 (see
// CodePage.h), so that a folder name outside the ANSI code page reaches the system
// unchanged instead of as a look-alike.
#pragma once

#include <string>
#include <string_view>

#include "base/Unicode.h"

namespace zirvo::platform::win32 {

inline std::wstring WidePath(std::string_view path) {
  const std::u16string wide = Utf8ToUtf16(path);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string PathFromWide(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace zirvo::platform::win32
