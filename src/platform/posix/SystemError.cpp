#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

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

}  // namespace

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }

std::string SystemErrorText(std::uint32_t code) {
  if (const char* text = ServiceManagerErrorText(code)) return text;
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be the buffer.
  std::string text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace zirvo::platform
