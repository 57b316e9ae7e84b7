#include "platform/SystemError.h"

#include <locale.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/RegionalLocale.h"

namespace zirvo::platform {

namespace {

// The service manager's own codes, which the Linux stand-in for it raises (see
// ServiceManager.h). They lie far above every errno value.
const char* ServiceManagerErrorText(std::uint32_t code) {
  switch (code) {
    case 1057:
      return "Le nom de compte n'est pas valide ou n'existe pas, ou le mot de passe n'est pas "
             "valide pour le nom de compte spécifié";
    case 1060:
      return "Le service spécifié n'existe pas en tant que service installé";
    case 1063:
      return "Le processus de service n'a pas pu se connecter au contrôleur de service";
    case 1073:
      return "Le service spécifié existe déjà";
    default:
      return nullptr;
  }
}

// The locale of the system's texts, made once: the environment's, or under the C
// conventions French where a French locale is installed (the texts in the locale's
// character set, UTF-8 like all narrow text on Linux), else C (English).
locale_t MessagesLocale() {
  static const locale_t locale = [] {
    constexpr int kMask = LC_MESSAGES_MASK | LC_CTYPE_MASK;
    if (const locale_t made = posix::EnvironmentLocale(kMask, "LC_MESSAGES")) return made;
    for (const char* french : {"fr_FR.UTF-8", "fr_FR.utf8"}) {
      if (const locale_t made = newlocale(kMask, french, static_cast<locale_t>(0))) return made;
    }
    return newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

}  // namespace

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }

std::string SystemErrorText(std::uint32_t code) {
  if (const char* text = ServiceManagerErrorText(code)) return text;
  std::string text = ::strerror_l(static_cast<int>(code), MessagesLocale());
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace zirvo::platform
