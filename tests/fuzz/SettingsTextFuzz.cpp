// Settings files are edited by hand and copied between machines: any text must parse,
// and a value the service writes back must read back as the reading rules say, in the
// document and in the file text it becomes.
#include "config/IniDocument.h"
#include "fuzz/FuzzCheck.h"

using zirvo::config::IniDocument;
using zirvo::fuzz::Require;

namespace {

bool IsProfileBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }

// What a read gives for a value that was written: cut at the first line break, blanks
// and the controls the Windows functions trim dropped around it, a pair of enclosing
// quotes dropped, at most kMaxValueLength.
std::string ReadBack(std::string_view written) {
  std::string_view value = written.substr(0, written.find_first_of("\r\n"));
  while (!value.empty() && IsProfileBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsProfileBlank(value.back())) value.remove_suffix(1);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, IniDocument::kMaxValueLength));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zirvo::fuzz::Pieces pieces(data, size);
  const std::string_view text = pieces.Next();
  const std::string_view value = pieces.Next();

  IniDocument document = IniDocument::Parse(text);
  const std::string once = document.Serialize();
  Require(IniDocument::Parse(once).Serialize() == once, "le texte relu se réécrit à l'identique");

  // A file with a Unicode mark holds its values converted: only narrow documents keep
  // every byte string as written.
  if (text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE")) return 0;
  const auto before = document.Find("Main", "Interval");
  document.Set("DBKERNEL", "SAPW", value);
  const std::string expected = ReadBack(value);
  Require(document.Find("DBKERNEL", "SAPW") == expected, "la valeur écrite se relit");
  const IniDocument reread = IniDocument::Parse(document.Serialize());
  Require(reread.Find("DBKERNEL", "SAPW") == expected, "la valeur écrite se relit du fichier");
  Require(reread.Find("Main", "Interval") == before, "écrire une clé n'en change pas une autre");
  return 0;
}
