#include "config/IniDocument.h"

#include <algorithm>

#include "base/StringUtils.h"
#include "base/Unicode.h"
#include "platform/CodePage.h"

namespace zirvo::config {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// What the Windows functions trim around names and values: blanks, the controls 0x09 to
// 0x0D and the end-of-file mark 0x1A that old editors leave behind.
std::string_view TrimProfileBlanks(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsComment(std::string_view trimmed) { return !trimmed.empty() && trimmed.front() == ';'; }

// The name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view trimmed = TrimProfileBlanks(line);
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  std::string_view name = trimmed.substr(1);
  const auto close = name.find(']');
  if (close != std::string_view::npos) name = name.substr(0, close);
  return TrimProfileBlanks(name);
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view trimmed = TrimProfileBlanks(line);
  if (trimmed.empty() || IsComment(trimmed) || trimmed.front() == '[') return std::nullopt;
  const auto equals = trimmed.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return KeyLine{TrimProfileBlanks(trimmed.substr(0, equals)),
                 TrimProfileBlanks(trimmed.substr(equals + 1))};
}

// The name of a line that is neither a key, a section nor a comment, or nothing.
std::optional<std::string_view> BareName(std::string_view line) {
  const std::string_view trimmed = TrimProfileBlanks(line);
  if (trimmed.empty() || IsComment(trimmed) || trimmed.front() == '[' ||
      trimmed.find('=') != std::string_view::npos) {
    return std::nullopt;
  }
  return trimmed;
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Splits at LF, CR LF and lone CRs. A run of CRs before an LF is one line end, so a file
// whose line ends were converted twice (CR CR LF) keeps its lines and gains no blank ones.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      start = ++i;
    } else if (text[i] == '\r') {
      std::size_t next = i;
      while (next < text.size() && text[next] == '\r') ++next;
      const bool beforeLf = next < text.size() && text[next] == '\n';
      lines.emplace_back(text.substr(start, i - start));
      i = beforeLf ? next + 1 : i + 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::u16string DecodeUtf16Le(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

std::string EncodeUtf16Le(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view bytes) {
  IniDocument document;
  if (bytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark) {
    document.encoding_ = Encoding::kUtf16LeWithMark;
    document.lines_ = SplitLines(Utf16ToUtf8(DecodeUtf16Le(bytes.substr(kUtf16LeMark.size()))));
  } else if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    document.encoding_ = Encoding::kUtf8WithMark;
    document.lines_ = SplitLines(bytes.substr(kUtf8Mark.size()));
  } else {
    document.lines_ = SplitLines(bytes);
  }
  return document;
}

std::string IniDocument::ToLineText(std::string_view narrow) const {
  if (encoding_ == Encoding::kAnsi) return std::string(narrow);
  return Utf16ToUtf8(platform::AnsiToWide(narrow));
}

std::string IniDocument::NameText(std::string_view narrow) const {
  return ToLineText(TrimProfileBlanks(narrow));
}

std::string IniDocument::FromLineText(std::string_view text) const {
  if (encoding_ == Encoding::kAnsi) return std::string(text);
  return platform::WideToAnsi(Utf8ToUtf16(text));
}

std::optional<IniDocument::SectionRange> IniDocument::FindSection(std::string_view section,
                                                                  std::size_t from) const {
  for (std::size_t i = from; i < lines_.size(); ++i) {
    const auto name = SectionName(lines_[i]);
    if (!name || !SameText(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && !SectionName(lines_[end])) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> IniDocument::FindKeyLine(const SectionRange& range,
                                                    std::string_view key) const {
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    const auto parsed = ParseKeyLine(lines_[i]);
    if (parsed && SameText(parsed->key, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
  const auto range = FindSection(NameText(section));
  if (!range) return std::nullopt;
  const auto index = FindKeyLine(*range, NameText(key));
  if (!index) return std::nullopt;
  std::string value = FromLineText(StripQuotes(ParseKeyLine(lines_[*index])->value));
  value.resize(std::min(value.size(), kMaxValueLength));
  return value;
}

bool IniDocument::HasSection(std::string_view section) const {
  return FindSection(NameText(section)).has_value();
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string sectionText = NameText(section);
  const std::string keyText = NameText(key);
  const std::string valueText = ToLineText(value.substr(0, value.find_first_of("\r\n")));
  const auto range = FindSection(sectionText);
  if (!range) {
    lines_.push_back("[" + sectionText + "]");
    lines_.push_back(keyText + "=" + valueText);
    return;
  }
  if (const auto index = FindKeyLine(*range, keyText)) {
    const std::string existingKey(ParseKeyLine(lines_[*index])->key);
    lines_[*index] = existingKey + "=" + valueText;
    return;
  }
  // A name left without '=' is no key, but writing that name fills it in where it stands,
  // as the Windows functions do.
  for (std::size_t i = range->header + 1; i < range->end; ++i) {
    const auto bare = BareName(lines_[i]);
    if (bare && SameText(*bare, keyText)) {
      lines_[i] = std::string(*bare) + "=" + valueText;
      return;
    }
  }
  // After the section's last non-blank line, so that blank lines that separate it from
  // the next section stay where they are.
  std::size_t insertAt = range->end;
  while (insertAt > range->header + 1 && TrimProfileBlanks(lines_[insertAt - 1]).empty()) {
    --insertAt;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), keyText + "=" + valueText);
}

bool IniDocument::EraseSection(std::string_view section) {
  const std::string sectionText = NameText(section);
  bool erased = false;
  while (const auto range = FindSection(sectionText)) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(range->end));
    erased = true;
  }
  return erased;
}

std::string IniDocument::Serialize() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  switch (encoding_) {
    case Encoding::kUtf16LeWithMark:
      return std::string(kUtf16LeMark) + EncodeUtf16Le(Utf8ToUtf16(text));
    case Encoding::kUtf8WithMark:
      return std::string(kUtf8Mark) + text;
    case Encoding::kAnsi:
      break;
  }
  return text;
}

}  // namespace zirvo::config
