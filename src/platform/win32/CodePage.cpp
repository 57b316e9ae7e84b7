#include "platform/CodePage.h"

#include <windows.h>

#include "base/Unicode.h"

namespace zirvo::platform {

std::u16string AnsiToWide(std::string_view text) {
  if (text.empty()) return std::u16string();
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string result(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(result.data()), length);
  return result;
}

std::string WideToAnsi(std::u16string_view text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string result(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), result.data(), length,
                      nullptr, nullptr);
  return result;
}

// The desktop application runs under the same ANSI code page: its bytes are our text.
std::string LegacyBytesToAnsi(std::string_view bytes) { return std::string(bytes); }

std::string AnsiToLegacyBytes(std::string_view text) { return std::string(text); }

std::string PathToText(std::string_view path) {
  const std::u16string wide = Utf8ToUtf16(path);
  if (wide.empty()) return std::string();
  const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
  // No "best fit": a look-alike ("Lodz" for "Łódź") would name another folder.
  const int length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, static_cast<int>(wide.size()),
                          nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, static_cast<int>(wide.size()),
                      result.data(), length, nullptr, nullptr);
  return result;
}

std::string TextToPath(std::string_view text) { return Utf16ToUtf8(AnsiToWide(text)); }

}  // namespace zirvo::platform
