// Small text helpers with the exact rules the settings files and log rely on. Texts are
// byte strings in the system's narrow encoding; case rules apply to ASCII letters only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zirvo {

// Removes leading and trailing blanks and control characters (codes 0 to 32).
std::string_view TrimControl(std::string_view text);
// Removes leading and trailing blanks and tabs only.
std::string_view TrimBlanks(std::string_view text);

// Text received from outside (status lines, reply lines) as it may appear in the log:
// every control byte (codes 0 to 31 and 127) becomes "\xNN" with upper-case hexadecimal
// digits, so a peer cannot break a log line, forge one or send terminal sequences.
// Other bytes, multi-byte characters included, are kept.
std::string EscapeControlBytes(std::string_view text);

std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

// Reads a 32-bit integer: decimal with an optional sign, or hexadecimal after "$" or
// "0x"/"0X" (also after a sign). Hexadecimal takes up to 32 bits and wraps into the
// signed range. Anything else, an empty text or a decimal out of range gives nothing.
std::optional<std::int32_t> TryStrToInt(std::string_view text);
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

// Replaces the extension of the file-name part of a path (the directory part is left
// alone); adds the extension when the name has none.
std::string ChangeFileExt(std::string_view path, std::string_view extension);

}  // namespace zirvo
