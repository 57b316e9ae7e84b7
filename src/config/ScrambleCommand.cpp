#include "config/ScrambleCommand.h"

#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "base/Unicode.h"
#include "config/Common.h"
#include "platform/CodePage.h"
#include "platform/ConsoleInput.h"
#include "platform/MessageBox.h"

namespace zirvo::config {

namespace {

struct ScrambleOutcome {
  int exitCode = 0;
  // The scrambled text, or the message for standard error.
  std::string text;
};

ScrambleOutcome Scramble(const std::optional<std::u16string>& line) {
  if (!line) return {1, "Aucune ligne lue sur l'entrée standard : rien à brouiller."};
  char32_t refused = 0;
  const auto bytes = EncodeCp1252(DecodeUtf8(Utf16ToUtf8(*line)), refused);
  if (!bytes) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(refused));
    return {1, std::string("Le texte contient un caractère (") + code +
                   ") que le jeu de caractères Windows-1252 ne peut pas représenter : rien "
                   "n'a été brouillé. Les mots de passe brouillés ne peuvent contenir que des "
                   "caractères de ce jeu."};
  }
  return {0, ScrambleBytes(*bytes)};
}

}  // namespace

int RunScrambleCommand() {
  const ScrambleOutcome outcome = Scramble(platform::ReadInputLine());
  if (outcome.exitCode == 0) {
    platform::PrintConsoleLine(outcome.text);
  } else {
    platform::PrintConsoleErrorLine(outcome.text);
  }
  return outcome.exitCode;
}

int RunScrambleCommand(std::istream& in, std::ostream& out, std::ostream& err) {
  std::optional<std::u16string> line;
  std::string text;
  if (std::getline(in, text) || !text.empty()) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    line = platform::AnsiToWide(text);
  }
  const ScrambleOutcome outcome = Scramble(line);
  (outcome.exitCode == 0 ? out : err) << outcome.text << '\n';
  return outcome.exitCode;
}

}  // namespace zirvo::config
