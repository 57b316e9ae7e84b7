// A settings file on disk with the behaviour of the Windows private-profile functions:
// every read looks at the file as it is now (a missing or unreadable file reads as empty),
// every write reaches the file at once and replaces it atomically. A new file is readable
// by its owner only, since settings files hold scrambled secrets.
//
// One object may be used by one thread at a time; the file itself is never left
// half-written, whoever reads it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/IniDocument.h"

namespace zirvo::config {

class IniFile {
 public:
  explicit IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string& FileName() const { return fileName_; }

  // The value, or the default when the section or key is absent; a key present with an
  // empty value gives the empty text.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  // Decimal with an optional sign, "$" or "0x" hexadecimal; any other text (the empty
  // one included) gives the default.
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t fallback) const;
  // An integer as above, non-zero meaning true.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  bool SectionExists(std::string_view section) const;

  // The writes raise Exception "Unable to write to " + file name when the file cannot be
  // replaced (read-only, missing directory, full disk); the file is then unchanged.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  // Written as "1" or "0".
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void EraseSection(std::string_view section);

 private:
  IniDocument Load() const;
  void Store(const IniDocument& document);

  std::string fileName_;
};

}  // namespace zirvo::config
