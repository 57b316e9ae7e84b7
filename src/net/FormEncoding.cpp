#include "net/FormEncoding.h"

#include "base/StringUtils.h"
#include "base/Unicode.h"
#include "platform/CodePage.h"

namespace zirvo::net {

namespace {

constexpr std::string_view kUnreserved =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*-._";

void AppendPercentBytes(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
}

std::string EncodeFormLine(std::string_view line) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return EncodeFormText(line);
  return EncodeFormText(line.substr(0, equals)) + "=" + EncodeFormText(line.substr(equals + 1));
}

}  // namespace

std::string EncodeFormText(std::string_view text) {
  const std::u16string wide = platform::AnsiToWide(text);
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    if (unit == u' ') {
      out += '+';
      continue;
    }
    if (unit < 0x80 && kUnreserved.find(static_cast<char>(unit)) != std::string_view::npos) {
      out += static_cast<char>(unit);
      continue;
    }
    char32_t codePoint = unit;
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      codePoint = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                  (static_cast<char32_t>(wide[i + 1]) - 0xDC00);
      ++i;
    } else if (high || low) {
      out += "&#" + std::to_string(static_cast<unsigned>(unit)) + ";";
      continue;
    }
    AppendPercentBytes(out, EncodeUtf8(std::u32string_view(&codePoint, 1)));
  }
  return out;
}

std::string EncodeFormFields(const std::vector<std::string>& lines) {
  if (lines.size() < 2) {
    return lines.empty() ? std::string() : std::string(TrimControl(EncodeFormLine(lines[0])));
  }
  std::string joined;
  for (const auto& line : lines) joined += EncodeFormLine(line) + "\r\n";
  const std::string_view trimmed = TrimControl(joined);
  std::string result;
  result.reserve(trimmed.size());
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    if (trimmed[i] == '\r' && i + 1 < trimmed.size() && trimmed[i + 1] == '\n') {
      result += '&';
      ++i;
    } else {
      result += trimmed[i];
    }
  }
  return result;
}

}  // namespace zirvo::net
