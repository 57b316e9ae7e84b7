// The program's command-line options as an operator meets them: which ones it knows, and
// the short French text that says what each does.
#pragma once

#include <string>
#include <vector>

namespace zirvo::service {

// The exit code of a command line the program does not understand.
inline constexpr int kUsageExitCode = 2;

// The first argument that looks like an option ("-" or "/" then a word) and is none of
// the program's, or empty when there is none. Plain words are left to the service
// manager's start arguments, as before.
std::string UnknownOption(const std::vector<std::string>& arguments);

// The usage text, one line per element, the release number in the first.
std::vector<std::string> UsageText();

// What the program says on a terminal when it was started there without an option: it is
// a service, and how to run it by hand.
std::string NotStartedByManagerHint();

}  // namespace zirvo::service
