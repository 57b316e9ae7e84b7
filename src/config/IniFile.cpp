#include "config/IniFile.h"

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/SystemError.h"

namespace zirvo::config {

std::string IniFile::LoadBytes() const {
  std::string bytes;
  bool missing = false;
  const int error = platform::ReadFileContents(fileName_, bytes, missing);
  if (error != 0 && !missing) {
    throw EInOutError("Impossible de lire le fichier de paramètres " +
                          platform::PathToText(fileName_) + " : " +
                          platform::SystemErrorText(static_cast<std::uint32_t>(error)),
                      error);
  }
  return bytes;
}

void IniFile::Store(const IniDocument& document, const std::string& before) {
  const std::string after = document.Serialize();
  if (after == before) return;
  const auto mode =
      deferFlush_ ? platform::FlushMode::kLeaveToSystem : platform::FlushMode::kToDisk;
  if (platform::ReplaceFileContents(fileName_, after, mode) != 0) {
    throw Exception("Unable to write to " + platform::PathToText(fileName_));
  }
  if (deferFlush_) flushPending_ = true;
}

void IniFile::Flush() {
  if (!flushPending_) return;
  flushPending_ = false;
  if (platform::FlushFileToDisk(fileName_) != 0) {
    throw Exception("Unable to write to " + platform::PathToText(fileName_));
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

bool IniFile::SectionExists(std::string_view section) const { return Load().HasSection(section); }

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string before = LoadBytes();
  IniDocument document = IniDocument::Parse(before);
  document.Set(section, key, value);
  Store(document, before);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(std::string_view section) {
  const std::string before = LoadBytes();
  IniDocument document = IniDocument::Parse(before);
  if (document.EraseSection(section)) Store(document, before);
}

}  // namespace zirvo::config
