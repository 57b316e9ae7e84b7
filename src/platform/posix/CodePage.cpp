#include "platform/CodePage.h"

#include "base/Unicode.h"

namespace zirvo::platform {

std::u16string AnsiToWide(std::string_view text) { return Utf8ToUtf16(text); }

std::string WideToAnsi(std::u16string_view text) { return Utf16ToUtf8(text); }

std::string LegacyBytesToAnsi(std::string_view bytes) { return Cp1252ToUtf8(bytes); }

std::string AnsiToLegacyBytes(std::string_view text) { return Utf8ToCp1252(text); }

std::string PathToText(std::string_view path) { return std::string(path); }

std::string TextToPath(std::string_view text) { return std::string(text); }

}  // namespace zirvo::platform
