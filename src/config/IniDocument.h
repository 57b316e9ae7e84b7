// The text of an INI file with the rules of the Windows private-profile functions, kept
// line by line so that a change leaves comments, order and spelling of everything else as
// they were. Pure bytes in, bytes out: IniFile puts them on disk, and the same two calls
// (Parse, Serialize) are all a comparison with the Windows functions needs.
//
// Rules: a line ends at LF, CR LF or a lone CR (CRs right before an LF belong to that line
// end); section and key names match without regard to ASCII case and without their
// surrounding blanks; the first matching section and key win; lines whose first non-blank
// character is ';' are comments; a line without '=' is not a key (writing its name fills
// it in); a value is the text
// after the first '=', without its surrounding blanks (space and the controls 0x09 to
// 0x0D and 0x1A, as the Windows functions trim) and, when it is enclosed in a pair of the
// same quotes (' or "), without them. Lines before the first section belong to no section.
//
// Encodings: a file that starts with the UTF-16 LE byte-order mark is UTF-16, one that
// starts with the UTF-8 mark is UTF-8; any other file is narrow text taken as it is (the
// ANSI code page). A document keeps its encoding and mark when serialised. Names and
// values cross the interface as narrow text (the ANSI code page on Windows, UTF-8 on
// Linux) and are converted where they meet the lines of a Unicode file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zirvo::config {

class IniDocument {
 public:
  enum class Encoding { kAnsi, kUtf8WithMark, kUtf16LeWithMark };

  // The longest value a read returns; longer values are cut, as the Windows functions
  // do with their 2048-byte buffer.
  static constexpr std::size_t kMaxValueLength = 2047;

  IniDocument() = default;
  // The content of a file, mark included. Never fails: odd bytes are taken as text (a
  // UTF-16 file's odd final byte is dropped, malformed UTF-16 or UTF-8 becomes U+FFFD).
  static IniDocument Parse(std::string_view bytes);

  Encoding GetEncoding() const { return encoding_; }

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

  // The whole file, every line ended by CR LF, in the document's encoding with its mark.
  std::string Serialize() const;

 private:
  struct SectionRange {
    std::size_t header;  // index of the "[name]" line
    std::size_t end;     // one past its last line
  };
  std::optional<SectionRange> FindSection(std::string_view section, std::size_t from = 0) const;
  std::optional<std::size_t> FindKeyLine(const SectionRange& range, std::string_view key) const;
  // Between the caller's narrow text and the text of the lines.
  std::string ToLineText(std::string_view narrow) const;
  std::string FromLineText(std::string_view text) const;
  // A section or key name given by a caller, without the blanks the file's names lose.
  std::string NameText(std::string_view narrow) const;

  Encoding encoding_ = Encoding::kAnsi;
  // The lines without their ends: the file's own bytes for a narrow file, UTF-8 for a
  // Unicode one.
  std::vector<std::string> lines_;
};

}  // namespace zirvo::config
