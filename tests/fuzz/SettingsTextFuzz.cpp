// Settings files are edited by hand and copied between machines: any text must parse,
// and a value the service writes back must read back as the reading rules say, in the
// document and in the file text it becomes.
#include "base/StringUtils.h"
#include "config/IniDocument.h"
#include "fuzz/FuzzCheck.h"

using zirvo::config::IniDocument;
using zirvo::fuzz::Require;

namespace {

// What a read gives for a value that was written: cut at the first line break, blanks
// around it dropped, a pair of enclosing quotes dropped, at most kMaxValueLength.
std::string ReadBack(std::string_view written) {
  std::string_view value = zirvo::TrimBlanks(written.substr(0, written.find_first_of("\r\n")));
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

  const auto before = document.Find("Main", "Interval");
  document.Set("DBKERNEL", "SAPW", value);
  const std::string expected = ReadBack(value);
  Require(document.Find("DBKERNEL", "SAPW") == expected, "la valeur écrite se relit");
  const IniDocument reread = IniDocument::Parse(document.Serialize());
  Require(reread.Find("DBKERNEL", "SAPW") == expected, "la valeur écrite se relit du fichier");
  Require(reread.Find("Main", "Interval") == before, "écrire une clé n'en change pas une autre");
  return 0;
}
