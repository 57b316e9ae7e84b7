#include "config/IniDocument.h"

#include "base/StringUtils.h"

namespace zirvo::config {

namespace {

bool IsComment(std::string_view trimmed) { return !trimmed.empty() && trimmed.front() == ';'; }

// The name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view trimmed = TrimBlanks(line);
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  std::string_view name = trimmed.substr(1);
  const auto close = name.find(']');
  if (close != std::string_view::npos) name = name.substr(0, close);
  return TrimBlanks(name);
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view trimmed = TrimBlanks(line);
  if (trimmed.empty() || IsComment(trimmed) || trimmed.front() == '[') return std::nullopt;
  const auto equals = trimmed.find('=');
  if (equals == std::string_view::npos) return KeyLine{trimmed, std::string_view()};
  return KeyLine{TrimBlanks(trimmed.substr(0, equals)), TrimBlanks(trimmed.substr(equals + 1))};
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument document;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    document.lines_.emplace_back(line);
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  return document;
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

std::optional<std::string> IniDocument::Find(std::string_view section,
                                             std::string_view key) const {
  const auto range = FindSection(section);
  if (!range) return std::nullopt;
  const auto index = FindKeyLine(*range, key);
  if (!index) return std::nullopt;
  const std::string_view value = StripQuotes(ParseKeyLine(lines_[*index])->value);
  return std::string(value.substr(0, kMaxValueLength));
}

bool IniDocument::HasSection(std::string_view section) const {
  return FindSection(section).has_value();
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  value = value.substr(0, value.find_first_of("\r\n"));
  const auto range = FindSection(section);
  if (!range) {
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::string(key) + "=" + std::string(value));
    return;
  }
  if (const auto index = FindKeyLine(*range, key)) {
    const std::string existingKey(ParseKeyLine(lines_[*index])->key);
    lines_[*index] = existingKey + "=" + std::string(value);
    return;
  }
  // After the section's last non-blank line, so that blank lines that separate it from
  // the next section stay where they are.
  std::size_t insertAt = range->end;
  while (insertAt > range->header + 1 && TrimBlanks(lines_[insertAt - 1]).empty()) --insertAt;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt),
                std::string(key) + "=" + std::string(value));
}

bool IniDocument::EraseSection(std::string_view section) {
  bool erased = false;
  while (const auto range = FindSection(section)) {
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
  return text;
}

}  // namespace zirvo::config
