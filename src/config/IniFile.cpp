#include "config/IniFile.h"

#include <fstream>
#include <sstream>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/Files.h"

namespace zirvo::config {

IniDocument IniFile::Load() const {
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) return IniDocument();
  std::ostringstream content;
  content << in.rdbuf();
  return IniDocument::Parse(content.str());
}

void IniFile::Store(const IniDocument& document) {
  if (platform::ReplaceFileContents(fileName_, document.Serialize()) != 0) {
    throw Exception("Unable to write to " + fileName_);
  }
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  auto value = Load().Find(section, key);
  return value ? std::move(*value) : std::string(fallback.substr(0, IniDocument::kMaxValueLength));
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t fallback) const {
  const auto value = Load().Find(section, key);
  return value ? StrToIntDef(*value, fallback) : fallback;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const {
  return Load().HasSection(section);
}

void IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) {
  IniDocument document = Load();
  document.Set(section, key, value);
  Store(document);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(std::string_view section) {
  IniDocument document = Load();
  if (document.EraseSection(section)) Store(document);
}

}  // namespace zirvo::config
