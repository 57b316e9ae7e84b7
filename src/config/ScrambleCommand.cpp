#include "config/ScrambleCommand.h"

#include <istream>
#include <ostream>
#include <string>

#include "config/Common.h"

namespace zirvo::config {

int RunScrambleCommand(std::istream& in, std::ostream& out, std::ostream& err) {
  std::string line;
  if (!std::getline(in, line)) {
    err << "Aucune ligne lue sur l'entrée standard : rien à brouiller.\n";
    return 1;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  out << ScramblePassword(line) << '\n';
  return 0;
}

}  // namespace zirvo::config
