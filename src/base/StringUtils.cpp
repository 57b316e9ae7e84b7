#include "base/StringUtils.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace zirvo {

namespace {

template <typename Pred>
std::string_view TrimIf(std::string_view text, Pred isTrimmed) {
  while (!text.empty() && isTrimmed(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isTrimmed(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiUpper(c);
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(d);
    if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint64_t> ParseDecimal(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > (std::uint64_t{1} << 32)) return std::nullopt;
  }
  return value;
}

}  // namespace

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::string_view TrimControl(std::string_view text) {
  return TrimIf(text, [](unsigned char c) { return c <= 32; });
}

std::string_view TrimBlanks(std::string_view text) {
  return TrimIf(text, [](unsigned char c) { return c == ' ' || c == '\t'; });
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

std::string EscapeControlBytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      result += "\\x";
      result += kHex[byte >> 4];
      result += kHex[byte & 15];
    } else {
      result += c;
    }
  }
  return result;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

MaskedConnectionString MaskPassword(std::u16string_view connectionString,
                                    std::size_t shownCharacters) {
  constexpr std::u16string_view kKey = u"password=";
  std::u16string folded(connectionString);
  for (char16_t& c : folded) c = AsciiLower(c);
  const std::size_t key = folded.find(kKey);
  if (key == std::u16string::npos) return {std::u16string(connectionString), false};
  return {std::u16string(connectionString.substr(0, key + kKey.size() + shownCharacters)), true};
}

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (!text.empty() && text.front() == '$') {
    auto hex = ParseHex(text.substr(1));
    if (!hex) return std::nullopt;
    std::uint32_t bits = negative ? (0u - *hex) : *hex;
    return static_cast<std::int32_t>(bits);
  }
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    auto hex = ParseHex(text.substr(2));
    if (!hex) return std::nullopt;
    std::uint32_t bits = negative ? (0u - *hex) : *hex;
    return static_cast<std::int32_t>(bits);
  }
  auto magnitude = ParseDecimal(text);
  if (!magnitude) return std::nullopt;
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 31 : std::uint64_t{std::numeric_limits<std::int32_t>::max()};
  if (*magnitude > limit) return std::nullopt;
  std::int64_t value =
      negative ? -static_cast<std::int64_t>(*magnitude) : static_cast<std::int64_t>(*magnitude);
  return static_cast<std::int32_t>(value);
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  return TryStrToInt(text).value_or(fallback);
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  const auto nameStart = path.find_last_of("/\\:");
  const auto dot = path.rfind('.');
  const bool dotInName =
      dot != std::string_view::npos && (nameStart == std::string_view::npos || dot > nameStart);
  std::string result(dotInName ? path.substr(0, dot) : path);
  result += extension;
  return result;
}

}  // namespace zirvo
