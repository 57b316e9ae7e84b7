// The operator's "-scramble" switch: one line of standard input in, its scrambled text
// out, so that a secret never appears on a command line or in a shell history.
#pragma once

#include <iosfwd>

namespace zirvo::config {

// Reads one line (its CR LF or LF end removed), writes the scrambled text and a line end.
// Returns the process exit code: 0, or 1 when no line could be read.
int RunScrambleCommand(std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace zirvo::config
