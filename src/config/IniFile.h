// A settings file on disk with the behaviour of the Windows private-profile functions:
// every read looks at the file as it is now (a missing file reads as empty), every write
// reaches the file at once and replaces it atomically. A new file is readable by its
// owner only, since settings files hold scrambled secrets.
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

  // Reads and writes raise EInOutError ("Impossible de lire le fichier de paramètres …")
  // when the file exists but cannot be read: reading it as empty would give defaults in
  // place of the operator's values, and a write would then replace the whole file.

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

  // A write that would leave the file byte for byte as it is does nothing. The others
  // raise Exception "Unable to write to " + file name when the file cannot be replaced
  // (read-only, missing directory, full disk); the file is then unchanged. A file that
  // cannot be read is never written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  // Written as "1" or "0".
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void EraseSection(std::string_view section);

  // From now on each write still replaces the file atomically (a crash of the process at
  // any point leaves the old or the new content) but without its own flush to the disk:
  // Flush brings the last of them to the disk at once. For a series of writes that only
  // the last needs to survive a power cut.
  void DeferFlush() { deferFlush_ = true; }
  // Flushes the last deferred write, if any; raises "Unable to write to " on failure.
  void Flush();

 private:
  // The file's bytes; empty for a missing file.
  std::string LoadBytes() const;
  IniDocument Load() const { return IniDocument::Parse(LoadBytes()); }
  void Store(const IniDocument& document, const std::string& before);

  std::string fileName_;
  bool deferFlush_ = false;
  bool flushPending_ = false;
};

}  // namespace zirvo::config
