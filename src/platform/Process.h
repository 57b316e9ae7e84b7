// Facts about the running process.
#pragma once

#include <functional>
#include <string>

namespace zirvo::platform {

// Full path of the running executable (UTF-8, see CodePage.h).
std::string ExecutablePath();

// True when standard error is an operator's terminal (a console on Windows), not a file,
// a pipe or the system log.
bool StandardErrorIsTerminal();

// For a program in the foreground: when the operator interrupts it (Linux: SIGINT,
// SIGTERM, SIGHUP; Windows: Ctrl-C, Ctrl-Break, the console closed), runs cleanUp on a
// thread of its own, once, and ends the process with a non-zero exit code without
// returning to the interrupted work. Call once, on the main thread, before any other
// thread starts (Linux blocks those signals in the caller, which later threads inherit).
// Output written to a closed pipe then fails instead of ending the process.
void OnOperatorInterrupt(std::function<void()> cleanUp);

// Narrows where libraries loaded by name are looked for to the program's folder and the
// system's own folder, for the whole process. Called first thing in main.
void RestrictLibrarySearch();

}  // namespace zirvo::platform
