// The text of an INI file with the rules of the Windows private-profile functions, kept
// line by line so that a change leaves comments, order and spelling of everything else as
// they were. Pure text in, text out: IniFile puts it on disk.
//
// Rules: section and key names match without regard to ASCII case and without their
// surrounding blanks; the first matching section and key win; lines whose first non-blank
// character is ';' are comments; a value is the text after the first '=', without its
// surrounding blanks and, when it is enclosed in a pair of the same quotes (' or "),
// without them. Lines before the first section belong to no section.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zirvo::config {

class IniDocument {
 public:
  // The longest value a read returns; longer values are cut, as the Windows functions
  // do with their 2048-byte buffer.
  static constexpr std::size_t kMaxValueLength = 2047;

  IniDocument() = default;
  // Accepts CR LF, LF and a missing final line end.
  static IniDocument Parse(std::string_view text);

  // The value of a key, or nothing when the section or the key is absent. A key that is
  // present with an empty value gives the empty text.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;

  // Sets a key, creating the section (at the end) and the key (after the last line of its
  // section) as needed; an existing key keeps its spelling. A line break in the value
  // would forge further keys, so the value is cut at the first CR or LF.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes every section of that name with all its lines. Returns whether one was found.
  bool EraseSection(std::string_view section);

  // The whole text, every line ended by CR LF.
  std::string Serialize() const;

 private:
  struct SectionRange {
    std::size_t header;  // index of the "[name]" line
    std::size_t end;     // one past its last line
  };
  std::optional<SectionRange> FindSection(std::string_view section, std::size_t from = 0) const;
  std::optional<std::size_t> FindKeyLine(const SectionRange& range, std::string_view key) const;

  std::vector<std::string> lines_;
};

}  // namespace zirvo::config
