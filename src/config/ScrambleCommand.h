// The operator's "-scramble" switch: one line of standard input in, its scrambled text
// out, so that a secret never appears on a command line or in a shell history.
#pragma once

#include <iosfwd>

namespace zirvo::config {

// Reads one line as the operator typed it (platform::ReadInputLine: the console's wide
// input on Windows), scrambles its Windows-1252 bytes (the bytes the desktop
// application scrambles) and prints the scrambled text on standard output. Returns the
// process exit code: 0, or 1 with a French message on standard error and nothing on
// standard output when no line could be read or the line holds a character that
// Windows-1252 cannot hold (scrambling a '?' in its place would store another secret
// than the one typed).
int RunScrambleCommand();

// The same over streams of narrow text of this system (a line ends with LF or CR LF).
int RunScrambleCommand(std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace zirvo::config
