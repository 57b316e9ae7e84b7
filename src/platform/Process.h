// Facts about the running process.
#pragma once

#include <string>

namespace zirvo::platform {

// Full path of the running executable (UTF-8, see CodePage.h).
std::string ExecutablePath();

// Narrows where libraries loaded by name are looked for to the program's folder and the
// system's own folder, for the whole process. Called first thing in main.
void RestrictLibrarySearch();

}  // namespace zirvo::platform
