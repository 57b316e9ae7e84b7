// Small text helpers with the exact rules the settings files and log rely on. Texts are
// byte strings in the system's narrow encoding, or UTF-16 where the type says so; case
// rules apply to ASCII letters only, so no locale can change them.
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
std::u16string_view TrimBlanks(std::u16string_view text);

// Text received from outside (status lines, reply lines) as it may appear in the log:
// every control byte (codes 0 to 31 and 127) becomes "\xNN" with upper-case hexadecimal
// digits, so a peer cannot break a log line, forge one or send terminal sequences.
// Other bytes, multi-byte characters included, are kept.
std::string EscapeControlBytes(std::string_view text);

char AsciiUpper(char c);
char AsciiLower(char c);
char16_t AsciiLower(char16_t c);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

// A connection string as a log line may show it: up to and including the first
// "Password=" (found without regard to ASCII case) and at most `shownCharacters`
// characters of the password after it, enough to tell which password was tried.
// `hasPassword` is false, and the whole string is shown, when there is no such key. Every
// log line that shows a connection string goes through this one rule.
struct MaskedConnectionString {
  std::u16string shown;
  bool hasPassword = false;
};
MaskedConnectionString MaskPassword(std::u16string_view connectionString,
                                    std::size_t shownCharacters);

// Reads a 32-bit integer: decimal with an optional sign, or hexadecimal after "$" or
// "0x"/"0X" (also after a sign). Hexadecimal takes up to 32 bits and wraps into the
// signed range. Anything else, an empty text or a decimal out of range gives nothing.
std::optional<std::int32_t> TryStrToInt(std::string_view text);
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

// Replaces the extension of the file-name part of a path (the directory part is left
// alone); adds the extension when the name has none.
std::string ChangeFileExt(std::string_view path, std::string_view extension);

}  // namespace zirvo
