// Scrambled secrets are typed or pasted by operators and downloaded from the access-code
// endpoint: every text either unscrambles to bytes that scramble back to it or gives the
// invalid mark, and every byte string survives a scramble and unscramble, also through
// the text forms of this system.
#include "config/Common.h"
#include "fuzz/FuzzCheck.h"

using zirvo::fuzz::Require;
namespace config = zirvo::config;

namespace {

// A scrambled text as ScrambleBytes writes it: the signs between the digits and the
// letters, which read as 0, written as 0.
std::string Canonical(std::string_view scrambled) {
  std::string result(scrambled);
  for (char& c : result) {
    if (c >= ':' && c <= '@') c = '0';
  }
  return result;
}

bool IsScrambledForm(std::string_view text) {
  if (text.size() % 2 != 0) return false;
  for (char c : text) {
    if (c < '0' || c > 'F') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string plain = config::UnscrambleBytes(text);
  if (IsScrambledForm(text)) {
    Require(plain.size() * 2 == text.size(), "un octet par paire de chiffres");
    Require(config::ScrambleBytes(plain) == Canonical(text), "brouillage relu à l'identique");
    Require(config::ScramblePassword(config::UnscramblePassword(text)) == Canonical(text),
            "brouillage relu à l'identique en texte du système");
  } else {
    Require(plain == config::kInvalidScrambledText, "texte invalide rendu par « _ »");
  }
  Require(config::UnscrambleBytes(config::ScrambleBytes(text)) == text, "octets retrouvés");
  return 0;
}
