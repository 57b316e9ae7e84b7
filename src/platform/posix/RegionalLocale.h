// The regional conventions of the Linux process. systemd gives a unit no locale, so a
// daemon sees the C conventions: month-first two-digit-year dates that a French operator
// reads as another day, and English system texts. Where the environment names C or
// POSIX (or nothing), the service therefore uses French conventions instead.
#pragma once

#include <locale.h>

#include <cstdlib>
#include <string>

namespace zirvo::platform::posix {

// The locale name the environment gives a category, by the POSIX order: LC_ALL, then the
// category's own variable (e.g. "LC_TIME"), then LANG; empty values count as unset.
// "" when none is set.
inline std::string EnvironmentLocaleName(const char* categoryVariable) {
  for (const char* variable : {"LC_ALL", categoryVariable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return std::string();
}

// True for the C conventions under any of their names: none, "C", "POSIX", "C.<codeset>".
inline bool IsCLocaleName(const std::string& name) {
  return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// The environment's locale for the categories of `mask`, or 0 when the environment
// names the C conventions or a locale that is not installed.
inline locale_t EnvironmentLocale(int mask, const char* categoryVariable) {
  const std::string name = EnvironmentLocaleName(categoryVariable);
  if (IsCLocaleName(name)) return static_cast<locale_t>(0);
  return newlocale(mask, name.c_str(), static_cast<locale_t>(0));
}

}  // namespace zirvo::platform::posix
