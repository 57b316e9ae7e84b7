// Conversions between the encodings the service meets: UTF-8 (narrow text on Linux),
// UTF-16 (connection strings and the SQL Server login) and Windows-1252 (the bytes the
// desktop application and the gateway produce). Pure functions, usable on any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zirvo {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Malformed sequences become U+FFFD, one per offending byte.
std::u32string DecodeUtf8(std::string_view text);
// Code points outside Unicode or in the surrogate range become U+FFFD.
std::string EncodeUtf8(std::u32string_view codePoints);

std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Every byte maps to a character; the five bytes Windows-1252 leaves undefined map to
// the C1 control of the same value, so that any byte string survives a round trip.
std::string Cp1252ToUtf8(std::string_view bytes);
// Characters Windows-1252 cannot hold become '?'.
std::string Utf8ToCp1252(std::string_view text);

// The Windows-1252 bytes of the code points (the five undefined bytes stand for the C1
// controls of the same value), or nothing when a code point has no byte there; `refused`
// is then the first such code point.
std::optional<std::string> EncodeCp1252(std::u32string_view codePoints, char32_t& refused);

// Latin-1 bytes are the first 256 code points.
std::string Latin1ToUtf8(std::string_view bytes);

}  // namespace zirvo
